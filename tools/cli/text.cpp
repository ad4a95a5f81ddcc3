#include "cli/text.h"

#include "testing/text16.h"
#include "text/utf8.h"

namespace cli {

bool Widen(const std::string& utf8, std::u16string* out) { return testsupport::Utf8To16(utf8, out); }

std::string Utf8(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  size_t length = 0;
  taskclient::Utf16ToUtf8(T(text), &out[0], out.size(), &length);
  out.resize(length);
  return out;
}

}  // namespace cli
