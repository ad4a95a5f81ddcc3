// UTF-16 to UTF-8, whole or a piece at a time. An unpaired surrogate becomes
// U+FFFD.
#ifndef TASKCLIENT_TEXT_UTF8_H
#define TASKCLIENT_TEXT_UTF8_H

#include <stddef.h>

#include "taskclient.h"

namespace taskclient {

// Converts NUL-terminated UTF-16 text to UTF-8 with a terminating NUL.
// Returns false, leaving `output` empty, when the result does not fit
// `capacity` bytes (NUL included).
bool Utf16ToUtf8(const tc_text16* text, char* output, size_t capacity, size_t* length);

// The UTF-8 length of NUL-terminated UTF-16 text, counted no further than
// `limit`: false when it is longer.
bool Utf8LengthWithin(const tc_text16* text, size_t limit, size_t* length);

// Converts the characters of `text` from unit `*position` on, as many whole
// ones as fit `capacity` bytes (no NUL is written), and moves `*position`
// past them. Returns the bytes written: 0 at the end of the text, or when
// `capacity` is smaller than the next character.
size_t Utf16ToUtf8Piece(const tc_text16* text, size_t* position, char* output, size_t capacity);

}  // namespace taskclient

#endif
