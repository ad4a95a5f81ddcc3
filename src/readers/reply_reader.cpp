#include "readers/reply_reader.h"

#include "exchange/arguments.h"
#include "exchange/reply_scanner.h"

namespace taskclient {

namespace {

// Writes the body bytes the scanner reports into the body file; remembers a
// failed write.
class BodyFile : public BodySink {
 public:
  BodyFile(Platform& platform, File* file) : platform_(platform), file_(file), failed_(false) {}
  virtual void TakeBody(const char* bytes, size_t length) {
    if (!failed_ && length > 0 && !platform_.WriteToFile(file_, bytes, length)) failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  Platform& platform_;
  File* file_;
  bool failed_;
};

// Scans the response file to the end of its reply.
Result Scan(Platform& platform, File* reply, ReplyScanner* scanner) {
  char piece[kReadPieceCapacity];
  for (;;) {
    long got = platform.ReadFile(reply, piece, sizeof piece);
    if (got < 0) return kReplyCutShort;
    if (got == 0) return scanner->CloseEndsReply() ? kOk : kReplyCutShort;
    size_t scanned = 0;
    ReplyScanner::Verdict verdict = scanner->Feed(piece, static_cast<size_t>(got), &scanned);
    if (verdict == ReplyScanner::kComplete) return kOk;
    if (verdict == ReplyScanner::kMalformed) return kReplyCutShort;
  }
}

}  // namespace

ReplyRead ReadReply(Platform& platform, const tc_text16* responsePath, const tc_text16* bodyPath) {
  ReplyRead read = {kBadArgument, 0};
  if (CheckTextArgument(responsePath) != kOk || CheckTextArgument(bodyPath) != kOk) return read;
  read.result = kFileOpenFailed;
  File reply = {kNoFile};
  if (!platform.OpenFileForReading(responsePath, &reply)) return read;
  File body = {kNoFile};
  Platform::BodyFileOpening opening = platform.OpenBodyFile(bodyPath, &reply, &body);
  if (opening != Platform::kFileOpened) {
    platform.CloseFile(&reply);
    // Writing the body over the reply it is read from would destroy both.
    if (opening == Platform::kFileIsSource) read.result = kBadArgument;
    return read;
  }

  BodyFile sink(platform, &body);
  ReplyScanner scanner(&sink);
  read.result = Scan(platform, &reply, &scanner);
  if (read.result == kOk && (scanner.status() < 100 || scanner.status() > 599)) read.result = kReplyCutShort;
  if (sink.failed()) read.result = kFileWriteFailed;
  platform.CloseFile(&reply);
  if (!platform.CloseFile(&body) && read.result == kOk) read.result = kFileWriteFailed;
  if (read.result == kOk) read.status = scanner.status();
  return read;
}

namespace {

// The response file read piece by piece, a piece shared by the replies that
// follow one another in it.
struct Pieces {
  char bytes[kReadPieceCapacity];
  size_t at;
  size_t held;
};

// Scans one reply from where the last one ended. kOk when it is whole;
// kNoSuchReply when the file holds no byte of it but blank lines.
Result ScanNext(Platform& platform, File* reply, Pieces* pieces, ReplyScanner* scanner) {
  bool begun = false;
  for (;;) {
    if (pieces->at == pieces->held) {
      long got = platform.ReadFile(reply, pieces->bytes, sizeof pieces->bytes);
      if (got < 0) return kReplyCutShort;
      if (got == 0) {
        if (!begun) return kNoSuchReply;
        return scanner->CloseEndsReply() ? kOk : kReplyCutShort;
      }
      pieces->at = 0;
      pieces->held = static_cast<size_t>(got);
    }
    const char* start = pieces->bytes + pieces->at;
    const size_t length = pieces->held - pieces->at;
    for (size_t i = 0; i < length && !begun; ++i) begun = start[i] != '\r' && start[i] != '\n';
    size_t scanned = 0;
    ReplyScanner::Verdict verdict = scanner->Feed(start, length, &scanned);
    if (verdict == ReplyScanner::kComplete) {
      pieces->at += scanned;
      return kOk;
    }
    pieces->at = pieces->held;
    if (verdict == ReplyScanner::kMalformed) return kReplyCutShort;
  }
}

}  // namespace

ReplyRead ReadReplyAt(Platform& platform, const tc_text16* responsePath, int32_t index, const tc_text16* bodyPath) {
  ReplyRead read = {kBadArgument, 0};
  if (index < 0) return read;
  if (index == 0) return ReadReply(platform, responsePath, bodyPath);
  if (CheckTextArgument(responsePath) != kOk || CheckTextArgument(bodyPath) != kOk) return read;
  read.result = kFileOpenFailed;
  File reply = {kNoFile};
  if (!platform.OpenFileForReading(responsePath, &reply)) return read;
  File body = {kNoFile};
  Platform::BodyFileOpening opening = platform.OpenBodyFile(bodyPath, &reply, &body);
  if (opening != Platform::kFileOpened) {
    platform.CloseFile(&reply);
    if (opening == Platform::kFileIsSource) read.result = kBadArgument;
    return read;
  }
  Pieces pieces;
  pieces.at = 0;
  pieces.held = 0;
  read.result = kOk;
  for (int32_t skipped = 0; skipped < index && read.result == kOk; ++skipped) {
    ReplyScanner skip;
    read.result = ScanNext(platform, &reply, &pieces, &skip);
  }
  BodyFile sink(platform, &body);
  ReplyScanner scanner(&sink);
  if (read.result == kOk) read.result = ScanNext(platform, &reply, &pieces, &scanner);
  if (read.result == kOk && (scanner.status() < 100 || scanner.status() > 599)) read.result = kReplyCutShort;
  if (sink.failed()) read.result = kFileWriteFailed;
  platform.CloseFile(&reply);
  if (!platform.CloseFile(&body) && read.result == kOk) read.result = kFileWriteFailed;
  if (read.result == kOk) read.status = scanner.status();
  return read;
}

}  // namespace taskclient
