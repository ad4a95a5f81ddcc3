// Reading a response file back: the final reply's status and body.
#ifndef TASKCLIENT_READERS_REPLY_READER_H
#define TASKCLIENT_READERS_REPLY_READER_H

#include "result.h"
#include "platform/platform.h"

namespace taskclient {

// Bytes read from the response file at a time.
const size_t kReadPieceCapacity = 4096;

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
// bytes read so far.
ReplyRead ReadReply(Platform& platform, const tc_text16* responsePath, const tc_text16* bodyPath);

// ReadReply for the reply at `index` (from 0) of a response file that holds
// replies back to back: kNoSuchReply when the file ends before it,
// kBadArgument for a negative index.
ReplyRead ReadReplyAt(Platform& platform, const tc_text16* responsePath, int32_t index, const tc_text16* bodyPath);

}  // namespace taskclient

#endif
