// Any request to the task paths (GTaskRequestSSL) and reading a reply back
// (GTaskReadReply): what goes on the wire for each method, what is refused
// before anything is sent, and the body the reader finds in a response file.
#include <gtest/gtest.h>

#include <string>

#include "support/requests.h"
#include "support/server_test.h"
#include "tasks/tasks.h"

using namespace taskclient;
using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;
using testsupport::U;

namespace {

// The request as the library must send it, byte for byte.
std::string Expected(const std::string& method, const std::string& target, const char* body) {
  const std::string token = "ya29.token";
  if (!body) return testsupport::Bodiless(method, target, token);
  if (!*body) return testsupport::EmptyBodied(method, target, token);
  return testsupport::JsonRequest(method, target, body, token);
}

class AnyRequestTest : public testsupport::ServerTest {
 protected:
  Result Send(const std::u16string& method, const std::u16string& target, const std::u16string* body) {
    return SendApiRequest(SystemPlatform(), server.service(), T(u"ya29.token"), T(method), T(target),
                          body ? T(*body) : nullptr, T(path));
  }
};

TEST_F(AnyRequestTest, EachMethodGoesOnTheWireAsGiven) {
  // Multi-byte characters on every side of the pieces the body is sent in.
  std::string longJson = "{\"notes\": \"";
  while (longJson.size() < 8192 - 2 - 4) longJson += "\xE2\x9C\x93 ";  // "✓ "
  while (longJson.size() < 8192 - 2) longJson += "x";
  longJson += "\"}";
  struct Row {
    const char* method;
    std::string target;
    const char* sent;   // the body as sent; null: no body and no length
    std::u16string given;
    bool null;          // pass a null body
  } rows[] = {
      {"GET", "/tasks/v1/lists/%40default/tasks?showHidden=true&maxResults=5", nullptr, u"", true},
      {"GET", "/tasks/v1/users/@me/lists/L1", nullptr, u"", false},
      {"GET", "/tasks/v1/lists/.../tasks?q=../x/./", nullptr, u"", true},  // dots that name no segment above
      {"DELETE", "/tasks/v1/lists/L1/tasks/T1", nullptr, u"", true},
      {"POST", "/tasks/v1/lists/L1/clear", "", u"", true},
      {"POST", "/tasks/v1/lists/L1/tasks/T1/move?parent=T0&previous=T2", "", u"", false},
      {"PUT", "/tasks/v1/users/@me/lists/L1", "{\"title\": \"Errands\"}", u"{\"title\": \"Errands\"}", false},
      {"PATCH", "/tasks/v1/lists/L1/tasks/T1", "{\"status\": \"needsAction\", \"completed\": null}",
       u"{\"status\": \"needsAction\", \"completed\": null}", false},
      {"POST", "/tasks/v1/lists/L1/tasks", "{\"title\": \"Caf\xC3\xA9 \xF0\x9F\x98\x80\"}", U("{\"title\": \"Caf\xC3\xA9 \xF0\x9F\x98\x80\"}"),
       false},
      {"PATCH", "/tasks/v1/lists/L1/tasks/T1", longJson.c_str(), U(longJson), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.target);
    ASSERT_EQ(Send(U(row.method), U(row.target), row.null ? nullptr : &row.given), kExchangeComplete);
    EXPECT_EQ(server.LastRequest(), Expected(row.method, row.target, row.sent));
  }
}

TEST_F(AnyRequestTest, RefusedBeforeAnythingIsSent) {
  const std::u16string json = u"{}";
  const std::u16string longest = u"/tasks/v1/" + std::u16string(990, u'a');
  struct Row {
    const char* why;
    std::u16string method;
    std::u16string target;
    std::u16string body;
    Result result;
  } rows[] = {
      {"lower-case method", u"get", u"/tasks/v1/x", u"", kBadArgument},
      {"unknown method", u"HEAD", u"/tasks/v1/x", u"", kBadArgument},
      {"method with a space", u"GET ", u"/tasks/v1/x", u"", kBadArgument},
      {"empty method", u"", u"/tasks/v1/x", u"", kBadArgument},
      {"space in the target", u"GET", u"/tasks/v1/a b", u"", kBadArgument},
      {"line feed in the target", u"GET", u"/tasks/v1/a\r\nX: 1", u"", kBadArgument},
      {"fragment in the target", u"GET", u"/tasks/v1/a#b", u"", kBadArgument},
      {"non-ASCII target", u"GET", u"/tasks/v1/caf\u00e9", u"", kBadArgument},
      {"another path", u"GET", u"/oauth2/v3/token", u"", kBadArgument},
      {"prefix cut short", u"GET", u"/tasks/v1", u"", kBadArgument},
      {"absolute URL", u"GET", u"https://www.googleapis.com/tasks/v1/x", u"", kBadArgument},
      {"dot-dot segments", u"GET", u"/tasks/v1/../../oauth2/v3/token", u"", kBadArgument},
      {"escaped dot-dot segments", u"GET", u"/tasks/v1/%2e%2E/%2E./oauth2/v3/token", u"", kBadArgument},
      {"dot segment", u"GET", u"/tasks/v1/./users/@me/lists", u"", kBadArgument},
      {"dot-dot at the end", u"GET", u"/tasks/v1/lists/..?x=1", u"", kBadArgument},
      {"lone surrogate in the body", u"POST", u"/tasks/v1/x", u"{\"title\": \"" + std::u16string(1, char16_t(0xDBFF)) + u"\"}",
       kBadArgument},
      {"GET with a body", u"GET", u"/tasks/v1/x", json, kBadArgument},
      {"DELETE with a body", u"DELETE", u"/tasks/v1/x", json, kBadArgument},
      {"target of 1001 bytes", u"GET", longest + u"b", u"", kTooLong},
      {"body of 8193 bytes", u"POST", u"/tasks/v1/x", std::u16string(8193, u'x'), kTooLong},
      {"body of 8193 bytes in UTF-8", u"POST", u"/tasks/v1/x", std::u16string(4096, u'\u00e9') + u"x", kTooLong},
  };
  testsupport::WriteFile(file, "untouched");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(Send(row.method, row.target, &row.body), row.result);
  }
  const std::u16string x = u"x", target = u"/tasks/v1/x", get = u"GET";
  EXPECT_EQ(SendApiRequest(SystemPlatform(), server.service(), nullptr, T(get), T(target), nullptr, T(path)),
            kBadArgument);
  EXPECT_EQ(SendApiRequest(SystemPlatform(), server.service(), T(x), nullptr, T(target), nullptr, T(path)),
            kBadArgument);
  EXPECT_EQ(SendApiRequest(SystemPlatform(), server.service(), T(x), T(get), nullptr, nullptr, T(path)),
            kBadArgument);
  EXPECT_EQ(SendApiRequest(SystemPlatform(), server.service(), T(x), T(get), T(target), nullptr, nullptr),
            kBadArgument);
  EXPECT_EQ(SendApiRequest(SystemPlatform(), server.service(), T(u"a\nb"), T(get), T(target), nullptr, T(path)),
            kBadArgument);
  EXPECT_EQ(ReadFile(file), "untouched");
  EXPECT_EQ(server.server().accepted(), 0);

  // The limits themselves are accepted.
  ASSERT_EQ(Send(u"GET", longest, nullptr), kExchangeComplete);
  const std::u16string largest(8192, u'x');
  ASSERT_EQ(Send(u"POST", u"/tasks/v1/x", &largest), kExchangeComplete);
  EXPECT_EQ(server.LastRequest(), Expected("POST", "/tasks/v1/x", std::string(8192, 'x').c_str()));
}

// A response file may hold tokens: one the library creates is its owner's
// only; an existing one keeps its mode.
TEST_F(AnyRequestTest, ACreatedResponseFileIsTheOwnersOnly) {
  const std::u16string get = u"GET", target = u"/tasks/v1/users/@me/lists";
  ASSERT_EQ(Send(get, target, nullptr), kExchangeComplete);
  EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  ASSERT_EQ(Send(get, target, nullptr), kExchangeComplete);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::others_read);
}

}  // namespace
