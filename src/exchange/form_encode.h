#ifndef TASKCLIENT_EXCHANGE_FORM_ENCODE_H
#define TASKCLIENT_EXCHANGE_FORM_ENCODE_H

#include <stddef.h>

#include "exchange/text.h"

namespace taskclient {

// Appends `bytes` to `out` as a form value: space ! $ % & ' ( ) * + , / : ; = ?
// and @ become "%XX" (upper-case hex), a space "%20" rather than "+"; every
// other byte is copied as it is. Each call writes into its caller's own text,
// so any number of encodings may run at once. False when the value does not
// fit; an escape is never split.
bool FormEncode(const char* bytes, size_t length, Text* out);

}  // namespace taskclient

#endif
