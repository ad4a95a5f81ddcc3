// Turning the caller's 16-bit arguments into the pieces of a request.
#ifndef TASKCLIENT_EXCHANGE_ARGUMENTS_H
#define TASKCLIENT_EXCHANGE_ARGUMENTS_H

#include <stddef.h>
#include <stdint.h>

#include "exchange/result.h"
#include "exchange/text.h"
#include "platform/platform.h"

namespace taskclient {

// Converts `text` into `out`. Returns kOk, kBadArgument for a null pointer,
// or kTooLong when the narrow text does not fit.
Result NarrowArgument(Platform& platform, const tc_text16* text, NarrowEncoding encoding, Text* out);

// Converts an access token for the "Authorization" line. A control byte would
// end the header line early or inject another one: kBadArgument.
Result NarrowToken(Platform& platform, const tc_text16* token, Text* out);

// Appends "%XX" (upper-case hex) for `byte`.
bool AppendPercentEscape(unsigned char byte, Text* out);

// One way of escaping text: which bytes are escaped, and how one is written.
struct Escaping {
  bool (*needsEscape)(unsigned char byte);
  bool (*appendEscape)(unsigned char byte, Text* out);
};

// Appends `bytes`, each byte as it is or as its escape. False when they do
// not fit; an escape is never split.
bool AppendEscaped(const Escaping& escaping, const char* bytes, size_t length, Text* out);

extern const Escaping kFormValueEscaping;

// Appends an id as it may stand in a request target: control bytes, space,
// " # < > \ ^ ` { | } and bytes from 0x80 are written as %XX; every other
// byte, / ? % & = included, goes in as given.
bool AppendPathSegment(const Text& id, Text* out);

// Appends a query parameter value: letters, digits, - . _ ~ as they are,
// every other byte as %XX.
bool AppendQueryValue(const Text& value, Text* out);

// Appends text as the inside of a JSON string: " and \ escaped with a
// backslash, control bytes as \n \r \t \b \f or \u00XX.
bool AppendJsonString(const Text& text, Text* out);

}  // namespace taskclient

#endif
