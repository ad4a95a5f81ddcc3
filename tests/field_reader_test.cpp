// The field reader (GTaskReadField) on the bodies the service writes and on
// every shape of JSON body: the value written whole or nothing past value[0],
// and the same answer however the body is split.
#include "readers/field_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testing/text16.h"

#include <string>
#include <vector>

using taskclient::FieldReader;
using testsupport::PathText;
using testsupport::T;
using testsupport::U;

namespace {

// Bodies as the service (and the local stand-in) writes them.
const char kTokenBody[] = R"({
  "access_token": "ya29.local-AbC",
  "expires_in": 3599,
  "refresh_token": "1//local-XyZ",
  "scope": "https://www.googleapis.com/auth/tasks",
  "token_type": "Bearer"
})";
const char kTokenErrorBody[] = "{\n  \"error\": \"invalid_grant\",\n  \"error_description\": \"Bad Request\"\n}";
const char kListsBody[] = R"({
  "kind": "tasks#taskLists",
  "etag": "\"local\"",
  "items": [
    {
      "kind": "tasks#taskList",
      "id": "MDE",
      "etag": "\"e1\"",
      "title": "My Tasks",
      "updated": "2026-12-10T08:00:00.000Z",
      "selfLink": "https://127.0.0.1:8443/tasks/v1/users/@me/lists/MDE"
    },
    {
      "kind": "tasks#taskList",
      "id": "MDI",
      "etag": "\"e2\"",
      "title": "Backlog",
      "updated": "2026-12-10T08:00:01.000Z",
      "selfLink": "https://127.0.0.1:8443/tasks/v1/users/@me/lists/MDI"
    }
  ]
}
)";
const char kTask[] = R"({
      "kind": "tasks#task",
      "id": "dDE",
      "etag": "\"e3\"",
      "title": "Buy milk \u00e9 \"2%\"",
      "updated": "2026-12-10T08:00:02.000Z",
      "selfLink": "https://127.0.0.1:8443/tasks/v1/lists/MDE/tasks/dDE",
      "position": "00000000000000000001",
      "notes": "line 1\nline 2",
      "status": "completed",
      "due": "2026-12-24T00:00:00.000Z",
      "completed": "2026-12-10T08:00:03.000Z",
      "hidden": true
    })";
const char kApiErrorBody[] = R"({
  "error": {
    "code": 404,
    "message": "Requested entity was not found.",
    "errors": [
      {
        "message": "Requested entity was not found.",
        "domain": "global",
        "reason": "notFound"
      }
    ],
    "status": "NOT_FOUND"
  }
}
)";

struct FieldCase {
  std::string name;
  std::string body;
  std::u16string path;
  int32_t result;
  std::string value;  // UTF-8, for 999
};

