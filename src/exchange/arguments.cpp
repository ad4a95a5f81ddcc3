#include "exchange/arguments.h"

namespace taskclient {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool NeedsPathEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '#': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

bool NeedsQueryEscape(unsigned char c) { return !IsUnreserved(c); }

bool NeedsFormEscape(unsigned char c) {
  switch (c) {
    case ' ': case '!': case '$': case '%': case '&': case '\'': case '(': case ')': case '*':
    case '+': case ',': case '/': case ':': case ';': case '=': case '?': case '@':
      return true;
    default:
      return false;
  }
}

// JSON string escapes: the short forms where JSON has one, \u00XX for the
// other control bytes.
bool NeedsJsonEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

bool AppendJsonEscape(unsigned char c, Text* out) {
  char escape[6] = {'\\', 0, 0, 0, 0, 0};
  switch (c) {
    case '"': escape[1] = '"'; break;
    case '\\': escape[1] = '\\'; break;
    case '\n': escape[1] = 'n'; break;
    case '\r': escape[1] = 'r'; break;
    case '\t': escape[1] = 't'; break;
    case '\b': escape[1] = 'b'; break;
    case '\f': escape[1] = 'f'; break;
    default: {
      const char unicode[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
      return out->Append(unicode, sizeof unicode);
    }
  }
  return out->Append(escape, 2);
}

}  // namespace

Result NarrowArgument(Platform& platform, const tc_text16* text, NarrowEncoding encoding, Text* out) {
  if (!text) return kBadArgument;
  size_t length = 0;
  if (!platform.Narrow(text, encoding, out->Storage(), out->capacity(), &length)) {
    out->SetLength(0);
    return kTooLong;
  }
  out->SetLength(length);
  return kOk;
}

Result NarrowToken(Platform& platform, const tc_text16* token, Text* out) {
  Result result = NarrowArgument(platform, token, kSystemText, out);
  if (result != kOk) return result;
  for (size_t i = 0; i < out->size(); ++i) {
    if (IsControl(static_cast<unsigned char>(out->data()[i]))) return kBadArgument;
  }
  return kOk;
}

bool AppendPercentEscape(unsigned char byte, Text* out) {
  char escape[3] = {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
  return out->Append(escape, sizeof escape);
}

const Escaping kPathSegmentEscaping = {NeedsPathEscape, AppendPercentEscape};
const Escaping kQueryValueEscaping = {NeedsQueryEscape, AppendPercentEscape};
const Escaping kFormValueEscaping = {NeedsFormEscape, AppendPercentEscape};
const Escaping kJsonStringEscaping = {NeedsJsonEscape, AppendJsonEscape};

bool AppendEscaped(const Escaping& escaping, const char* bytes, size_t length, Text* out) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (escaping.needsEscape(c) ? !escaping.appendEscape(c, out) : !out->AppendByte(static_cast<char>(c))) {
      return false;
    }
  }
  return true;
}

bool AppendPathSegment(const Text& id, Text* out) {
  return AppendEscaped(kPathSegmentEscaping, id.data(), id.size(), out);
}

bool AppendQueryValue(const Text& value, Text* out) {
  return AppendEscaped(kQueryValueEscaping, value.data(), value.size(), out);
}

bool AppendJsonString(const Text& text, Text* out) {
  return AppendEscaped(kJsonStringEscaping, text.data(), text.size(), out);
}

}  // namespace taskclient
