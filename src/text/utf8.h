// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
#ifndef TASKCLIENT_TEXT_UTF8_H
#define TASKCLIENT_TEXT_UTF8_H

#include <stddef.h>

#include "taskclient.h"

namespace taskclient {

// Converts NUL-terminated UTF-16 text to UTF-8 with a terminating NUL.
// Returns false, leaving `output` empty, when the result does not fit
// `capacity` bytes (NUL included).
bool Utf16ToUtf8(const tc_text16* text, char* output, size_t capacity, size_t* length);

}  // namespace taskclient

#endif
