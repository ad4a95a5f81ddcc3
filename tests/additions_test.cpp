// The operations beyond the first six: PKCE sign-in, paged task listing and
// completing a task, byte for byte on the wire.
#include <gtest/gtest.h>

#include "support/scripted_server.h"
#include "testing/text16.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using namespace taskclient;
using testsupport::PathText;
using testsupport::T;

namespace {

class AdditionsTest : public ::testing::Test {
 protected:
  testsupport::ScriptedServer server;
  testsupport::TempDir dir;
  std::u16string path = PathText(dir / "reply.json");
};

TEST_F(AdditionsTest, PkceTokenBody) {
  struct Row {
    std::u16string verifier;
    std::string tail;
  } rows[] = {
      {u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk", "&code_verifier=dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"},
      {u"", ""},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(GetTokenPkce(SystemPlatform(), server.service(), T(u"4/0Ab cd"), T(u"GOCSPX-x/y"), T(u"1.apps"),
                           T(u"http://127.0.0.1:8765"), T(row.verifier), T(path)),
              TC_EXCHANGE_COMPLETE);
    std::string body = "code=4%2F0Ab%20cd&client_secret=GOCSPX-x%2Fy&client_id=1.apps"
                       "&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765&grant_type=authorization_code" + row.tail;
    EXPECT_EQ(server.LastRequest(),
              "POST /oauth2/v3/token HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Content-type: application/x-www-form-urlencoded\r\nAccept: */*\r\n"
              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }
}

TEST_F(AdditionsTest, PagedListingAsksForEverything) {
  struct Row {
    std::u16string pageToken;
    std::string query;
  } rows[] = {
      {u"", "?maxResults=100&showCompleted=true&showHidden=true"},
      {u"CgwI+/9=a b~", "?maxResults=100&showCompleted=true&showHidden=true&pageToken=CgwI%2B%2F9%3Da%20b~"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(row.pageToken), T(path)),
              TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(server.LastRequest(), "GET /tasks/v1/lists/L1/tasks" + row.query +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer tok\r\n"
                                        "Accept: */*\r\n\r\n");
  }
  EXPECT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), nullptr, T(path)),
            TC_BAD_ARGUMENT);
  EXPECT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(std::u16string(400, u'/')),
                          T(path)),
            TC_TOO_LONG);
}

TEST_F(AdditionsTest, CompleteSendsAPatch) {
  ASSERT_EQ(CompleteTask(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(u"T 2"), T(path)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(),
            "PATCH /tasks/v1/lists/L1/tasks/T%202 HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer tok\r\n"
            "Content-Type: application/json\r\nAccept: */*\r\nContent-Length: 25\r\n\r\n"
            "{ \"status\": \"completed\" }");
  EXPECT_EQ(CompleteTask(SystemPlatform(), server.service(), T(u"tok"), T(std::u16string(150, u'a')),
                         T(std::u16string(30, u'b')), T(path)),
            TC_TOO_LONG);
}

}  // namespace