std::vector<FieldCase> FieldCases() {
  const std::string tasksBody = std::string("{\n  \"kind\": \"tasks#tasks\",\n  \"etag\": \"\\\"local\\\"\",\n"
                                            "  \"nextPageToken\": \"100\",\n  \"items\": [\n    ") +
                                kTask + ",\n    " + kTask + "\n  ]\n}\n";
  const std::string nested = R"({"a": {"b": [1, {"c": "x\u0041"}], "d": {}, "e": []}, "f": -0})";
  std::string deep(300, '[');
  deep = "{\"deep\": " + deep + "{\"x\": \"]\\\"\"}" + std::string(300, ']') + ", \"a\": \"after\"}";
  std::string longPath = "a";
  for (size_t i = 1; i < taskclient::kMaxFieldSegments; ++i) longPath += ".a";
  const int32_t kFound = TC_EXCHANGE_COMPLETE, kMissing = TC_FIELD_MISSING, kNotJson = TC_REPLY_CUT_SHORT;
  std::vector<FieldCase> cases = {
      {"token", kTokenBody, u"access_token", kFound, "ya29.local-AbC"},
      {"token: a number", kTokenBody, u"expires_in", kFound, "3599"},
      {"token: the last member", kTokenBody, u"token_type", kFound, "Bearer"},
      {"token: no such member", kTokenBody, u"id_token", kMissing, ""},
      {"token error", kTokenErrorBody, u"error", kFound, "invalid_grant"},
      {"token error: a step into a string", kTokenErrorBody, u"error.message", kMissing, ""},
      {"lists", kListsBody, u"items.1.title", kFound, "Backlog"},
      {"lists: an escaped etag", kListsBody, u"etag", kFound, "\"local\""},
      {"lists: count", kListsBody, u"items.#", kFound, "2"},
      {"lists: index past the end", kListsBody, u"items.2", kMissing, ""},
      // Indexes beyond any array's reach name nothing, never element 0.
      {"lists: index 2^32", kListsBody, u"items.4294967296", kMissing, ""},
      {"lists: index 2^32 + 1", kListsBody, u"items.4294967297.id", kMissing, ""},
      {"lists: index 2^64", kListsBody, u"items.18446744073709551616", kMissing, ""},
      {"lists: an index of 40 digits", kListsBody, u"items.1000000000000000000000000000000000000000", kMissing, ""},
      {"lists: an index with leading zeros", kListsBody, u"items.01.id", kFound, "MDI"},
      {"lists: a name on an array", kListsBody, u"items.id", kMissing, ""},
      {"tasks: next page", tasksBody, u"nextPageToken", kFound, "100"},
      {"tasks: a literal", tasksBody, u"items.1.hidden", kFound, "true"},
      {"tasks: escapes", tasksBody, u"items.1.title", kFound, "Buy milk \xc3\xa9 \"2%\""},
      {"tasks: a line end", tasksBody, u"items.0.notes", kFound, "line 1\nline 2"},
      {"tasks: count after a long item", tasksBody, u"items.#", kFound, "2"},
      {"task", kTask, u"status", kFound, "completed"},
      {"task: a step into a literal", kTask, u"hidden.x", kMissing, ""},
      {"error", kApiErrorBody, u"error.errors.0.reason", kFound, "notFound"},
      {"error: a number in an object", kApiErrorBody, u"error.code", kFound, "404"},
      {"error: an array's text", kApiErrorBody, u"error.errors",
       kFound, "[\n      {\n        \"message\": \"Requested entity was not found.\",\n        \"domain\": \"global\",\n"
               "        \"reason\": \"notFound\"\n      }\n    ]"},
      {"every escape", R"({"s": "a\"b\\c\/d\b\f\n\r\t"})", u"s", kFound, "a\"b\\c/d\b\f\n\r\t"},
      {"\\u escapes", R"({"s": "\u00e9\u4E2D\u0000x"})", u"s", kFound, std::string("\xc3\xa9\xe4\xb8\xad\0x", 7)},
      {"a surrogate pair joined", R"({"s": "\ud83d\ude00!"})", u"s", kFound, "\xf0\x9f\x98\x80!"},
      {"UTF-8 decoded", "{\"s\": \"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"}", u"s", kFound,
       "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"},
      {"a lone high surrogate", R"({"s": "\ud800"})", u"s", kNotJson, ""},
      {"a high surrogate, then no low one", R"({"s": "\ud800\u0041"})", u"s", kNotJson, ""},
      {"a lone low surrogate", R"({"s": "\udc00"})", u"s", kNotJson, ""},
      {"a short \\u escape", R"({"s": "\u12"})", u"s", kNotJson, ""},
      {"an unknown escape", R"({"s": "\x"})", u"s", kNotJson, ""},
      {"a raw control character", "{\"s\": \"a\tb\"}", u"s", kNotJson, ""},
      {"a byte that is no UTF-8", "{\"s\": \"\xff\"}", u"s", kNotJson, ""},
      {"an overlong form", "{\"s\": \"\xc0\xaf\"}", u"s", kNotJson, ""},
      {"a surrogate in UTF-8", "{\"s\": \"\xed\xa0\x80\"}", u"s", kNotJson, ""},
      {"a character cut short", "{\"s\": \"\xe4\xb8\"}", u"s", kNotJson, ""},
      {"past U+10FFFF", "{\"s\": \"\xf4\x90\x80\x80\"}", u"s", kNotJson, ""},
      {"bad UTF-8 in a string passed over", "{\"x\": \"\xc3\", \"s\": 1}", u"s", kNotJson, ""},
      {"minus zero", "{\"n\": -0}", u"n", kFound, "-0"},
      {"an exponent", "{\"n\": 1e5 }", u"n", kFound, "1e5"},
      {"a fraction and a negative exponent", "[1.5E-3]", u"0", kFound, "1.5E-3"},
      {"every part of a number", "[-12.250e+10, 2]", u"0", kFound, "-12.250e+10"},
      {"a leading zero", "{\"n\": 01}", u"n", kNotJson, ""},
      {"a point without digits", "{\"n\": 1.}", u"n", kNotJson, ""},
      {"a minus alone", "{\"n\": -}", u"n", kNotJson, ""},
      {"a point first", "{\"n\": .5}", u"n", kNotJson, ""},
      {"an exponent without digits", "{\"n\": 1e}", u"n", kNotJson, ""},
      {"a number at the end of the body", "{\"n\": 12", u"n", kNotJson, ""},
      {"an exponent sign without digits", "{\"n\": 1e+}", u"n", kNotJson, ""},
      {"an exponent sign without digits, at the end", "[1E-", u"0", kNotJson, ""},
      {"false", "[false]", u"0", kFound, "false"},
      {"null", "{\"v\": null}", u"v", kFound, "null"},
      {"a literal cut short", "{\"v\": tru}", u"v", kNotJson, ""},
      {"a literal with more letters", "{\"v\": nulls}", u"v", kNotJson, ""},
      {"an object's exact text", nested, u"a", kFound, R"({"b": [1, {"c": "x\u0041"}], "d": {}, "e": []})"},
      {"an array's exact text", nested, u"a.b", kFound, R"([1, {"c": "x\u0041"}])"},
      {"down an array into an object", nested, u"a.b.1.c", kFound, "xA"},
      {"an empty object", nested, u"a.d", kFound, "{}"},
      {"an empty array's count", nested, u"a.e.#", kFound, "0"},
      {"a value after an object", nested, u"f", kFound, "-0"},
      {"nested", R"({"nested": {"a": {"b": [0, 1, {"c": "deep"}]}}})", u"nested.a.b.2.c", kFound, "deep"},
      {"UTF-8 in an object's text", "{\"o\": {\"t\": \"\xc3\xa9\xf0\x9f\x98\x80\"}}", u"o", kFound,
       "{\"t\": \"\xc3\xa9\xf0\x9f\x98\x80\"}"},
      {"a whole array's count", "[1, [2, 3], {\"4\": 5}]", u"#", kFound, "3"},
      {"# on an object is a member name", R"({"#": 7})", u"#", kFound, "7"},
      {"# on an object without one", R"({"a": 7})", u"#", kMissing, ""},
      {"# before the last step", R"({"a": [{"b": 1}]})", u"a.#.b", kMissing, ""},
      {"digits on an object are a member name", R"({"1": "one", "0": "zero"})", u"0", kFound, "zero"},
      {"escaped member names", R"({"\u00e9": 1, "\ud83d\ude00": 2})", u"\u00e9", kFound, "1"},
      {"a member name beyond U+FFFF", R"({"\u00e9": 1, "\ud83d\ude00": 2})", U("\xf0\x9f\x98\x80"), kFound, "2"},
      {"a longer member name", R"({"ab": 1})", u"a", kMissing, ""},
      {"a shorter member name", R"({"a": 1})", u"ab", kMissing, ""},
      {"the first of two members", R"({"a": 1, "a": 2})", u"a", kFound, "1"},
      {"the first of two members, without the rest", R"({"a": {}, "a": {"b": 1}})", u"a.b", kMissing, ""},
      {"a string as the body", R"("abc")", u"a", kMissing, ""},
      {"a number as the body", "5", u"a", kMissing, ""},
      {"blanks everywhere", "\r\n\t {\"x\" :[ ] ,\"a\" \n : \t \"v\" \r\n }", u"a", kFound, "v"},
      {"read no further than the value", "{\"a\": \"v\", \"b\": ", u"a", kFound, "v"},
      {"bytes after the answer", "{\"a\": 1} <html>", u"b", kMissing, ""},
      {"no comma after the value", "{\"a\": 1 \"b\": 2}", u"a", kNotJson, ""},
      {"the wrong bracket after the value", "{\"a\": 1]", u"a", kNotJson, ""},
      {"the body ends after the value", "{\"a\": \"v\"", u"a", kNotJson, ""},
      {"a trailing comma passed over", "{\"x\": [1, 2,], \"a\": 1}", u"a", kNotJson, ""},
      {"a bad literal passed over", "{\"x\": tru, \"a\": 1}", u"a", kNotJson, ""},
      {"a member without a name", "{\"x\": 1, 2}", u"a", kNotJson, ""},
      {"a comma first in an array", "{\"x\": [, 1], \"a\": 1}", u"a", kNotJson, ""},
      {"a comma first in an object", "{, \"a\": 1}", u"a", kNotJson, ""},
      {"a member without a colon", "{\"a\" 1}", u"a", kNotJson, ""},
      {"a byte order mark", "\xef\xbb\xbf{\"a\": 1}", u"a", kNotJson, ""},
      {"an empty body", "", u"a", kNotJson, ""},
      {"blanks only", " \r\n", u"a", kNotJson, ""},
      {"HTML", "<html>", u"a", kNotJson, ""},
      {"deep nesting passed over", deep, u"a", kFound, "after"},
      {"deep nesting as the value", deep, u"deep", kFound, deep.substr(9, 600 + 12)},
      // Beyond the levels whose kind is kept, brackets are matched by number,
      // the outermost one by kind too.
      {"deepest brackets matched by number", deep.substr(0, 9 + 299) + "{" + deep.substr(9 + 300), u"a", kFound,
       "after"},
      // Strings deep down are read as everywhere else.
      {"a bad escape deep down", deep.substr(0, 9 + 280) + "\"\\x\"" + deep.substr(9 + 280), u"a", kNotJson, ""},
      {"a raw control character deep down", deep.substr(0, 9 + 280) + "\"\t\"" + deep.substr(9 + 280), u"a",
       kNotJson, ""},
      {"deep brackets of the wrong kind", deep.substr(0, 9 + 255) + "{" + deep.substr(9 + 256), u"a", kNotJson, ""},
      {"the longest path", R"({"a": 1})", U(longPath), kMissing, ""},
      {"a path too long", R"({"a": 1})", U(longPath + ".a"), TC_BAD_ARGUMENT, ""},
      {"an empty path", R"({"a": 1})", u"", TC_BAD_ARGUMENT, ""},
      {"a leading dot", R"({"a": 1})", u".a", TC_BAD_ARGUMENT, ""},
      {"a trailing dot", R"({"a": 1})", u"a.", TC_BAD_ARGUMENT, ""},
      {"an empty step", R"({"a": {"": 1}})", u"a..b", TC_BAD_ARGUMENT, ""},
      {"a lone surrogate in the path", R"({"a": 1})", std::u16string(1, char16_t(0xD800)), TC_BAD_ARGUMENT, ""},
  };
  // A number that is not JSON, passed over on the way to the value.
  for (const char* number : {"1e+", "1e", "-", "01", "1.", "-01", "1.e5", "1e+-1", "--1"}) {
    cases.push_back({std::string("a number passed over: ") + number,
                     std::string("{\"x\": [") + number + "], \"a\": 1}", u"a", kNotJson, ""});
  }
  // A value on either side of the first read's end, and across it.
  for (size_t pad = taskclient::kReadPieceCapacity - 40; pad <= taskclient::kReadPieceCapacity + 4; pad += 3) {
    cases.push_back({"a value near the end of a read, after " + std::to_string(pad),
                     "{\"pad\": \"" + std::string(pad, 'p') + "\", \"v\": \"\\u00e9\\ud83d\\ude00 \xe4\xb8\xad\"}", u"v",
                     kFound, "\xc3\xa9\xf0\x9f\x98\x80 \xe4\xb8\xad"});
  }
  return cases;
}

