#include "exchange/arguments.h"

#include "text/utf8.h"

namespace taskclient {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

Result NarrowArgument(Platform& platform, const tc_text16* text, Text* out) {
  if (!text) return kBadArgument;
  size_t length = 0;
  if (!platform.Narrow(text, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return kTooLong;
  }
  out->SetLength(length);
  return kOk;
}

Result Utf8Argument(const tc_text16* text, Text* out) {
  if (!text) return kBadArgument;
  size_t length = 0;
  if (!Utf16ToUtf8(text, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return kTooLong;
  }
  out->SetLength(length);
  return kOk;
}

Result NarrowToken(Platform& platform, const tc_text16* token, Text* out) {
  Result result = NarrowArgument(platform, token, out);
  if (result != kOk) return result;
  for (size_t i = 0; i < out->size(); ++i) {
    if (IsControl(static_cast<unsigned char>(out->data()[i]))) return kBadArgument;
  }
  return kOk;
}

}  // namespace taskclient
