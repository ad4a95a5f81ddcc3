// The escapes text needs to stand in a request: in a request-target, a query
// value, a form value and a JSON string. Each appends to its caller's own
// text, so any number may run at once, and appends an escape whole or not at
// all: false when the bytes do not fit.
#ifndef TASKCLIENT_TEXT_ESCAPE_H
#define TASKCLIENT_TEXT_ESCAPE_H

#include <stddef.h>

#include "text/text.h"

namespace taskclient {

// Appends an id as one segment of a request target: control bytes, space,
// " # / < > ? \ ^ ` { | } and bytes from 0x80 are written as %XX, so the id
// can neither leave its segment nor start a query; every other byte, % & =
// included, goes in as given.
bool AppendPathSegment(const Text& id, Text* out);

// Whether a path segment is "." or "..", written plainly or with its dots
// as %2E or %2e: a segment a server resolves against the ones before it.
bool IsDotSegment(const char* bytes, size_t length);

// Appends a query parameter value: letters, digits, - . _ ~ as they are,
// every other byte as %XX.
bool AppendQueryValue(const Text& value, Text* out);

// Appends `bytes` as a form value: letters, digits, - . _ ~ as they are,
// every other byte (control and non-ASCII bytes included) as "%XX"
// (upper-case hex), a space "%20" rather than "+".
bool FormEncode(const char* bytes, size_t length, Text* out);

// Appends text as the inside of a JSON string: " and \ escaped with a
// backslash, control bytes as \n \r \t \b \f or \u00XX.
bool AppendJsonString(const Text& text, Text* out);

}  // namespace taskclient

#endif
