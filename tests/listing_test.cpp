// Listing task lists and tasks, a page at a time too: the bytes on the wire
// and how arguments are checked before anything is sent.
#include <gtest/gtest.h>

#include "support/requests.h"
#include "support/server_test.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

using namespace taskclient;
using namespace testsupport;

namespace {

class ListingTest : public ServerTest {};

TEST_F(ListingTest, ListsSendTheExactRequest) {
  ASSERT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(u"ya29.a0AfH6"), T(path)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(), Bodiless("GET", "/tasks/v1/users/@me/lists", "ya29.a0AfH6"));
  EXPECT_EQ(ReadFile(file), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
}

TEST_F(ListingTest, TaskListIdGoesIntoThePath) {
  struct Row {
    std::u16string id;
    std::string target;
  } rows[] = {
      {u"abc", "/tasks/v1/lists/abc/tasks"},
      {u"MDk2NTk0:0:0", "/tasks/v1/lists/MDk2NTk0:0:0/tasks"},
      {u"a b/c", "/tasks/v1/lists/a%20b%2Fc/tasks"},
      {u"x?y=1&z#w", "/tasks/v1/lists/x%3Fy=1&z%23w/tasks"},
      {u"../../X/tasks/T?x=1", "/tasks/v1/lists/..%2F..%2FX%2Ftasks%2FT%3Fx=1/tasks"},
      {u"...", "/tasks/v1/lists/.../tasks"},
      {u"caf\u00e9", "/tasks/v1/lists/caf%C3%A9/tasks"},
      {u"", "/tasks/v1/lists//tasks"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(ListTasks(SystemPlatform(), server.service(), T(u"tok"), T(row.id), T(path)), TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(server.LastRequest(), Bodiless("GET", row.target, "tok"));
  }
}

TEST_F(ListingTest, LongestIdAndTokenFit) {
  std::u16string id(177, u'i');
  std::u16string token(2048, u't');
  ASSERT_EQ(ListTasks(SystemPlatform(), server.service(), T(token), T(id), T(path)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(),
            Bodiless("GET", "/tasks/v1/lists/" + std::string(177, 'i') + "/tasks", std::string(2048, 't')));
}

TEST_F(ListingTest, PagedListingAsksForEverything) {
  struct Row {
    std::u16string pageToken;
    std::string query;
  } rows[] = {
      {u"", "?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true"},
      {u"CgwI+/9=a b~",
       "?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true&pageToken=CgwI%2B%2F9%3Da%20b~"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(row.pageToken), T(path)),
              TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(server.LastRequest(), Bodiless("GET", "/tasks/v1/lists/L1/tasks" + row.query, "tok"));
  }
  EXPECT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), nullptr, T(path)),
            TC_BAD_ARGUMENT);
  EXPECT_EQ(ListTasksPage(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(std::u16string(400, u'/')),
                          T(path)),
            TC_TOO_LONG);
}

TEST_F(ListingTest, BadArgumentsSendNothing) {
  const std::u16string token = u"tok", id = u"abc";
  const std::u16string tooLongId(178, u'i'), escapedTooLong(60, u' '), tooLongToken(2049, u't');
  const std::u16string lineFeed = u"tok\nX-Injected: 1", del = u"tok\x7f", tab = u"t\tk";
  const std::u16string lone = u"ab" + std::u16string(1, char16_t(0xD83D)) + u"c", dot = u".", dots = u"%2E.";
  const std::u16string lonePath = PathText(dir / "reply") + std::u16string(1, char16_t(0xDC00));
  struct Row {
    const char* name;
    const tc_text16* token;
    const tc_text16* id;
    const tc_text16* path;
    int32_t result;
  } rows[] = {
      {"null token", nullptr, T(id), T(path), TC_BAD_ARGUMENT},
      {"null id", T(token), nullptr, T(path), TC_BAD_ARGUMENT},
      {"null path", T(token), T(id), nullptr, TC_BAD_ARGUMENT},
      {"line feed in token", T(lineFeed), T(id), T(path), TC_BAD_ARGUMENT},
      {"delete byte in token", T(del), T(id), T(path), TC_BAD_ARGUMENT},
      {"tab in token", T(tab), T(id), T(path), TC_BAD_ARGUMENT},
      {"id over capacity", T(token), T(tooLongId), T(path), TC_TOO_LONG},
      {"id over capacity once escaped", T(token), T(escapedTooLong), T(path), TC_TOO_LONG},
      {"token over capacity", T(tooLongToken), T(id), T(path), TC_TOO_LONG},
      {"lone surrogate in token", T(lone), T(id), T(path), TC_BAD_ARGUMENT},
      {"lone surrogate in id", T(token), T(lone), T(path), TC_BAD_ARGUMENT},
      {"lone surrogate in path", T(token), T(id), T(lonePath), TC_BAD_ARGUMENT},
      {"id that is a dot", T(token), T(dot), T(path), TC_BAD_ARGUMENT},
      {"id that is two dots, one escaped", T(token), T(dots), T(path), TC_BAD_ARGUMENT},
  };
  WriteFile(file, "untouched");
  for (const Row& row : rows) {
    EXPECT_EQ(ListTasks(SystemPlatform(), server.service(), row.token, row.id, row.path), row.result) << row.name;
  }
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), nullptr, T(path)), TC_BAD_ARGUMENT);
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), nullptr), TC_BAD_ARGUMENT);
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(lineFeed), T(path)), TC_BAD_ARGUMENT);
  EXPECT_EQ(server.server().accepted(), 0);
  EXPECT_EQ(ReadFile(file), "untouched");
}

TEST_F(ListingTest, RejectedTokenStillCompletes) {
  const std::string body = "{\"error\": {\"code\": 401, \"status\": \"UNAUTHENTICATED\"}}";
  const std::string reply = "HTTP/1.1 401 Unauthorized\r\nContent-Type: application/json; charset=UTF-8\r\n"
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  server.SetReply(Respond(reply));
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(u"expired"), T(path)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(ReadFile(file), reply);
}

}  // namespace
