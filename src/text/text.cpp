#include "text/text.h"

#include <string.h>

namespace taskclient {

bool Text::Append(const char* bytes, size_t length) {
  if (overflowed_ || length >= capacity_ - size_) {
    overflowed_ = true;
    return false;
  }
  memcpy(data_ + size_, bytes, length);
  size_ += length;
  data_[size_] = '\0';
  return true;
}

bool Text::Append(const char* nulTerminated) { return Append(nulTerminated, strlen(nulTerminated)); }

bool Text::AppendByte(char byte) { return Append(&byte, 1); }

bool Text::AppendDecimal(uint32_t value) {
  char digits[10];
  size_t count = 0;
  do {
    digits[sizeof digits - 1 - count] = static_cast<char>('0' + value % 10);
    value /= 10;
    ++count;
  } while (value != 0);
  return Append(digits + sizeof digits - count, count);
}

void Text::SetLength(size_t length) {
  if (length >= capacity_) {
    Clear();
    overflowed_ = true;
    return;
  }
  size_ = length;
  data_[size_] = '\0';
}

void Text::Clear() {
  size_ = 0;
  overflowed_ = false;
  data_[0] = '\0';
}

}  // namespace taskclient
