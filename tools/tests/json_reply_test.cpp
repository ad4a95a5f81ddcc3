// Reading replies and JSON as the tools do: the chunked framing is removed
// exactly, and the JSON reader accepts what RFC 8259 allows and nothing else
// (the local service answers 400 on what it refuses).
#include <gtest/gtest.h>

#include "json_reply.h"

using tools::JsonValue;
using tools::ParseJson;
using tools::ReadReply;

namespace {

TEST(JsonReader, DecodesStringsAndFollowsPaths) {
  struct Case {
    const char* json;
    const char* path;
    std::string expected;
  } cases[] = {
      {R"({"title": "a\"b\\c\/d"})", "title", "a\"b\\c/d"},
      {R"({"title": "\b\f\n\r\t"})", "title", "\b\f\n\r\t"},
      {R"({"title": "\u0041\u00e9\u20AC"})", "title", "A\xC3\xA9\xE2\x82\xAC"},
      {R"({"title": "\ud83e\udd5b"})", "title", "\xF0\x9F\xA5\x9B"},
      {"{\"title\": \"\xF0\x9F\xA5\x9B raw\"}", "title", "\xF0\x9F\xA5\x9B raw"},
      {R"( { "items" : [ {"id": "a"}, {"id": "b"} ] } )", "items.1.id", "b"},
      {R"({"n": -12.5e+3, "t": true, "z": null})", "n", "-12.5e+3"},
      {R"({"a": {"b": [1, [2, 3]]}})", "a.b.1.0", "2"},
      {R"({"a": {"b": [1, [2, 3]]}})", "a", R"({"b":[1,[2,3]]})"},
      {R"({"e": "x\u0001y"})", "e", "x\x01y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    std::string error;
    std::optional<JsonValue> value = ParseJson(c.json, &error);
    ASSERT_TRUE(value) << error;
    const JsonValue* found = value->At(c.path);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->ToString(), c.expected);
  }
  std::optional<JsonValue> items = ParseJson(R"({"items": [{"t": "x"}, {"u": 1}, {"t": "y"}], "n": 2})");
  std::vector<std::string> found;
  for (const JsonValue* value : items->All("items.*.t")) found.push_back(value->text);
  EXPECT_EQ(found, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(items->All("items.*").size(), 3u);
  EXPECT_EQ(items->All("n").size(), 1u);
  EXPECT_TRUE(items->All("n.*").empty());
  EXPECT_EQ(ParseJson(R"({"a": [1]})")->At("a.1"), nullptr);
  EXPECT_EQ(ParseJson(R"({"a": [1]})")->At("b"), nullptr);
}

TEST(JsonReader, RefusesWhatIsNotJson) {
  const std::string deep = std::string(100, '[') + std::string(100, ']');  // valid, but nested too deeply
  const char* bad[] = {
      "", "{", "{\"a\": 1,}", "[1,]", "{'a': 1}", "{\"a\" 1}", "{a: 1}", "01", "1.", ".5", "-", "1e", "+1",
      "tru", "nul", "\"\\x\"", "\"\\u12\"", "\"\\uD800\"", "\"\\uDC00\"", "\"\\uD800\\u0041\"", "\"a\nb\"",
      "\"open", "{} {}", "{\"a\": 1} x", deep.c_str(),
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ParseJson(text, &error)) << "accepted: " << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(JsonReader, QuoteRoundTrips) {
  const std::string text = "q\"b\\s/\x01\x1f\n\xC3\xA9";
  EXPECT_EQ(tools::JsonQuote(text), "\"q\\\"b\\\\s/\\u0001\\u001f\\u000a\xC3\xA9\"");
  EXPECT_EQ(ParseJson(tools::JsonQuote(text))->text, text);
}

TEST(ReplyReader, RemovesChunkedFramingExactly) {
  std::optional<tools::Reply> reply = ReadReply(
      "HTTP/1.1 200 OK\r\nTRANSFER-ENCODING: chunked\r\nX: y\r\n\r\n"
      "3\r\n{\"a\r\n4;ext=1\r\n\": 1\r\nA\r\n, \"b\": 22}\r\n0\r\nTrailer: t\r\n\r\n");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->headers["x"], "y");
  EXPECT_EQ(reply->body, "{\"a\": 1, \"b\": 22}");
  EXPECT_EQ(reply->chunks, 3);

  std::optional<tools::Reply> plain = ReadReply("HTTP/1.1 204 No Content\r\nDate: d\r\n\r\n");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->status, 204);
  EXPECT_EQ(plain->body, "");

  struct Framed {
    const char* raw;
    const char* body;
    const char* statusLine = "HTTP/1.1 200 OK";
    const char* x = "";  // the value of header X
  } framed[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcd", "ab"},  // bytes past the length are not the body
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nto the end", "to the end"},
      {"HTTP/1.1 304 Not Modified\r\n\r\nstray", "", "HTTP/1.1 304 Not Modified"},
      // Bare LF line ends, as the library's scanner takes them; interim
      // replies and blank lines before the status line passed over.
      {"HTTP/1.1 100 Continue\nX: no\n\n\nHTTP/1.1 200 OK\nX:  y \n folded: no\nContent-Length: 2\n\nabcd", "ab",
       "HTTP/1.1 200 OK", "y"},
      {"\r\nHTTP/1.1 201 Created\nTransfer-Encoding: chunked\r\nX: z\n\n2\nab\r\n1;e\nc\n0\n\n", "abc",
       "HTTP/1.1 201 Created", "z"},
  };
  for (const Framed& f : framed) {
    std::optional<tools::Reply> read = ReadReply(f.raw);
    ASSERT_TRUE(read) << f.raw;
    EXPECT_EQ(read->body, f.body);
    EXPECT_EQ(read->statusLine, f.statusLine);
    EXPECT_EQ(read->status, std::stoi(std::string(f.statusLine).substr(9, 3)));
    EXPECT_EQ(read->headers["x"], f.x);
    EXPECT_EQ(read->headers.count("folded"), 0u);
    const std::string raw = f.raw;  // the head is the bytes before the body
    EXPECT_EQ(raw.rfind(read->head, 0), 0u);
    if (!read->chunked) {
      EXPECT_EQ(raw.substr(read->head.size(), read->body.size()), read->body);
    }
  }

  for (const char* broken : {
           "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n",                             // head cut short
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab",         // chunk cut short
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n",  // size not hex
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n",  // no CRLF after data
           "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc",                // body shorter than its length
           "HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\nabc",                // length not a number
       }) {
    std::string error;
    EXPECT_FALSE(ReadReply(broken, &error)) << broken;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
