// Request composition and the encodings of what goes into it, byte for byte.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "exchange/request.h"
#include "support/scripted_platform.h"
#include "text/escape.h"
#include "text/utf8.h"
#include "testing/text16.h"

using namespace taskclient;
using testsupport::T;
using testsupport::U;

namespace {

void Put(Text* text, const std::string& bytes) { ASSERT_TRUE(text->Append(bytes.data(), bytes.size())); }

std::string Str(const Text& text) { return std::string(text.data(), text.size()); }

// Bytes in and the bytes an encoder must make of them.
struct InOut {
  std::string in, out;
};

TEST(RequestText, EveryVariantByteForByte) {
  const std::string formBody(57, 'b');
  struct Row {
    const char *method, *path, *host, *token, *contentType, *body;  // a null token or body: none
    std::string expected;
  } rows[] = {
      {"GET ", "/tasks/v1/users/@me/lists", kApiHost, "ya29.token", nullptr, nullptr,
       "GET /tasks/v1/users/@me/lists HTTP/1.1\r\nHost: www.googleapis.com\r\nAuthorization: Bearer ya29.token\r\n"
       "Accept: */*\r\n\r\n"},
      // An empty token leaves an empty bearer.
      {"DELETE ", "/p", "h", "", nullptr, nullptr,
       "DELETE /p HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer \r\nAccept: */*\r\n\r\n"},
      // Form and JSON requests end with their body.
      {"POST ", "/oauth2/v3/token", kApiHost, nullptr, kFormContentType, formBody.c_str(),
       "POST /oauth2/v3/token HTTP/1.1\r\nHost: www.googleapis.com\r\nContent-type: application/x-www-form-urlencoded\r\n"
       "Accept: */*\r\nContent-Length: 57\r\n\r\n" + formBody},
      {"POST ", "/oauth2/v3/token", kApiHost, "t", kJsonContentType, "{ \"title\": \"Buy milk\" }",
       "POST /oauth2/v3/token HTTP/1.1\r\nHost: www.googleapis.com\r\nAuthorization: Bearer t\r\n"
       "Content-Type: application/json\r\nAccept: */*\r\nContent-Length: 23\r\n\r\n{ \"title\": \"Buy milk\" }"},
      // An empty body still gives its length, without a type.
      {"POST ", "/tasks/v1/lists/l/clear", kApiHost, "t", nullptr, "",
       "POST /tasks/v1/lists/l/clear HTTP/1.1\r\nHost: www.googleapis.com\r\nAuthorization: Bearer t\r\n"
       "Accept: */*\r\nContent-Length: 0\r\n\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    FixedText<kPathCapacity> path;
    Put(&path, row.path);
    const std::u16string token = U(row.token ? row.token : "");
    FixedText<kBodyCapacity> body;
    if (row.body) Put(&body, row.body);
    RequestText request;
    RequestParts parts = {row.method, &path, row.host, row.token ? T(token) : nullptr, row.contentType,
                          row.body ? &body : nullptr};
    testsupport::ScriptedPlatform platform;
    size_t bodyInRequest = 0;
    ASSERT_EQ(ComposeRequest(platform, parts, &request, &bodyInRequest), kOk);
    EXPECT_EQ(Str(request), row.expected);
  }
}

TEST(RequestText, LargestRequestFitsAndOverflowIsReported) {
  FixedText<kAddPathCapacity> path;
  path.Append(std::string(kAddPathCapacity - 1, 'p').c_str());
  const std::u16string token = U(std::string(kTokenCapacity - 1, 't'));
  FixedText<kBodyCapacity> body;
  Put(&body, std::string(kBodyCapacity - 1, 'b'));
  std::string host(kHostCapacity - 1, 'h');
  RequestText request;
  RequestParts parts = {"DELETE ", &path, host.c_str(), T(token), kFormContentType, &body};
  testsupport::ScriptedPlatform platform;
  size_t bodyInRequest = 0;
  EXPECT_EQ(ComposeRequest(platform, parts, &request, &bodyInRequest), kOk);
  EXPECT_EQ(bodyInRequest, body.size());

  FixedText<64> small;
  EXPECT_EQ(ComposeRequest(platform, parts, &small, &bodyInRequest), kTooLong);
  EXPECT_TRUE(small.overflowed());
  EXPECT_LT(small.size(), small.capacity());
  EXPECT_EQ(small.data()[small.size()], '\0');
}

TEST(Text, AppendsWholePiecesOrNothing) {
  FixedText<8> text;
  EXPECT_TRUE(text.Append("abc"));
  EXPECT_FALSE(text.Append("12345"));  // 3 + 5 bytes leave no room for the NUL
  EXPECT_EQ(Str(text), "abc");
  EXPECT_TRUE(text.overflowed());
  EXPECT_FALSE(text.Append("x"));  // overflow sticks
  text.Clear();
  EXPECT_TRUE(text.AppendDecimal(4294967295u) == false);
  text.Clear();
  EXPECT_TRUE(text.AppendDecimal(0));
  EXPECT_TRUE(text.AppendDecimal(123456));
  EXPECT_EQ(Str(text), "0123456");
}

TEST(FormEncode, EscapesAllButTheUnreserved) {
  const InOut rows[] = {
      {"urn:ietf:wg:oauth:2.0:oob", "urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob"},
      {"authorization_code", "authorization_code"},
      {"refresh_token", "refresh_token"},
      {"a b&c", "a%20b%26c"},
      {"100%", "100%25"},
      {"%41", "%2541"},
      {" !$%&'()*+,/:;=?@", "%20%21%24%25%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40"},
      {"-._~\"#<>[]\\^`{|}", "-._~%22%23%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
      {"\x01\x1f\x7f\x80\xc3\xa9\xff", "%01%1F%7F%80%C3%A9%FF"},
      {"1//0gdX-_~.tok\r\nX: 1", "1%2F%2F0gdX-_~.tok%0D%0AX%3A%201"},
      {"", ""},
  };
  for (const InOut& row : rows) {
    FixedText<kBodyCapacity> out;
    ASSERT_TRUE(FormEncode(row.in.data(), row.in.size(), &out));
    EXPECT_EQ(Str(out), row.out) << row.in;
  }
  // Only the unreserved bytes pass through unchanged.
  for (int c = 1; c < 256; ++c) {
    char byte = static_cast<char>(c);
    FixedText<8> out;
    ASSERT_TRUE(FormEncode(&byte, 1, &out));
    if (std::isalnum(c) || std::string("-._~").find(byte) != std::string::npos) {
      EXPECT_EQ(Str(out), std::string(1, byte)) << c;
    } else {
      EXPECT_EQ(out.size(), 3u) << c;
    }
  }
}

TEST(FormEncode, NeverSplitsAnEscape) {
  FixedText<6> out;  // room for 5 bytes
  EXPECT_FALSE(FormEncode("ab//", 4, &out));
  EXPECT_EQ(Str(out), "ab%2F");
}

TEST(PathSegment, EscapesWhatCannotStandInATarget) {
  const InOut rows[] = {
      {"abc", "abc"},
      {"a b", "a%20b"},
      {"a/b?c=d&e%f", "a%2Fb%3Fc=d&e%f"},
      {"../../X/tasks/T?x=1", "..%2F..%2FX%2Ftasks%2FT%3Fx=1"},
      {"\"#<>\\^`{|}", "%22%23%3C%3E%5C%5E%60%7B%7C%7D"},
      {"\x01\x1f\x7f\x80\xff", "%01%1F%7F%80%FF"},
      {"MTIzNDU2Nzg5MDEyMzQ1Njc4OTA:0:0", "MTIzNDU2Nzg5MDEyMzQ1Njc4OTA:0:0"},
  };
  for (const InOut& row : rows) {
    FixedText<kPathCapacity> id;
    Put(&id, row.in);
    FixedText<kPathCapacity> out;
    ASSERT_TRUE(AppendPathSegment(id, &out));
    EXPECT_EQ(Str(out), row.out) << row.in;
  }
  // The segments a server resolves against the one before, in every spelling.
  for (const char* dots : {".", "..", "%2e", "%2E%2e", ".%2E", "%2e."}) EXPECT_TRUE(IsDotSegment(dots, strlen(dots))) << dots;
  for (const char* plain : {"", "...", ".a", "a.", "%2", "%2f", "%2e%", "%2e%2e%2e", "%3e"}) {
    EXPECT_FALSE(IsDotSegment(plain, strlen(plain))) << plain;
  }
}

TEST(JsonString, EscapesQuotesBackslashesAndControls) {
  FixedText<kBodyCapacity> title;
  Put(&title, "a\"b\\c\nd\re\tf\bg\fh\x01i\x1fj\x7f\xc3\xa9");
  FixedText<kBodyCapacity> out;
  ASSERT_TRUE(AppendJsonString(title, &out));
  EXPECT_EQ(Str(out), "a\\\"b\\\\c\\nd\\re\\tf\\bg\\fh\\u0001i\\u001Fj\x7f\xc3\xa9");
}

TEST(Utf8, ConvertsPairsAndReplacesLoneSurrogates) {
  struct Row {
    std::u16string in;
    std::string out;
  } rows[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"Caf\u00e9 \u2615", "Caf\xc3\xa9 \xe2\x98\x95"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {u"\U00010000", "\xf0\x90\x80\x80"},  // the first pair, and the last: both bounds of each half
      {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
      {u"\uFFFF", "\xef\xbf\xbf"},
      {std::u16string(1, char16_t(0xD800)) + u"x", "\xef\xbf\xbdx"},
      {u"x" + std::u16string(1, char16_t(0xDC00)), "x\xef\xbf\xbd"},
      {std::u16string(1, char16_t(0xDBFF)), "\xef\xbf\xbd"},
      {std::u16string(1, char16_t(0xDFFF)) + u"y", "\xef\xbf\xbdy"},
  };
  for (const Row& row : rows) {
    char out[32];
    size_t length = 99;
    ASSERT_TRUE(Utf16ToUtf8(testsupport::T(row.in), out, sizeof out, &length));
    EXPECT_EQ(std::string(out, length), row.out);
    // Exactly the rows whose text became U+FFFD hold a lone surrogate, which
    // every argument check refuses.
    EXPECT_EQ(HasLoneSurrogate(testsupport::T(row.in)), row.out.find("\xef\xbf\xbd") != std::string::npos);
    EXPECT_EQ(out[length], '\0');
  }
  char small[4];
  size_t length = 0;
  EXPECT_TRUE(Utf16ToUtf8(testsupport::T(u"abc"), small, sizeof small, &length));
  EXPECT_FALSE(Utf16ToUtf8(testsupport::T(u"abcd"), small, sizeof small, &length));
  EXPECT_EQ(small[0], '\0');
  EXPECT_FALSE(Utf16ToUtf8(testsupport::T(u"ab\u00e9"), small, sizeof small, &length));  // é needs 2 bytes
}

}  // namespace
