// Load and stability: sixteen threads running mixed operations at once
// against one server, every request and every response file checked byte for
// byte; and ten thousand calls in one process leaving the open descriptors
// where they started.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "support/descriptors.h"
#include "support/scripted_server.h"
#include "testing/text16.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using namespace taskclient;
using namespace testsupport;

namespace {

// A count from the environment (so a slow run, under valgrind say, can ask
// for fewer), or the default.
int CountFromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// The server writes its reply as soon as it is written, as production
// servers do, rather than holding a small write back for the client's delayed
// ACK (Nagle), which would add 40 ms to every reply the server does not close
// after.
void ServeWithoutDelay(TlsServer& server) {
  server.SetRawHandler([](int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
  });
}

uint32_t Fnv(const std::string& bytes) {
  uint32_t hash = 2166136261u;
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

std::string Chunked(const std::string& body, size_t size) {
  std::string out;
  char line[32];
  for (size_t i = 0; i < body.size(); i += size) {
    std::string chunk = body.substr(i, size);
    snprintf(line, sizeof line, "%zx\r\n", chunk.size());
    out += line + chunk + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// The server's answer to a request: its bytes echoed back under one of five
// framings picked from them. The client computes the same reply from the
// request it expects, so a file that matches proves the request arrived
// exactly and its reply landed in the right file.
std::vector<std::string> EchoReply(const std::string& request, bool* closeEnds) {
  const uint32_t pick = Fnv(request);
  const std::string echo = request;
  *closeEnds = false;
  switch (pick % 5) {
    case 0:
      return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(echo.size()) + "\r\n\r\n" + echo};
    case 1: {
      std::string all = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(echo, 7 + pick % 50);
      return {all.substr(0, all.size() / 3), all.substr(all.size() / 3)};
    }
    case 2:
      return {"HTTP/1.1 204 No Content\r\nX-Echo: " + std::to_string(pick) + "\r\n\r\n"};
    case 3:
      *closeEnds = true;
      return {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n", echo};
    default:
      return {"HTTP/1.1 100 Continue\r\n\r\n",
              "HTTP/1.1 401 Unauthorized\r\nContent-Length: " + std::to_string(echo.size()) + "\r\n\r\n" + echo};
  }
}

class EchoServer {
 public:
  EchoServer()
      : server_([this](TlsStream& stream) {
          std::string error;
          auto request = stream.ReadRequest(10000, &error);
          if (!request) {
            ++refused_;
            return;
          }
          bool closeEnds = false;
          for (const std::string& piece : EchoReply(request->raw, &closeEnds)) {
            if (!stream.Write(piece)) return;
          }
          ++served_;
          if (!closeEnds) stream.AwaitClose(10000);
        }) {
    ServeWithoutDelay(server_);
  }

  Service service() const { return Service{"127.0.0.1", server_.port(), 10000, 10000}; }
  int served() const { return served_; }
  int refused() const { return refused_; }
  TlsServer& server() { return server_; }

 private:
  std::atomic<int> served_{0}, refused_{0};
  TlsServer server_;
};

// One operation of each of the nine kinds, with values unique to its thread
// and step that carry bytes each encoding must escape, and the exact request
// it must send. `n` is always seven characters, so every Content-Length is
// fixed.
struct Operation {
  int kind;
  std::vector<std::u16string> args;
  std::string request;
};

Operation MakeOperation(int thread, int step) {
  char number[16];
  snprintf(number, sizeof number, "%02d-%04d", thread, step);
  const std::string n = number;
  const int kind = (thread * 5 + step) % 9;
  const std::u16string token = U("ya29." + n);
  switch (kind) {
    case 0:
      return {kind, {token},
              "GET /tasks/v1/users/@me/lists HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer ya29." + n +
                  "\r\nAccept: */*\r\n\r\n"};
    case 1:
      return {kind, {token, U("list " + n + "/\xC3\xA9")},
              "GET /tasks/v1/lists/list%20" + n + "%2F%C3%A9/tasks HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Authorization: Bearer ya29." + n + "\r\nAccept: */*\r\n\r\n"};
    case 2:
      return {kind, {token, U("L" + n), U("Buy \"milk\" " + n + "\n\xE2\x98\x95")},
              "POST /tasks/v1/lists/L" + n + "/tasks HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer ya29." + n +
                  "\r\nContent-Type: application/json\r\nAccept: */*\r\nContent-Length: 40\r\n\r\n"
                  "{ \"title\": \"Buy \\\"milk\\\" " + n + "\\n\xE2\x98\x95\" }"};
    case 3:
      return {kind, {token, U("L" + n), U("T#" + n)},
              "DELETE /tasks/v1/lists/L" + n + "/tasks/T%23" + n + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Authorization: Bearer ya29." + n + "\r\nAccept: */*\r\n\r\n"};
    case 4:
      return {kind, {U("4/" + n), U("s+" + n), U(n + ".apps")},
              "POST /oauth2/v3/token HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-type: application/x-www-form-urlencoded\r\n"
              "Accept: */*\r\nContent-Length: 144\r\n\r\ncode=4%2F" + n + "&client_secret=s%2B" + n + "&client_id=" + n +
                  ".apps&redirect_uri=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob&grant_type=authorization_code"};
    case 5:
      return {kind, {U("1//" + n), U("s " + n), U(n)},
              "POST /oauth2/v3/token HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-type: application/x-www-form-urlencoded\r\n"
              "Accept: */*\r\nContent-Length: 97\r\n\r\nclient_id=" + n + "&client_secret=s%20" + n +
                  "&refresh_token=1%2F%2F" + n + "&grant_type=refresh_token"};
    case 6:
      return {kind, {U("c" + n), u"s", u"i", U("http://127.0.0.1:8" + n), U("v~" + n)},
              "POST /oauth2/v3/token HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-type: application/x-www-form-urlencoded\r\n"
              "Accept: */*\r\nContent-Length: 142\r\n\r\ncode=c" + n +
                  "&client_secret=s&client_id=i&redirect_uri=http%3A%2F%2F127.0.0.1%3A8" + n +
                  "&grant_type=authorization_code&code_verifier=v~" + n};
    case 7:
      return {kind, {token, U("L" + n), U("p=" + n)},
              "GET /tasks/v1/lists/L" + n +
                  "/tasks?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true&pageToken=p%3D" +
                  n + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer ya29." + n + "\r\nAccept: */*\r\n\r\n"};
    default:
      return {kind, {token, U("L" + n), U("T" + n)},
              "PATCH /tasks/v1/lists/L" + n + "/tasks/T" + n + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Authorization: Bearer ya29." + n + "\r\nContent-Type: application/json\r\nAccept: */*\r\n"
              "Content-Length: 25\r\n\r\n{ \"status\": \"completed\" }"};
  }
}

int32_t Call(const Operation& op, const Service& s, const tc_text16* path) {
  auto a = [&op](size_t i) { return T(op.args[i]); };
  Platform& platform = SystemPlatform();
  switch (op.kind) {
    case 0: return ListTaskLists(platform, s, a(0), path);
    case 1: return ListTasks(platform, s, a(0), a(1), path);
    case 2: return AddTask(platform, s, a(0), a(1), a(2), nullptr, path);
    case 3: return DeleteTask(platform, s, a(0), a(1), a(2), path);
    case 4: return GetToken(platform, s, a(0), a(1), a(2), path);
    case 5: return RefreshToken(platform, s, a(0), a(1), a(2), path);
    case 6: return GetTokenPkce(platform, s, a(0), a(1), a(2), a(3), a(4), path);
    case 7: return ListTasksPage(platform, s, a(0), a(1), a(2), path);
    default: return CompleteTask(platform, s, a(0), a(1), a(2), path);
  }
}

TEST(LoadTest, SixteenThreadsOfMixedOperations) {
  const int kThreads = 16;
  // At most 10,000 steps: a step number has four digits in the requests.
  const int kSteps = std::min(CountFromEnvironment("TASKCLIENT_LOAD_STEPS", 200), 10000);
  EchoServer server;
  TempDir dir;
  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // One file per thread, overwritten by every call: a shorter reply
      // must leave nothing of a longer one behind.
      const auto file = dir / ("thread-" + std::to_string(t) + ".bin");
      const std::u16string path = PathText(file);
      for (int step = 0; step < kSteps; ++step) {
        const Operation op = MakeOperation(t, step);
        int32_t result = Call(op, server.service(), T(path));
        bool closeEnds = false;
        std::string expected = Joined(EchoReply(op.request, &closeEnds));
        std::string got = ReadFile(file);
        if (result != TC_EXCHANGE_COMPLETE || got != expected) {
          std::lock_guard<std::mutex> lock(mutex);
          failures.push_back("thread " + std::to_string(t) + " step " + std::to_string(step) + ": result " +
                             std::to_string(result) + "\nexpected:\n" + expected + "\ngot:\n" + got);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  server.server().Stop();
  EXPECT_EQ(failures.size(), 0u) << (failures.empty() ? "" : failures.front());
  EXPECT_EQ(server.served(), kThreads * kSteps);
  EXPECT_EQ(server.refused(), 0);
}

// Every kind of ending, over and over in one process: afterwards exactly the
// descriptors open before are open (the memory side is measured by
// scripts/soak.sh, which runs the server in another process).
TEST(LoadTest, TenThousandCallsLeaveNoDescriptorBehind) {
  const int kCalls = CountFromEnvironment("TASKCLIENT_SOAK_CALLS", 10000);
  TempDir dir;
  const std::u16string path = PathText(dir / "reply.bin");
  const std::u16string missing = PathText(dir / "missing" / "reply.bin");
  const std::u16string full = u"/dev/full";

  enum End { kClose, kAbrupt, kHold };
  struct Kind {
    std::string reply;
    End end;
    const std::u16string* path;
    int32_t result;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
  const Kind kinds[] = {
      {ok, kHold, &path, TC_EXCHANGE_COMPLETE},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", kHold, &path,
       TC_EXCHANGE_COMPLETE},
      {"HTTP/1.0 200 OK\r\n\r\n{}", kClose, &path, TC_EXCHANGE_COMPLETE},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{}", kClose, &path, TC_REPLY_CUT_SHORT},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{}", kAbrupt, &path, TC_REPLY_CUT_SHORT},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", kHold, &path, TC_REPLY_CUT_SHORT},
      {ok, kHold, &missing, TC_FILE_OPEN_FAILED},
      {ok, kHold, &full, TC_FILE_WRITE_FAILED},
  };
  const int kKinds = sizeof kinds / sizeof kinds[0];
  std::atomic<int> current{0};
  TlsServer server([&](TlsStream& stream) {
    const Kind& kind = kinds[current.load()];
    if (!stream.ReadRequest(10000)) return;  // a file that cannot be opened: no request comes
    stream.Write(kind.reply);
    if (kind.end == kHold) stream.AwaitClose(10000);
    stream.Close(kind.end == kAbrupt);
  });
  ServeWithoutDelay(server);
  const Service service = {"127.0.0.1", server.port(), 10000, 10000};

  ASSERT_EQ(ListTaskLists(SystemPlatform(), service, T(u"t"), T(path)), TC_EXCHANGE_COMPLETE);
  while (server.finished() < server.accepted()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const int before = OpenDescriptors();

  std::map<int, int> wrong;  // kind (or -1: refused arguments) -> calls with another result
  for (int call = 0; call < kCalls; ++call) {
    if (call % 10 == 9) {  // refused before any connection
      if (ListTaskLists(SystemPlatform(), service, T(u"bad\ntoken"), T(path)) != TC_BAD_ARGUMENT) ++wrong[-1];
      continue;
    }
    const int k = (call / 7) % kKinds;
    current = k;
    if (ListTaskLists(SystemPlatform(), service, T(u"ya29.t"), T(*kinds[k].path)) != kinds[k].result) ++wrong[k];
    // Let the server see this connection end before the next kind is set.
    while (server.finished() < server.accepted()) std::this_thread::yield();
  }
  server.Stop();  // the server's own sockets are closed too
  EXPECT_TRUE(wrong.empty()) << "first kind with a wrong result: " << wrong.begin()->first;
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
