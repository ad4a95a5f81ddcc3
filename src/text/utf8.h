// UTF-16 to UTF-8, and the check that 16-bit text is whole UTF-16.
#ifndef TASKCLIENT_TEXT_UTF8_H
#define TASKCLIENT_TEXT_UTF8_H

#include <stddef.h>

#include "taskclient.h"

namespace taskclient {

// Whether NUL-terminated 16-bit text holds a surrogate without its other
// half: text no conversion can carry as the caller wrote it.
bool HasLoneSurrogate(const tc_text16* text);

// Converts NUL-terminated UTF-16 text to UTF-8 with a terminating NUL; an
// unpaired surrogate becomes U+FFFD (callers refuse such text first with
// HasLoneSurrogate, so that nothing is silently altered). Returns false, leaving `output` empty, when the result does not fit
// `capacity` bytes (NUL included).
bool Utf16ToUtf8(const tc_text16* text, char* output, size_t capacity, size_t* length);

}  // namespace taskclient

#endif
