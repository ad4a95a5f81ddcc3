// The tool's text: the library's 16-bit text from and to UTF-8.
#pragma once

#include <string>

#include "taskclient.h"

namespace cli {

// The text as the library takes it (NUL-terminated).
inline const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

// UTF-8 to 16-bit text. False on malformed UTF-8.
bool Widen(const std::string& utf8, std::u16string* out);

// 16-bit text as UTF-8 (lone surrogates as U+FFFD; the library refuses them
// before this is used).
std::string Utf8(const std::u16string& text);

}  // namespace cli
