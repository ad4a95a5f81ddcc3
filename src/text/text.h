// Fixed-capacity narrow text. Every request piece is appended whole or not at
// all: a piece that does not fit leaves the text as it was and marks it
// overflowed, so an escape is never split and nothing is written past the end.
#ifndef TASKCLIENT_TEXT_TEXT_H
#define TASKCLIENT_TEXT_TEXT_H

#include <stddef.h>

#include "portable.h"

namespace taskclient {

class Text {
 public:
  // Appends `length` bytes. Returns false (and records the overflow) when they
  // do not fit together with the terminating NUL.
  bool Append(const char* bytes, size_t length);
  bool Append(const char* nulTerminated);
  bool AppendByte(char byte);
  // Writes `value` in base 10: no sign, no leading zeros.
  bool AppendDecimal(uint32_t value);
  void Clear();

  // For a converter that fills the text in place: it may write from
  // Storage() + size() up to Storage() + capacity(), then reports the whole
  // length (without the NUL it put after it).
  char* Storage() { return data_; }
  void SetLength(size_t length);

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }  // bytes, NUL included
  bool overflowed() const { return overflowed_; }

 protected:
  Text(char* storage, size_t capacity) : data_(storage), capacity_(capacity), size_(0), overflowed_(false) {
    data_[0] = '\0';
  }

 private:
  Text(const Text&);
  Text& operator=(const Text&);

  char* data_;
  size_t capacity_;
  size_t size_;
  bool overflowed_;
};

template <size_t Capacity>
class FixedText : public Text {
 public:
  FixedText() : Text(storage_, Capacity) {}

 private:
  char storage_[Capacity];
};

}  // namespace taskclient

#endif
