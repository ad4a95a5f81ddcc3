// The value of one hexadecimal digit, for the readers of chunk sizes and of
// JSON's \u escapes.
#ifndef TASKCLIENT_TEXT_HEX_H
#define TASKCLIENT_TEXT_HEX_H

namespace taskclient {

// 0 to 15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for any other byte.
inline int HexValue(unsigned char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

}  // namespace taskclient

#endif
