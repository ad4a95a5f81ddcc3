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

// Walks the replies of a response file, one scanner per reply, to the end of
// the reply at `wanted`, whose body alone goes to `body`.
class ReplyWalk : public PieceReader {
 public:
  ReplyWalk(int32_t wanted, BodySink* body)
      : wanted_(wanted), at_(0), body_(body), scanner_(wanted == 0 ? body : 0), begun_(false),
        verdict_(ReplyScanner::kNeedMore) {}

  virtual bool TakePiece(const char* bytes, size_t length) {
    for (;;) {
      size_t used = 0;
      verdict_ = scanner_.Feed(bytes, length, &used);
      // Empty lines before a status line belong to no reply; any other byte
      // begins one, broken or not.
      for (size_t i = 0; i < used && !begun_; ++i) begun_ = bytes[i] != '\r' && bytes[i] != '\n';
      if (verdict_ == ReplyScanner::kMalformed) begun_ = true;
      if (verdict_ == ReplyScanner::kNeedMore) return true;
      if (verdict_ == ReplyScanner::kMalformed || at_ == wanted_) return false;
      // The reply at `at_` is whole; the next one begins right after it.
      ++at_;
      bytes += used;
      length -= used;
      scanner_ = ReplyScanner(at_ == wanted_ ? body_ : 0);
      verdict_ = ReplyScanner::kNeedMore;
      begun_ = false;
      if (length == 0) return true;
    }
  }

  // Where the walk stands once the file has ended, or its reading failed.
  Result Outcome(FileScan scan) const {
    if (scan == kScanFailed) return kReplyCutShort;
    if (at_ < wanted_) return kNoSuchReply;
    if (verdict_ == ReplyScanner::kComplete) return kOk;
    if (scan == kScanEnded && scanner_.CloseEndsReply()) return kOk;
    return wanted_ > 0 && !begun_ ? kNoSuchReply : kReplyCutShort;
  }
  int status() const { return scanner_.status(); }

 private:
  int32_t wanted_;
  int32_t at_;  // the reply being scanned
  BodySink* body_;
  ReplyScanner scanner_;
  bool begun_;  // a byte of the reply at `at_` has been read, not only empty lines
  ReplyScanner::Verdict verdict_;
};

}  // namespace

ReplyRead ReadReply(Platform& platform, const tc_text16* responsePath, const tc_text16* bodyPath) {
  return ReadReplyAt(platform, responsePath, 0, bodyPath);
}

ReplyRead ReadReplyAt(Platform& platform, const tc_text16* responsePath, int32_t index, const tc_text16* bodyPath) {
  ReplyRead read = {kBadArgument, 0};
  if (index < 0 || CheckTextArgument(responsePath) != kOk || CheckTextArgument(bodyPath) != kOk) return read;
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
  ReplyWalk walk(index, &sink);
  read.result = walk.Outcome(ScanFile(platform, &reply, &walk));
  if (read.result == kOk && (walk.status() < 100 || walk.status() > 599)) read.result = kReplyCutShort;
  if (sink.failed()) read.result = kFileWriteFailed;
  platform.CloseFile(&reply);
  if (!platform.CloseFile(&body) && read.result == kOk) read.result = kFileWriteFailed;
  if (read.result == kOk) read.status = walk.status();
  return read;
}

}  // namespace taskclient
