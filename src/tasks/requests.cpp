#include "tasks/requests.h"

#include "tasks/tasks.h"

namespace taskclient {

namespace {

const size_t kLineCapacity = 16 + kTargetCapacity + kJsonBodyLimit;
const size_t kPathUnits = 1024;
const tc_text16 kPartSuffix[] = {'.', 'p', 'a', 'r', 't', 0};

// Decodes UTF-8 into NUL-terminated 16-bit text; false when it does not fit.
bool Widen(const char* bytes, size_t length, tc_text16* out, size_t capacity) {
  size_t units = 0;
  for (size_t i = 0; i < length;) {
    uint32_t code = static_cast<unsigned char>(bytes[i]);
    size_t extra = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
    if (extra > 0) code &= 0x3F >> extra;
    ++i;
    for (size_t k = 0; k < extra && i < length; ++k, ++i) {
      code = (code << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
    }
    if (code >= 0x10000) {
      if (units + 2 >= capacity) return false;
      code -= 0x10000;
      out[units++] = static_cast<tc_text16>(0xD800 + (code >> 10));
      out[units++] = static_cast<tc_text16>(0xDC00 + (code & 0x3FF));
    } else {
      if (units + 1 >= capacity) return false;
      out[units++] = static_cast<tc_text16>(code);
    }
  }
  out[units] = 0;
  return true;
}

// Appends the file at `path` to `out`.
Result AppendFile(Platform& platform, const tc_text16* path, File* out) {
  File in = {kNoFile};
  if (!platform.OpenFileForReading(path, &in)) return kFileOpenFailed;
  char buffer[2048];
  Result result = kOk;
  for (;;) {
    long got = platform.ReadFile(&in, buffer, sizeof buffer);
    if (got < 0) result = kFileOpenFailed;
    if (got <= 0) break;
    if (!platform.WriteToFile(out, buffer, static_cast<size_t>(got))) {
      result = kFileWriteFailed;
      break;
    }
  }
  platform.CloseFile(&in);
  return result;
}

// Sends one line's request, its reply going to `partPath`.
Result SendLine(Platform& platform, const Service& service, const tc_text16* accessToken, const char* line,
                size_t length, const tc_text16* partPath) {
  size_t methodEnd = 0;
  while (methodEnd < length && line[methodEnd] != ' ') ++methodEnd;
  size_t targetEnd = methodEnd + 1;
  while (targetEnd < length && line[targetEnd] != ' ') ++targetEnd;
  if (methodEnd >= length) return kBadArgument;
  tc_text16 method[16];
  tc_text16 target[kTargetCapacity + 1];
  tc_text16 body[kJsonBodyLimit + 1];
  if (!Widen(line, methodEnd, method, sizeof method / sizeof method[0])) return kBadArgument;
  if (!Widen(line + methodEnd + 1, targetEnd - methodEnd - 1, target, sizeof target / sizeof target[0])) {
    return kTooLong;
  }
  body[0] = 0;
  if (targetEnd < length && !Widen(line + targetEnd + 1, length - targetEnd - 1, body, sizeof body / sizeof body[0])) {
    return kTooLong;
  }
  return SendApiRequest(platform, service, accessToken, method, target, body[0] ? body : 0, partPath);
}

}  // namespace

Result SendRequests(Platform& platform, const Service& service, const tc_text16* accessToken,
                    const tc_text16* requestsPath, const tc_text16* responsePath) {
  if (!accessToken || !requestsPath || !responsePath) return kBadArgument;
  tc_text16 partPath[kPathUnits];
  size_t units = 0;
  while (responsePath[units] != 0) {
    if (units + sizeof kPartSuffix / sizeof kPartSuffix[0] >= kPathUnits) return kTooLong;
    partPath[units] = responsePath[units];
    ++units;
  }
  for (size_t i = 0; i < sizeof kPartSuffix / sizeof kPartSuffix[0]; ++i) partPath[units + i] = kPartSuffix[i];

  File requests = {kNoFile};
  if (!platform.OpenFileForReading(requestsPath, &requests)) return kFileOpenFailed;
  File response = {kNoFile};
  Result result = kExchangeComplete;
  char line[kLineCapacity];
  size_t length = 0;
  char chunk[1024];
  bool ended = false;
  while (!ended && result == kExchangeComplete) {
    long got = platform.ReadFile(&requests, chunk, sizeof chunk);
    if (got < 0) {
      result = kFileOpenFailed;
      break;
    }
    ended = got == 0;
    for (long i = 0; i <= got && result == kExchangeComplete; ++i) {
      const bool lineEnd = i < got ? chunk[i] == '\n' : ended;
      if (!lineEnd) {
        if (i == got) break;
        if (length >= kLineCapacity) {
          result = kTooLong;
          break;
        }
        line[length++] = chunk[i];
        continue;
      }
      if (length > 0 && line[length - 1] == '\r') --length;
      if (length == 0) continue;
      result = SendLine(platform, service, accessToken, line, length, partPath);
      length = 0;
      if (result != kExchangeComplete) break;
      if (response.handle == kNoFile && !platform.OpenFileForWriting(responsePath, &response)) {
        result = kFileOpenFailed;
        break;
      }
      Result appended = AppendFile(platform, partPath, &response);
      if (appended != kOk) result = appended;
    }
  }
  platform.CloseFile(&requests);
  if (response.handle != kNoFile && !platform.CloseFile(&response) && result == kExchangeComplete) {
    result = kFileWriteFailed;
  }
  return result;
}

}  // namespace taskclient
