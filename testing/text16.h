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

// UTF-8 to the library's 16-bit text (well-formed input assumed).
inline std::u16string U(std::string_view utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t code;
    size_t extra;
    if (c < 0x80) {
      code = c;
      extra = 0;
    } else if (c < 0xE0) {
      code = c & 0x1F;
      extra = 1;
    } else if (c < 0xF0) {
      code = c & 0x0F;
      extra = 2;
    } else {
      code = c & 0x07;
      extra = 3;
    }
    for (size_t k = 1; k <= extra; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
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
