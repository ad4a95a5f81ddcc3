// Test helpers for the library's 16-bit text and response files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "taskclient.h"

namespace testsupport {

// UTF-8 to the library's 16-bit text. False at the first malformed sequence
// (a stray or missing continuation byte, an overlong form, a surrogate, a
// code past U+10FFFF), `out` then holding the text before it.
inline bool Utf8To16(std::string_view utf8, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (extra == 4 || i + extra >= utf8.size() + (extra ? 0 : 1)) return false;
    uint32_t code = extra == 0 ? c : (c & (0x3Fu >> extra));
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

// UTF-8 that a test writes itself (well-formed) as the library's 16-bit text.
inline std::u16string U(std::string_view utf8) {
  std::u16string out;
  Utf8To16(utf8, &out);
  return out;
}

inline const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder for one test's files, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "taskclient-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A response path as the library takes it.
inline std::u16string PathText(const std::filesystem::path& path) { return U(path.string()); }

}  // namespace testsupport
