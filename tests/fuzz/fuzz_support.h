// Shared pieces of the fuzz targets: a text whose storage is a heap block of
// exactly its capacity (so a write past it is caught by AddressSanitizer),
// decoders that undo the library's escapes, and a reference UTF-16 to UTF-8
// conversion. A failed check aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "exchange/text.h"
#include "taskclient.h"

namespace fuzzsupport {

[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "check failed: %s\n", what);
  if (!detail.empty()) {
    std::fprintf(stderr, "detail (%zu bytes): ", detail.size());
    for (unsigned char c : detail) std::fprintf(stderr, (c >= 0x20 && c < 0x7F) ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
  }
  std::abort();
}

#define FUZZ_CHECK(condition, detail) \
  do {                                \
    if (!(condition)) ::fuzzsupport::Fail(#condition, detail); \
  } while (0)

class HeapText : public taskclient::Text {
 public:
  static std::unique_ptr<HeapText> Make(size_t capacity) {
    char* storage = new char[capacity];
    return std::unique_ptr<HeapText>(new HeapText(storage, capacity));
  }
  ~HeapText() { delete[] Storage(); }
  std::string str() const { return std::string(data(), size()); }

  // The invariants every text keeps, whatever was appended to it.
  void CheckInvariants() const {
    FUZZ_CHECK(size() < capacity(), str());
    FUZZ_CHECK(data()[size()] == '\0', str());
  }

 private:
  HeapText(char* storage, size_t capacity) : Text(storage, capacity) {}
};

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
        for (int k = 1; k <= 4; ++k) {
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

// UTF-16 (up to the first NUL unit) to UTF-8; an unpaired surrogate becomes
// U+FFFD. Written apart from the library's converter, to check it.
inline std::string Utf8Of(const std::u16string& text) {
  std::string out;
  auto put = [&out](uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  };
  for (size_t i = 0; i < text.size() && text[i] != 0; ++i) {
    uint32_t unit = text[i];
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(0x10000 + ((unit - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else {
      put(high || low ? 0xFFFD : unit);
    }
  }
  return out;
}

}  // namespace fuzzsupport
