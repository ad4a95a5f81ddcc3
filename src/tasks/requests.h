// Many requests to the task paths in one exchange, from a requests file.
//
// The file is UTF-8 text, one request per line (LF or CRLF; an empty last
// line is ignored), at most kMaxRequests lines, each "METHOD TARGET" or
// "METHOD TARGET BODY" with single spaces: METHOD and TARGET by the rules of
// SendApiRequest (the target as the bytes of the line), BODY JSON text to the
// end of the line, at most kJsonBodyLimit bytes, for POST, PUT and PATCH only.
#ifndef TASKCLIENT_TASKS_REQUESTS_H
#define TASKCLIENT_TASKS_REQUESTS_H

#include <stddef.h>

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"
#include "tasks/tasks.h"
#include "text/text.h"

namespace taskclient {

const size_t kMaxRequests = 1000;

// Reads the lines of a requests file a byte at a time: the method of each
// line, and its target and body into the texts it was given.
class RequestLineReader {
 public:
  // `target` holds kTargetCapacity bytes, `body` kJsonBodyLimit + 1.
  RequestLineReader(Text* target, Text* body);

  // Takes the file's next byte. kOk, `*lineRead` saying whether a whole line
  // ended with it; kBadArgument for a line that breaks a rule, kTooLong for a
  // target or a body too long.
  Result Take(char byte, bool* lineRead);
  // The end of the file: as Take, for a last line without a line end.
  Result End(bool* lineRead);
  // Starts again at the beginning of a file.
  void Reset();

  // The line last read.
  const ApiMethod* method() const { return method_; }

 private:
  enum Field { kMethod, kTarget, kBodyStart, kBody, kLineEnded };
  void StartLine();
  Result EndLine(bool* lineRead);

  Text* target_;
  Text* body_;
  Field field_;
  bool empty_;      // nothing taken of this line yet
  bool carriage_;   // the byte before was a CR: only LF may follow
  char name_[8];
  size_t nameLength_;
  const ApiMethod* method_;
};

// Sends the requests of the file at `requestsPath` in order with the bearer
// token, over one connection where the server allows it, and writes every
// reply to the file at `responsePath` as RunSequence does. The whole file is
// checked before anything is sent: kBadArgument for a line that breaks a rule
// (a null argument, a file of no request), kTooLong for a target, a body or a
// count of lines too long, kFileOpenFailed for a requests file that cannot be
// opened, each with nothing sent and the response file untouched. The
// requests are read from the file again as they are sent; a line that no
// longer passes then ends the call with kBadArgument.
Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath);

}  // namespace taskclient

#endif
