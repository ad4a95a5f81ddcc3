#include "text/utf8.h"

#include "portable.h"

namespace taskclient {

namespace {

// Encodes the character at unit `*i` (not the NUL) into `bytes` and moves
// `*i` past it. Returns the number of bytes, 1 to 4.
size_t EncodeNext(const tc_text16* text, size_t* i, unsigned char bytes[4]) {
  uint32_t unit = static_cast<uint16_t>(text[*i]);
  uint32_t code = unit;
  ++*i;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    uint32_t next = static_cast<uint16_t>(text[*i]);
    if (next >= 0xDC00 && next <= 0xDFFF) {
      code = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
      ++*i;
    } else {
      code = 0xFFFD;
    }
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    code = 0xFFFD;
  }

  if (code < 0x80) {
    bytes[0] = static_cast<unsigned char>(code);
    return 1;
  }
  if (code < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
    bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
    bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
  bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
  bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
  bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
  return 4;
}

}  // namespace

bool HasLoneSurrogate(const tc_text16* text) {
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t unit = static_cast<uint16_t>(text[i]);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return true;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint32_t next = static_cast<uint16_t>(text[i + 1]);
      if (next < 0xDC00 || next > 0xDFFF) return true;
      ++i;
    }
  }
  return false;
}

bool Utf16ToUtf8(const tc_text16* text, char* output, size_t capacity, size_t* length) {
  if (capacity == 0) return false;
  size_t used = 0;
  size_t i = 0;
  while (text[i] != 0) {
    unsigned char bytes[4];
    size_t count = EncodeNext(text, &i, bytes);
    if (count >= capacity - used) {
      output[0] = '\0';
      return false;
    }
    for (size_t k = 0; k < count; ++k) output[used++] = static_cast<char>(bytes[k]);
  }
  output[used] = '\0';
  *length = used;
  return true;
}

}  // namespace taskclient
