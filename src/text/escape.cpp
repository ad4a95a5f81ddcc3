#include "text/escape.h"

namespace taskclient {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// One way of escaping text: which bytes are escaped, and how one is written.
struct Escaping {
  bool (*needsEscape)(unsigned char byte);
  bool (*appendEscape)(unsigned char byte, Text* out);
};

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool NeedsPathEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '#': case '/': case '<': case '>': case '?': case '\\': case '^': case '`': case '{':
    case '|': case '}':
      return true;
    default:
      return false;
  }
}

// Query and form values escape alike: everything but the unreserved bytes.
bool NeedsValueEscape(unsigned char c) { return !IsUnreserved(c); }

// Appends "%XX" (upper-case hex) for `byte`.
bool AppendPercentEscape(unsigned char byte, Text* out) {
  char escape[3] = {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
  return out->Append(escape, sizeof escape);
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

const Escaping kPathSegmentEscaping = {NeedsPathEscape, AppendPercentEscape};
const Escaping kValueEscaping = {NeedsValueEscape, AppendPercentEscape};
const Escaping kJsonStringEscaping = {NeedsJsonEscape, AppendJsonEscape};

// Appends `bytes`, each byte as it is or as its escape.
bool AppendEscaped(const Escaping& escaping, const char* bytes, size_t length, Text* out) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (escaping.needsEscape(c) ? !escaping.appendEscape(c, out) : !out->AppendByte(static_cast<char>(c))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool AppendPathSegment(const Text& id, Text* out) {
  return AppendEscaped(kPathSegmentEscaping, id.data(), id.size(), out);
}

bool IsDotSegment(const char* bytes, size_t length) {
  size_t dots = 0;
  for (size_t i = 0; i < length; ++dots) {
    if (bytes[i] == '.') {
      i += 1;
    } else if (length - i >= 3 && bytes[i] == '%' && bytes[i + 1] == '2' && (bytes[i + 2] == 'e' || bytes[i + 2] == 'E')) {
      i += 3;
    } else {
      return false;
    }
  }
  return dots == 1 || dots == 2;
}

bool AppendQueryValue(const Text& value, Text* out) {
  return AppendEscaped(kValueEscaping, value.data(), value.size(), out);
}

bool FormEncode(const char* bytes, size_t length, Text* out) {
  return AppendEscaped(kValueEscaping, bytes, length, out);
}

bool AppendJsonString(const Text& text, Text* out) {
  return AppendEscaped(kJsonStringEscaping, text.data(), text.size(), out);
}

}  // namespace taskclient
