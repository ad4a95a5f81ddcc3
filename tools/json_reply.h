// Reading what the service sends back, as a host program reads its response
// file: the status line, the headers, the body with any chunked framing
// removed, and the JSON text in it. Shared by the command-line tool, the local
// stand-in for the service (which reads request bodies with the same JSON
// reader) and their tests. C++17 with the standard library: not device code.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tools {

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  std::string text;  // a string's value (UTF-8, escapes decoded), a number as written, "true"/"false"
  std::vector<JsonValue> elements;                          // an array's
  std::vector<std::pair<std::string, JsonValue>> members;   // an object's, in order

  // The first member called `name` of an object, or null.
  const JsonValue* Find(std::string_view name) const;
  // Follows a dotted path: member names, and numbers for array elements
  // ("items.0.id"). Null where the path leads nowhere.
  const JsonValue* At(std::string_view path) const;
  // Like At, where a "*" step stands for every element of an array
  // ("items.*.title"): every value the path leads to, in order.
  std::vector<const JsonValue*> All(std::string_view path) const;
  // A string's or number's text, or the value written back as compact JSON.
  std::string ToString() const;
};

// Parses one JSON text strictly (RFC 8259): nothing but whitespace around
// the value, no raw control characters in strings, every escape valid,
// \uXXXX surrogates paired. On failure `*error` says what and where.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error = nullptr);

// `utf8` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view utf8);

// One HTTP reply as a response file holds it.
struct Reply {
  std::string head;        // the bytes before the body: any interim replies, the final one's head and empty line
  std::string statusLine;  // without its line end
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case, last one wins
  std::string body;        // framing removed: chunked decoded, or Content-Length bytes, or to the end
  bool chunked = false;
  int chunks = 0;          // data chunks in a chunked body
};

// Splits the raw reply as the library's reply scanner reads it (CRLF or bare
// LF line ends, interim 1xx replies passed over) and removes the body's
// framing: a chunked body is decoded, otherwise the body is Content-Length
// bytes, or runs to the end when no length is given (none for 1xx, 204 and
// 304). Returns nothing (with `*error`) when the head is incomplete or the
// framing broken.
std::optional<Reply> ReadReply(std::string_view raw, std::string* error = nullptr);

}  // namespace tools
