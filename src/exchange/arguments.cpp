#include "exchange/arguments.h"

namespace taskclient {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool NeedsPathEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '#': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

int32_t NarrowArgument(Platform& platform, const tc_text16* text, NarrowEncoding encoding, Text* out) {
  if (!text) return TC_BAD_ARGUMENT;
  size_t length = 0;
  if (!platform.Narrow(text, encoding, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return TC_TOO_LONG;
  }
  out->SetLength(length);
  return 0;
}

int32_t NarrowToken(Platform& platform, const tc_text16* token, Text* out) {
  int32_t result = NarrowArgument(platform, token, kSystemText, out);
  if (result != 0) return result;
  for (size_t i = 0; i < out->size(); ++i) {
    if (IsControl(static_cast<unsigned char>(out->data()[i]))) return TC_BAD_ARGUMENT;
  }
  return 0;
}

bool AppendPercentEscape(unsigned char byte, Text* out) {
  char escape[3] = {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
  return out->Append(escape, sizeof escape);
}

bool AppendPathSegment(const Text& id, Text* out) {
  for (size_t i = 0; i < id.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(id.data()[i]);
    if (NeedsPathEscape(c) ? !AppendPercentEscape(c, out) : !out->AppendByte(static_cast<char>(c))) return false;
  }
  return true;
}

bool AppendQueryValue(const Text& value, Text* out) {
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value.data()[i]);
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (unreserved ? !out->AppendByte(static_cast<char>(c)) : !AppendPercentEscape(c, out)) return false;
  }
  return true;
}

bool AppendJsonString(const Text& text, Text* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text.data()[i]);
    bool ok;
    switch (c) {
      case '"': ok = out->Append("\\\"", 2); break;
      case '\\': ok = out->Append("\\\\", 2); break;
      case '\n': ok = out->Append("\\n", 2); break;
      case '\r': ok = out->Append("\\r", 2); break;
      case '\t': ok = out->Append("\\t", 2); break;
      case '\b': ok = out->Append("\\b", 2); break;
      case '\f': ok = out->Append("\\f", 2); break;
      default:
        if (c < 0x20) {
          char escape[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
          ok = out->Append(escape, sizeof escape);
        } else {
          ok = out->AppendByte(static_cast<char>(c));
        }
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace taskclient
