// Reading a response file back: the status and body of one of its replies.
#ifndef TASKCLIENT_READERS_REPLY_READER_H
#define TASKCLIENT_READERS_REPLY_READER_H

#include "result.h"
#include "platform/platform.h"
#include "portable.h"
#include "readers/file_scan.h"

namespace taskclient {

struct ReplyRead {
  Result result;  // kOk when the file held a whole reply
  int status;     // then its final status, 100 to 599
};

// Reads the reply in the file at `responsePath` with the same framing rules
// as the exchange, skips interim replies, and writes the final reply's body
// (chunked framing removed) into the file at `bodyPath`, created or emptied.
// kBadArgument for a null path, a path with a lone surrogate, or a body path
// that names the response file itself (under any name: nothing is changed);
// kFileOpenFailed when the response file cannot be opened or the body file
// created, or either is not a regular file or character device; kFileWriteFailed when writing the body
// failed; kReplyCutShort when the file holds no whole reply (cut short, broken
// framing, or a status outside 100-599), the body file then holding the body
// bytes read so far. The same as ReadReplyAt with index 0.
ReplyRead ReadReply(Platform& platform, const tc_text16* responsePath, const tc_text16* bodyPath);

// As ReadReply, for the reply at `index` (from 0) of a response file holding
// replies back to back, each final reply with the interim (1xx) replies
// before it; the framing of each reply says where the next begins (empty
// lines between them are skipped). A reply that the close ends (no length,
// not chunked) runs to the end of the file, so no reply follows it.
// kBadArgument for a negative index too; kNoSuchReply when the file ends
// before the reply at `index` begins, or a reply before it is cut short or
// broken (the body file is then created or emptied, and stays empty).
ReplyRead ReadReplyAt(Platform& platform, const tc_text16* responsePath, int32_t index, const tc_text16* bodyPath);

}  // namespace taskclient

#endif
