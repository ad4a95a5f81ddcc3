#include "exchange/form_encode.h"

#include "exchange/arguments.h"

namespace taskclient {

bool FormEncode(const char* bytes, size_t length, Text* out) {
  return AppendEscaped(kFormValueEscaping, bytes, length, out);
}

}  // namespace taskclient
