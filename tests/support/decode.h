// Decoders that undo the library's escapes, written apart from it to check
// what it wrote: percent escapes and the inside of a JSON string.
#pragma once

#include <string>

namespace testsupport {

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the library writes upper-case hex only
}

// Undoes %XX escapes; false on a malformed or lower-case escape.
inline bool PercentDecode(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out->push_back(in[i]);
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int high = HexDigit(in[i + 1]), low = HexDigit(in[i + 2]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

// Undoes the escapes of the inside of a JSON string (as RFC 8259 reads it);
// false on anything a JSON parser would refuse: a raw control byte, a raw
// quote, a stray backslash, a bad \u escape.
inline bool JsonStringDecode(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x20 || c == '"') return false;
    if (c != '\\') {
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (++i >= in.size()) return false;
    switch (in[i]) {
      case '"': out->push_back('"'); break;
      case '\\': out->push_back('\\'); break;
      case '/': out->push_back('/'); break;
      case 'b': out->push_back('\b'); break;
      case 'f': out->push_back('\f'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'u': {
        if (i + 4 >= in.size()) return false;
        unsigned value = 0;
        for (size_t k = 1; k <= 4; ++k) {
          char h = in[i + k];
          int digit = HexDigit(h);
          if (digit < 0 && h >= 'a' && h <= 'f') digit = h - 'a' + 10;
          if (digit < 0) return false;
          value = value * 16 + static_cast<unsigned>(digit);
        }
        if (value >= 0x80) return false;  // the library only escapes control bytes this way
        out->push_back(static_cast<char>(value));
        i += 4;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace testsupport
