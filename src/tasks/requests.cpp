#include "tasks/requests.h"

#include "exchange/arguments.h"
#include "exchange/request.h"
#include "exchange/sequence.h"

namespace taskclient {

RequestLineReader::RequestLineReader(Text* target, Text* body) : target_(target), body_(body) { Reset(); }

void RequestLineReader::Reset() {
  StartLine();
  method_ = 0;
}

void RequestLineReader::StartLine() {
  target_->Clear();
  body_->Clear();
  field_ = kMethod;
  empty_ = true;
  carriage_ = false;
  nameLength_ = 0;
}

Result RequestLineReader::EndLine(bool* lineRead) {
  // An empty line, a method alone, a space with no body after it.
  if (empty_ || field_ == kMethod || field_ == kBodyStart) return kBadArgument;
  if (field_ == kTarget) {
    Result result = CheckTarget(*target_);
    if (result != kOk) return result;
  }
  field_ = kLineEnded;
  carriage_ = false;
  *lineRead = true;
  return kOk;
}

Result RequestLineReader::Take(char byte, bool* lineRead) {
  *lineRead = false;
  if (field_ == kLineEnded) StartLine();
  if (byte == '\n') return EndLine(lineRead);
  if (carriage_) return kBadArgument;  // a CR that does not end the line
  if (byte == '\r') {
    carriage_ = true;
    return kOk;
  }
  empty_ = false;
  const unsigned char unit = static_cast<unsigned char>(byte);
  switch (field_) {
    case kMethod:
      if (byte != ' ') {
        if (nameLength_ == sizeof name_) return kBadArgument;
        name_[nameLength_++] = byte;
        return kOk;
      }
      method_ = FindApiMethod(name_, nameLength_);
      if (!method_) return kBadArgument;
      field_ = kTarget;
      return kOk;
    case kTarget:
      if (byte != ' ') return AppendTargetUnit(unit, target_);
      {
        Result result = CheckTarget(*target_);
        if (result != kOk) return result;
      }
      // GET and DELETE take no body.
      if (!method_->hasBody) return kBadArgument;
      field_ = kBodyStart;
      return kOk;
    case kBodyStart:
    case kBody:
      // JSON text has no raw control character, and one space parts the body
      // from the target.
      if ((unit < 0x20 && byte != '\t') || unit == 0x7F) return kBadArgument;
      if (field_ == kBodyStart && byte == ' ') return kBadArgument;
      field_ = kBody;
      return body_->AppendByte(byte) ? kOk : kTooLong;
    case kLineEnded:
      break;
  }
  return kBadArgument;
}

Result RequestLineReader::End(bool* lineRead) {
  *lineRead = false;
  if (carriage_) return kBadArgument;
  if (field_ == kLineEnded || empty_) return kOk;  // an empty last line
  return EndLine(lineRead);
}

namespace {

// The requests of a requests file, read from it a piece at a time: once
// through to check them all, then again as they are sent.
class FileRequests : public RequestSource {
 public:
  FileRequests(Platform& platform, const tc_text16* path, const tc_text16* accessToken, const char* host)
      : platform_(platform), path_(path), token_(accessToken), host_(host), reader_(&target_, &body_) {
    file_.handle = kNoFile;
    Rewind();
  }
  ~FileRequests() {
    if (file_.handle != kNoFile) platform_.CloseFile(&file_);
  }

  // The first reading: the number of requests, or what is wrong.
  Result CheckAll(size_t* count);
  virtual Result Compose(size_t index, Text* request, Composed* composed);
  virtual const File* SourceFile() const { return &file_; }

 private:
  Result Open();
  void Rewind();
  Result ReadLine(bool* lineRead);

  Platform& platform_;
  const tc_text16* path_;
  const tc_text16* token_;
  const char* host_;
  File file_;
  char buffer_[64];  // small: the call's stack holds it besides the request and its body
  size_t buffered_;
  size_t at_;
  bool ended_;
  size_t lines_;  // lines read since the file was opened
  FixedText<kTargetCapacity> target_;
  FixedText<kJsonBodyLimit + 1> body_;
  RequestLineReader reader_;
};

void FileRequests::Rewind() {
  buffered_ = 0;
  at_ = 0;
  ended_ = false;
  lines_ = 0;
  reader_.Reset();
}

Result FileRequests::Open() {
  if (file_.handle != kNoFile) platform_.CloseFile(&file_);
  Rewind();
  return platform_.OpenFileForReading(path_, &file_) ? kOk : kFileOpenFailed;
}

Result FileRequests::ReadLine(bool* lineRead) {
  for (;;) {
    if (at_ == buffered_) {
      if (ended_) {
        Result result = reader_.End(lineRead);
        if (result == kOk && *lineRead) ++lines_;
        return result;
      }
      long read = platform_.ReadFile(&file_, buffer_, sizeof buffer_);
      if (read < 0) return kFileOpenFailed;
      if (read == 0) ended_ = true;
      buffered_ = static_cast<size_t>(read);
      at_ = 0;
      continue;
    }
    Result result = reader_.Take(buffer_[at_++], lineRead);
    if (result != kOk) return result;
    if (*lineRead) {
      ++lines_;
      return kOk;
    }
  }
}

Result FileRequests::CheckAll(size_t* count) {
  Result result = Open();
  if (result != kOk) return result;
  *count = 0;
  for (;;) {
    bool lineRead = false;
    result = ReadLine(&lineRead);
    if (result != kOk) return result;
    if (!lineRead) break;
    if (++*count > kMaxRequests) return kTooLong;
  }
  return *count == 0 ? kBadArgument : kOk;
}

Result FileRequests::Compose(size_t index, Text* request, Composed* composed) {
  // A request sent again is read again from the start of the file. Whatever
  // no longer reads as it did the first time ends the call.
  if (index < lines_ || lines_ == 0) {
    if (Open() != kOk) return kBadArgument;
  }
  while (lines_ <= index) {
    bool lineRead = false;
    if (ReadLine(&lineRead) != kOk || !lineRead) return kBadArgument;
  }
  const ApiMethod* method = reader_.method();
  const Text* body = method->hasBody ? &body_ : 0;
  const char* contentType = body && body->size() > 0 ? kJsonContentType : 0;
  RequestParts parts = {method->requestLine, &target_, host_, token_, contentType, body};
  size_t bodyInRequest = 0;
  Result result = ComposeRequest(platform_, parts, request, &bodyInRequest);
  if (result != kOk) return result;
  composed->rest = body ? body->data() + bodyInRequest : 0;
  composed->restLength = body ? body->size() - bodyInRequest : 0;
  composed->idempotent = method->idempotent;
  return kOk;
}

}  // namespace

Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath) {
  if (!accessToken || CheckTextArgument(requestsPath) != kOk || CheckTextArgument(responsePath) != kOk) {
    return kBadArgument;
  }
  FileRequests requests(platform, requestsPath, accessToken, service.host);
  size_t count = 0;
  Result result = requests.CheckAll(&count);
  if (result != kOk) return result;
  return RunSequence(platform, service, requests, count, responsePath);
}

}  // namespace taskclient
