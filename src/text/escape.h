// The escapes text needs to stand in a request: in a request-target, a query
// value, a form value and a JSON string. Each appends to its caller's own
// text, so any number may run at once, and appends an escape whole or not at
// all: false when the bytes do not fit.
#ifndef TASKCLIENT_TEXT_ESCAPE_H
#define TASKCLIENT_TEXT_ESCAPE_H

#include <stddef.h>

#include "text/text.h"

namespace taskclient {

// Appends an id as it may stand in a request target: control bytes, space,
// " # < > \ ^ ` { | } and bytes from 0x80 are written as %XX; every other
// byte, / ? % & = included, goes in as given.
bool AppendPathSegment(const Text& id, Text* out);

// Appends a query parameter value: letters, digits, - . _ ~ as they are,
// every other byte as %XX.
bool AppendQueryValue(const Text& value, Text* out);

// Appends `bytes` as a form value: space ! $ % & ' ( ) * + , / : ; = ? and @
// become "%XX" (upper-case hex), a space "%20" rather than "+"; every other
// byte is copied as it is.
bool FormEncode(const char* bytes, size_t length, Text* out);

// Appends text as the inside of a JSON string: " and \ escaped with a
// backslash, control bytes as \n \r \t \b \f or \u00XX.
bool AppendJsonString(const Text& text, Text* out);

}  // namespace taskclient

#endif
