// Shared pieces of the fuzz targets: a text whose storage is a heap block of
// exactly its capacity (so a write past it is caught by AddressSanitizer),
// the decoders that undo the library's escapes, and a reference UTF-16 to
// UTF-8 conversion. A failed check aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "text/text.h"
#include "support/decode.h"
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

// Appends `input` through `append` to a text of `capacity` bytes that already
// holds `prefixLength` bytes (fewer where they would not fit), and checks what
// every encoder must keep: the text's invariants; success exactly when the
// `encodedLength` bytes fit, and overflow marked exactly on failure; the
// prefix untouched; what was appended decodes through `decode` (so no escape
// is split) to the input, or after a failure to the input's start. Returns
// what was appended.
template <typename Append, typename Decode>
std::string CheckEncoder(const std::string& input, size_t capacity, size_t prefixLength, size_t encodedLength,
                         Append append, Decode decode) {
  auto text = HeapText::Make(capacity);
  const std::string prefix(prefixLength < capacity ? prefixLength : capacity - 1, 'p');
  FUZZ_CHECK(text->Append(prefix.data(), prefix.size()), prefix);
  const bool ok = append(text.get());
  text->CheckInvariants();
  FUZZ_CHECK(ok == (prefix.size() + encodedLength <= capacity - 1), input);
  FUZZ_CHECK(text->overflowed() == !ok, input);
  const std::string all = text->str();
  FUZZ_CHECK(all.compare(0, prefix.size(), prefix) == 0, all);
  const std::string encoded = all.substr(prefix.size());
  std::string decoded;
  FUZZ_CHECK(decode(encoded, &decoded), encoded);
  FUZZ_CHECK(ok ? decoded == input : input.compare(0, decoded.size(), decoded) == 0, encoded);
  return encoded;
}

// The decoders the unit tests use too.
using testsupport::JsonStringDecode;
using testsupport::PercentDecode;

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
