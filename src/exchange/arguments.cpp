#include "exchange/arguments.h"

#include "text/utf8.h"

namespace taskclient {

Result CheckTextArgument(const tc_text16* text) {
  return text && !HasLoneSurrogate(text) ? kOk : kBadArgument;
}

Result NarrowArgument(Platform& platform, const tc_text16* text, Text* out) {
  if (CheckTextArgument(text) != kOk) return kBadArgument;
  size_t length = 0;
  if (!platform.Narrow(text, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return kTooLong;
  }
  out->SetLength(length);
  return kOk;
}

Result Utf8Argument(const tc_text16* text, Text* out) {
  if (CheckTextArgument(text) != kOk) return kBadArgument;
  size_t length = 0;
  if (!Utf16ToUtf8(text, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return kTooLong;
  }
  out->SetLength(length);
  return kOk;
}

}  // namespace taskclient
