#include "exchange/form_encode.h"

#include "exchange/arguments.h"

namespace taskclient {

namespace {

bool IsFormReserved(unsigned char c) {
  switch (c) {
    case ' ': case '!': case '$': case '%': case '&': case '\'': case '(': case ')': case '*':
    case '+': case ',': case '/': case ':': case ';': case '=': case '?': case '@':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool FormEncode(const char* bytes, size_t length, Text* out) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (IsFormReserved(c) ? !AppendPercentEscape(c, out) : !out->AppendByte(static_cast<char>(c))) return false;
  }
  return true;
}

}  // namespace taskclient
