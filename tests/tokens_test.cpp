// Token requests (code, refresh and PKCE): the form bodies byte for byte,
// their capacity, and many requests at once on several threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/requests.h"
#include "support/server_test.h"
#include "testing/text16.h"
#include "tokens/tokens.h"

using namespace taskclient;
using namespace testsupport;

namespace {

const std::string kOob = "&redirect_uri=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob&grant_type=authorization_code";

class TokensTest : public ServerTest {};

TEST_F(TokensTest, BodiesAreEncodedFieldByField) {
  struct Row {
    bool refresh;
    std::u16string first, secret, id;
    std::string body;
  } rows[] = {
      {false, u"4/0AY0e-g7Xk", u"GOCSPX-s/e+c.r_e~t", u"123-abc.apps.googleusercontent.com",
       "code=4%2F0AY0e-g7Xk&client_secret=GOCSPX-s%2Fe%2Bc.r_e~t&client_id=123-abc.apps.googleusercontent.com" +
           kOob},
      {false, u"", u"s", u"i", "code=&client_secret=s&client_id=i" + kOob},
      {false, u"a b&c=100%", u"%41", u"caf\u00e9#", "code=a%20b%26c%3D100%25&client_secret=%2541&client_id=caf%C3%A9%23" + kOob},
      // Control bytes are escaped too: no value can break the form.
      {true, u"1//0g\r\nX: 1", u"s\r\n\u00e9", u"\t", "client_id=%09&client_secret=s%0D%0A%C3%A9&refresh_token=1%2F%2F0g%0D%0AX%3A%201"
       "&grant_type=refresh_token"},
      {true, u"1//0gLx-refresh", u"sec/ret+", u"123.apps",
       "client_id=123.apps&client_secret=sec%2Fret%2B&refresh_token=1%2F%2F0gLx-refresh&grant_type=refresh_token"},
      {true, u"", u"", u"", "client_id=&client_secret=&refresh_token=&grant_type=refresh_token"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    int32_t result = row.refresh
                         ? RefreshToken(SystemPlatform(), server.service(), T(row.first), T(row.secret), T(row.id), T(path))
                         : GetToken(SystemPlatform(), server.service(), T(row.first), T(row.secret), T(row.id), T(path));
    EXPECT_EQ(result, TC_EXCHANGE_COMPLETE);
    EXPECT_EQ(server.LastRequest(), FormRequest(row.body));
  }
}

TEST_F(TokensTest, PkceBodyEndsWithTheVerifierWhereThereIsOne) {
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
    EXPECT_EQ(server.LastRequest(), FormRequest("code=4%2F0Ab%20cd&client_secret=GOCSPX-x%2Fy&client_id=1.apps"
                                                "&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765"
                                                "&grant_type=authorization_code" + row.tail));
  }
}

TEST_F(TokensTest, ErrorReplyIsCapturedAsAnyOther) {
  const std::string body = "{\n  \"error\": \"invalid_grant\",\n  \"error_description\": \"Bad Request\"\n}";
  const std::string reply = "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json; charset=utf-8\r\n"
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  server.SetReply(Respond(reply));
  EXPECT_EQ(GetToken(SystemPlatform(), server.service(), T(u"used-code"), T(u"s"), T(u"i"), T(path)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(ReadFile(file), reply);
}

TEST_F(TokensTest, BodyCapacityIsExactAndNeverCut) {
  // The fixed part of the code exchange body: field names and fixed values.
  const size_t fixed = std::string("code=&client_secret=&client_id=").size() + kOob.size();
  const size_t room = 999 - fixed;  // body text holds 1000 bytes with its NUL
  ASSERT_EQ(GetToken(SystemPlatform(), server.service(), T(std::u16string(room, u'c')), T(u""), T(u""), T(path)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(server.LastRequest(), FormRequest("code=" + std::string(room, 'c') + "&client_secret=&client_id=" + kOob));

  WriteFile(file, "untouched");
  const int before = server.server().accepted();
  const std::u16string over(room + 1, u'c'), slashes(room / 3 + 1, u'/'), huge(5000, u'x');
  EXPECT_EQ(GetToken(SystemPlatform(), server.service(), T(over), T(u""), T(u""), T(path)), TC_TOO_LONG);
  EXPECT_EQ(GetToken(SystemPlatform(), server.service(), T(u""), T(slashes), T(u""), T(path)), TC_TOO_LONG);
  EXPECT_EQ(GetToken(SystemPlatform(), server.service(), T(u""), T(u""), T(huge), T(path)), TC_TOO_LONG);
  EXPECT_EQ(RefreshToken(SystemPlatform(), server.service(), T(huge), T(u""), T(u""), T(path)), TC_TOO_LONG);
  EXPECT_EQ(RefreshToken(SystemPlatform(), server.service(), T(u"r"), T(over), T(over), T(path)), TC_TOO_LONG);
  EXPECT_EQ(server.server().accepted(), before);
  EXPECT_EQ(ReadFile(file), "untouched");
}

TEST_F(TokensTest, ManyThreadsKeepTheirBodiesApart) {
  const int kThreads = 8, kCalls = 12;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto own = PathText(dir / ("token-" + std::to_string(t)));
      for (int i = 0; i < kCalls; ++i) {
        std::u16string value = U("t" + std::to_string(t) + "/" + std::to_string(i) + " " + std::string(static_cast<size_t>(20 + t * 5), '+'));
        int32_t result = i % 2 ? RefreshToken(SystemPlatform(), server.service(), T(value), T(value), T(value), T(own))
                               : GetToken(SystemPlatform(), server.service(), T(value), T(value), T(value), T(own));
        if (result != TC_EXCHANGE_COMPLETE) ++failures[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));

  std::multiset<std::string> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCalls; ++i) {
      std::string v = "t" + std::to_string(t) + "%2F" + std::to_string(i) + "%20";
      for (int k = 0; k < 20 + t * 5; ++k) v += "%2B";
      expected.insert(FormRequest(i % 2 ? "client_id=" + v + "&client_secret=" + v + "&refresh_token=" + v +
                                              "&grant_type=refresh_token"
                                        : "code=" + v + "&client_secret=" + v + "&client_id=" + v + kOob));
    }
  }
  auto requests = server.Requests();
  EXPECT_EQ(std::multiset<std::string>(requests.begin(), requests.end()), expected);
}

}  // namespace
