// Adding, completing and deleting tasks: the JSON body and its escaping, the
// patch and delete requests, and the replies they leave in the file.
#include <gtest/gtest.h>

#include "support/decode.h"
#include "support/requests.h"
#include "support/server_test.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

using namespace taskclient;
using namespace testsupport;

namespace {

// The title in the body `{ "title": "..." }`, every escape decoded. Fails the
// test on a body of any other shape or one a JSON parser would refuse.
std::string ParseTitle(const std::string& body) {
  const std::string head = "{ \"title\": \"", tail = "\" }";
  std::string title;
  const bool shaped = body.size() >= head.size() + tail.size() && body.compare(0, head.size(), head) == 0 &&
                      body.compare(body.size() - tail.size(), tail.size(), tail) == 0;
  EXPECT_TRUE(shaped) << body;
  if (shaped) {
    EXPECT_TRUE(JsonStringDecode(body.substr(head.size(), body.size() - head.size() - tail.size()), &title))
        << body;
  }
  return title;
}

class AddDeleteTest : public ServerTest {
 protected:
  int32_t Add(const std::u16string& list, const std::u16string& title, const void* reserved = nullptr) {
    return AddTask(SystemPlatform(), server.service(), T(u"tok"), T(list), T(title), reserved, T(path));
  }
  int32_t Delete(const std::u16string& list, const std::u16string& task) {
    return DeleteTask(SystemPlatform(), server.service(), T(u"tok"), T(list), T(task), T(path));
  }

};

TEST_F(AddDeleteTest, TitleIsSentAsAJsonString) {
  ASSERT_EQ(Add(u"L1", u"Buy milk"), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(), JsonRequest("POST", "/tasks/v1/lists/L1/tasks", "{ \"title\": \"Buy milk\" }"));

  ASSERT_EQ(Add(u"L1", u""), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(), JsonRequest("POST", "/tasks/v1/lists/L1/tasks", "{ \"title\": \"\" }"));

  const std::string titles[] = {
      "x\", \"notes\": \"y",
      "back\\slash \"quoted\"\nsecond line\r\ttab\b\f\x01\x1f end",
      "Caf\xc3\xa9 \xe2\x98\x95",
      "\xf0\x9f\x9b\x92 cart",
  };
  for (const std::string& title : titles) {
    ASSERT_EQ(Add(u"L1", U(title)), TC_EXCHANGE_COMPLETE);
    std::string request = server.LastRequest();
    std::string body = request.substr(request.find("\r\n\r\n") + 4);
    EXPECT_EQ(ParseTitle(body), title);
    EXPECT_EQ(request, JsonRequest("POST", "/tasks/v1/lists/L1/tasks", body));
  }
  // UTF-8 bytes, not escapes, for text beyond ASCII.
  Add(u"L1", u"Caf\u00e9");
  EXPECT_NE(server.LastRequest().find("{ \"title\": \"Caf\xc3\xa9\" }"), std::string::npos);
}

TEST_F(AddDeleteTest, ReservedArgumentIsNeverRead) {
  int local = 0;
  const void* values[] = {nullptr, &local, reinterpret_cast<const void*>(1), reinterpret_cast<const void*>(~0ul)};
  for (const void* reserved : values) {
    ASSERT_EQ(Add(u"list", u"t", reserved), TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(server.LastRequest(), JsonRequest("POST", "/tasks/v1/lists/list/tasks", "{ \"title\": \"t\" }"));
  }
}

TEST_F(AddDeleteTest, CapacitiesAreExactAndNothingIsSentBeyondThem) {
  const std::u16string longestList(977, u'l');  // the add path holds 1000 bytes with its NUL
  const std::u16string longestTitle(493, u'"');  // escapes to 986 bytes: a body of 1001
  ASSERT_EQ(Add(longestList, longestTitle), TC_EXCHANGE_COMPLETE);
  std::string escapedQuotes;
  for (int i = 0; i < 493; ++i) escapedQuotes += "\\\"";
  const std::string longestBody = "{ \"title\": \"" + escapedQuotes + "\" }";
  EXPECT_EQ(longestBody.size(), 1001u);
  EXPECT_EQ(server.LastRequest(), JsonRequest("POST", "/tasks/v1/lists/" + std::string(977, 'l') + "/tasks", longestBody));
  for (size_t length : {985u, 986u}) {
    ASSERT_EQ(Add(u"l", std::u16string(length, u'x')), TC_EXCHANGE_COMPLETE) << length;
    EXPECT_EQ(server.LastRequest(), JsonRequest("POST", "/tasks/v1/lists/l/tasks", "{ \"title\": \"" + std::string(length, 'x') + "\" }"));
  }

  ASSERT_EQ(Delete(std::u16string(100, u'a'), std::u16string(76, u'b')), TC_EXCHANGE_COMPLETE);

  WriteFile(file, "untouched");
  const int before = server.server().accepted();
  EXPECT_EQ(Add(std::u16string(978, u'l'), u"t"), TC_TOO_LONG);
  EXPECT_EQ(Add(u"l", std::u16string(494, u'"')), TC_TOO_LONG);
  EXPECT_EQ(Add(u"l", std::u16string(987, u'x')), TC_TOO_LONG);
  EXPECT_EQ(Delete(std::u16string(100, u'a'), std::u16string(77, u'b')), TC_TOO_LONG);
  EXPECT_EQ(Delete(u"a", std::u16string(60, u' ')), TC_TOO_LONG);  // 180 bytes once escaped
  // An id is one segment: one that names the segment before it is refused.
  for (const char16_t* dots : {u".", u"..", u"%2e%2E"}) {
    EXPECT_EQ(Delete(u"L1", dots), TC_BAD_ARGUMENT);
    EXPECT_EQ(Delete(dots, u"T1"), TC_BAD_ARGUMENT);
  }
  const std::u16string lineFeed = u"t\nX: 1";
  EXPECT_EQ(AddTask(SystemPlatform(), server.service(), T(lineFeed), T(u"l"), T(u"t"), nullptr, T(path)),
            TC_BAD_ARGUMENT);
  EXPECT_EQ(DeleteTask(SystemPlatform(), server.service(), T(lineFeed), T(u"l"), T(u"t"), T(path)), TC_BAD_ARGUMENT);
  EXPECT_EQ(server.server().accepted(), before);
  EXPECT_EQ(ReadFile(file), "untouched");
}

TEST_F(AddDeleteTest, CompleteSendsAPatch) {
  ASSERT_EQ(CompleteTask(SystemPlatform(), server.service(), T(u"tok"), T(u"L1"), T(u"T 2"), T(path)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(),
            JsonRequest("PATCH", "/tasks/v1/lists/L1/tasks/T%202", "{ \"status\": \"completed\" }"));
  EXPECT_EQ(CompleteTask(SystemPlatform(), server.service(), T(u"tok"), T(std::u16string(150, u'a')),
                         T(std::u16string(30, u'b')), T(path)),
            TC_TOO_LONG);
}

TEST_F(AddDeleteTest, DeleteCapturesTheServiceAnswer) {
  const std::string noContent = "HTTP/1.1 204 No Content\r\nDate: Tue, 08 Dec 2026 03:00:00 GMT\r\n\r\n";
  Reply held = Respond(noContent);
  held.end = Reply::End::kHold;  // the service keeps the connection open after a 204
  server.SetReply(held);
  WriteFile(file, "an earlier, longer reply that must not survive");
  ASSERT_EQ(Delete(u"MDk2NTk0", u"dGFzaw"), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(), Bodiless("DELETE", "/tasks/v1/lists/MDk2NTk0/tasks/dGFzaw", "tok"));
  EXPECT_EQ(ReadFile(file), noContent);

  const std::string body = "{\"error\": {\"code\": 401, \"message\": \"Invalid Credentials\"}}";
  const std::string unauthorized = "HTTP/1.1 401 Unauthorized\r\nContent-Length: " + std::to_string(body.size()) +
                                   "\r\n\r\n" + body;
  server.SetReply(Respond(unauthorized));
  ASSERT_EQ(Delete(u"a b", u"c/d"), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest().substr(0, 42), "DELETE /tasks/v1/lists/a%20b/tasks/c%2Fd H");
  EXPECT_EQ(ReadFile(file), unauthorized);
}

}  // namespace