FieldReader::Verdict VerdictOf(int32_t result) {
  return result == TC_EXCHANGE_COMPLETE ? FieldReader::kFound
         : result == TC_FIELD_MISSING   ? FieldReader::kMissing
                                        : FieldReader::kMalformed;
}

// Every body: the value written whole, or only value[0] = 0 with the code;
// a buffer that fits exactly and one a unit short; and the same answer from
// the reader however the body is split in two.
TEST(FieldReader, ReadsEveryBodyShape) {
  testsupport::TempDir dir;
  const std::u16string bodyPath = PathText(dir / "body");
  for (const FieldCase& c : FieldCases()) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir / "body", c.body);
    const std::u16string expected = U(c.value);
    std::vector<tc_text16> value(c.body.size() + 8, u'?');
    const int32_t capacity = static_cast<int32_t>(value.size());
    EXPECT_EQ(GTaskReadField(T(bodyPath), T(c.path), value.data(), capacity), c.result);
    if (c.result != TC_EXCHANGE_COMPLETE) {
      EXPECT_EQ(value[0], 0);
      EXPECT_EQ(std::u16string(value.begin() + 1, value.end()), std::u16string(value.size() - 1, u'?'));
    } else {
      EXPECT_EQ(std::u16string(value.data(), expected.size() + 1), expected + u'\0');
      std::fill(value.begin(), value.end(), u'?');
      const int32_t fits = static_cast<int32_t>(expected.size() + 1);
      EXPECT_EQ(GTaskReadField(T(bodyPath), T(c.path), value.data(), fits), TC_EXCHANGE_COMPLETE);
      EXPECT_EQ(std::u16string(value.data(), expected.size() + 2), expected + u'\0' + u'?');
      std::fill(value.begin(), value.end(), u'?');
      EXPECT_EQ(GTaskReadField(T(bodyPath), T(c.path), value.data(), fits - 1), TC_TOO_LONG);
      EXPECT_EQ(std::u16string(value.data(), 2), std::u16string(u"\0?", 2));
    }
    if (c.result == TC_BAD_ARGUMENT || c.body.size() > 700) continue;
    for (size_t cut = 0; cut <= c.body.size(); ++cut) {
      std::vector<tc_text16> split(c.body.size() + 1);
      FieldReader reader(T(c.path), split.data(), split.size());
      // Each piece in its own allocation, so a read past it is caught.
      std::vector<char> first(c.body.begin(), c.body.begin() + static_cast<long>(cut));
      std::vector<char> second(c.body.begin() + static_cast<long>(cut), c.body.end());
      FieldReader::Verdict verdict = reader.Feed(first.data(), first.size());
      if (verdict == FieldReader::kNeedMore) verdict = reader.Feed(second.data(), second.size());
      if (verdict == FieldReader::kNeedMore) verdict = reader.End();
      EXPECT_EQ(verdict, VerdictOf(c.result)) << "split at " << cut;
      if (c.result == TC_EXCHANGE_COMPLETE) {
        EXPECT_EQ(std::u16string(split.data(), reader.length()), expected) << "split at " << cut;
      }
      if (verdict != VerdictOf(c.result)) break;
    }
  }
  // What is not a body file, and arguments no value can be written to.
  testsupport::WriteFile(dir / "body", "{\"a\": 1}");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  tc_text16 value[4] = {u'?', u'?', u'?', u'?'};
  const std::u16string missing = PathText(dir / "missing"), fifo = PathText(dir / "fifo"),
                       folder = PathText(dir.path());
  EXPECT_EQ(GTaskReadField(T(missing), u"a", value, 4), TC_FILE_OPEN_FAILED);
  EXPECT_EQ(GTaskReadField(T(fifo), u"a", value, 4), TC_FILE_OPEN_FAILED);
  EXPECT_EQ(GTaskReadField(T(folder), u"a", value, 4), TC_FILE_OPEN_FAILED);
  EXPECT_EQ(value[0], 0);
  EXPECT_EQ(GTaskReadField(T(bodyPath), u"a", value, 0), TC_BAD_ARGUMENT);
  EXPECT_EQ(GTaskReadField(T(bodyPath), u"a", nullptr, 4), TC_BAD_ARGUMENT);
  EXPECT_EQ(GTaskReadField(T(bodyPath), u"a", value, 2), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(std::u16string(value, 3), std::u16string(u"1\0?", 3));
}

}  // namespace
