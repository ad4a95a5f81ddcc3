#include "tasks/requests.h"

#include "exchange/arguments.h"
#include "tasks/tasks.h"

namespace taskclient {

namespace {

const size_t kMaxLines = 1000;
const size_t kMethodCapacity = 8;
const size_t kLineCapacity = kMethodCapacity + kTargetCapacity + kJsonBodyLimit + 2;
const size_t kPathUnits = 1024;

// One line of the requests file, split into its parts (in place).
struct Line {
  char bytes[kLineCapacity];
  size_t length;
  const char* method;
  const char* target;
  const char* body;  // empty for none
};

// Reads the requests file line by line.
class LineReader {
 public:
  LineReader(Platform& platform, File* file) : platform_(platform), file_(file), at_(0), held_(0), ended_(false) {}
  // kOk with a line, kFieldMissing at the end, kTooLong or kFileOpenFailed.
  Result Next(Line* line) {
    line->length = 0;
    bool any = false;
    for (;;) {
      if (at_ == held_) {
        if (ended_) return any ? kOk : kFieldMissing;
        long got = platform_.ReadFile(file_, piece_, sizeof piece_);
        if (got < 0) return kFileOpenFailed;
        if (got == 0) {
          ended_ = true;
          continue;
        }
        at_ = 0;
        held_ = static_cast<size_t>(got);
      }
      char c = piece_[at_++];
      any = true;
      if (c == '\n') break;
      if (line->length + 1 >= sizeof line->bytes) return kTooLong;
      line->bytes[line->length++] = c;
    }
    if (line->length > 0 && line->bytes[line->length - 1] == '\r') --line->length;
    line->bytes[line->length] = 0;
    return kOk;
  }

 private:
  Platform& platform_;
  File* file_;
  char piece_[512];
  size_t at_;
  size_t held_;
  bool ended_;
};

bool IsMethod(const char* word, bool* hasBody) {
  static const char* const kNames[] = {"GET", "PUT", "DELETE", "POST", "PATCH"};
  for (size_t i = 0; i < 5; ++i) {
    const char* a = word;
    const char* b = kNames[i];
    while (*a && *a == *b) ++a, ++b;
    if (*a == 0 && *b == 0) {
      *hasBody = i != 0 && i != 2;
      return true;
    }
  }
  return false;
}

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Splits a line at its first two single spaces and checks the parts' shapes.
Result Split(Line* line) {
  char* space = 0;
  for (size_t i = 0; i < line->length; ++i) {
    if (line->bytes[i] == ' ') {
      space = line->bytes + i;
      break;
    }
  }
  if (!space) return kBadArgument;
  *space = 0;
  line->method = line->bytes;
  line->target = space + 1;
  char* second = space + 1;
  while (*second && *second != ' ') ++second;
  line->body = "";
  if (*second == ' ') {
    *second = 0;
    line->body = second + 1;
    if (*line->body == 0) return kBadArgument;
  }
  bool hasBody = false;
  if (!IsMethod(line->method, &hasBody) || *line->target == 0) return kBadArgument;
  if (*line->body != 0 && !hasBody) return kBadArgument;
  if (Length(line->target) >= kTargetCapacity || Length(line->body) > kJsonBodyLimit) return kTooLong;
  return kOk;
}

// UTF-8 to 16-bit text; false on malformed UTF-8 or no room.
bool Widen(const char* utf8, tc_text16* out, size_t capacity) {
  size_t used = 0;
  const unsigned char* at = reinterpret_cast<const unsigned char*>(utf8);
  while (*at) {
    uint32_t code = *at++;
    int extra = code < 0x80 ? 0 : (code >> 5) == 6 ? 1 : (code >> 4) == 14 ? 2 : (code >> 3) == 30 ? 3 : -1;
    if (extra < 0) return false;
    if (extra) code &= 0x3Fu >> extra;
    for (int k = 0; k < extra; ++k) {
      if ((*at & 0xC0) != 0x80) return false;
      code = (code << 6) | (*at++ & 0x3F);
    }
    if (code >= 0x10000) {
      if (used + 3 > capacity) return false;
      code -= 0x10000;
      out[used++] = static_cast<tc_text16>(0xD800 + (code >> 10));
      out[used++] = static_cast<tc_text16>(0xDC00 + (code & 0x3FF));
    } else {
      if (used + 2 > capacity) return false;
      out[used++] = static_cast<tc_text16>(code);
    }
  }
  out[used] = 0;
  return true;
}

// Checks every line, or sends every line, one exchange each, each reply
// appended to `response` by way of the file at `partPath`.
Result Walk(Platform& platform, const Service& service, const tc_text16* accessToken, const tc_text16* requestsPath,
            const tc_text16* partPath, File* response) {
  File requests = {kNoFile};
  if (!platform.OpenFileForReading(requestsPath, &requests)) return kFileOpenFailed;
  LineReader reader(platform, &requests);
  Line line;
  Result result = kOk;
  size_t count = 0;
  for (;;) {
    result = reader.Next(&line);
    if (result == kFieldMissing) {
      result = count == 0 ? kBadArgument : response ? kExchangeComplete : kOk;
      break;
    }
    if (result != kOk) break;
    if (++count > kMaxLines) {
      result = kTooLong;
      break;
    }
    result = Split(&line);
    if (result != kOk || !response) {
      if (result != kOk) break;
      continue;
    }
    tc_text16 method[kMethodCapacity];
    tc_text16 target[kTargetCapacity];
    tc_text16 body[kJsonBodyLimit + 1];
    if (!Widen(line.method, method, kMethodCapacity) || !Widen(line.target, target, kTargetCapacity) ||
        !Widen(line.body, body, kJsonBodyLimit + 1)) {
      result = kBadArgument;
      break;
    }
    result = SendApiRequest(platform, service, accessToken, method, target, body, partPath);
    File part = {kNoFile};
    if (platform.OpenFileForReading(partPath, &part)) {
      char piece[1024];
      long got;
      while ((got = platform.ReadFile(&part, piece, sizeof piece)) > 0) {
        if (!platform.WriteToFile(response, piece, static_cast<size_t>(got))) result = kFileWriteFailed;
      }
      platform.CloseFile(&part);
    }
    if (result != kExchangeComplete) break;
  }
  platform.CloseFile(&requests);
  return result;
}

}  // namespace

Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath) {
  if (CheckTextArgument(accessToken) != kOk || CheckTextArgument(requestsPath) != kOk ||
      CheckTextArgument(responsePath) != kOk) {
    return kBadArgument;
  }
  tc_text16 partPath[kPathUnits];
  static const char kPart[] = ".part";
  size_t n = 0;
  while (responsePath[n]) {
    if (n + sizeof kPart >= kPathUnits) return kTooLong;
    partPath[n] = responsePath[n];
    ++n;
  }
  for (size_t i = 0; i < sizeof kPart; ++i) partPath[n + i] = static_cast<tc_text16>(kPart[i]);

  Result result = Walk(platform, service, accessToken, requestsPath, partPath, 0);
  if (result != kOk) return result;
  File response = {kNoFile};
  if (!platform.OpenFileForWriting(responsePath, &response)) return kFileOpenFailed;
  result = Walk(platform, service, accessToken, requestsPath, partPath, &response);
  if (!platform.CloseFile(&response) && result == kExchangeComplete) result = kFileWriteFailed;
  // Leaves the part file empty.
  File part = {kNoFile};
  if (platform.OpenFileForWriting(partPath, &part)) platform.CloseFile(&part);
  return result;
}

}  // namespace taskclient
