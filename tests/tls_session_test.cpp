// The TLS configuration is shared by every call of the process: no call may
// pick up anything of an earlier one, such as a session to resume.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/scripted_server.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

using namespace taskclient;
using namespace testsupport;

namespace {

TEST(TlsSessionTest, EveryCallMakesAFullHandshakeOnAnyThread) {
  std::atomic<int> served{0}, resumed{0};
  // The server offers tickets and keeps a session cache, so a client that
  // offered an earlier session would have it resumed.
  TlsServer server([&](TlsStream& stream) {
    if (SSL_session_reused(stream.session())) ++resumed;
    if (!stream.ReadRequest(5000)) return;
    ++served;
    stream.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
  });
  const Service service = {"127.0.0.1", server.port(), 5000, 5000};
  TempDir dir;
  const int kThreads = 4, kCalls = 4;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto path = PathText(dir / ("reply-" + std::to_string(t)));
      for (int i = 0; i < kCalls; ++i) {
        if (ListTaskLists(SystemPlatform(), service, T(u"tok"), T(path)) != TC_EXCHANGE_COMPLETE) {
          ++failures[static_cast<size_t>(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  server.Stop();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  EXPECT_EQ(served.load(), kThreads * kCalls);
  EXPECT_EQ(resumed.load(), 0);
}

}  // namespace
