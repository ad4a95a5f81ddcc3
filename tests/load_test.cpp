// Load and stability: sixteen threads running mixed operations at once
// against one server, every request and every response file checked byte for
// byte; and ten thousand calls in one process leaving the open descriptors
// where they started.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

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
using testsupport::OpenDescriptors;
using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;
using testsupport::U;

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
void ServeWithoutDelay(testsupport::TlsServer& server) {
  server.SetRawHandler([](int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
  });
}

uint32_t Fnv(const std::string& bytes) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
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
      : server_([this](testsupport::TlsStream& stream) {
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
  testsupport::TlsServer& server() { return server_; }

 private:
  std::atomic<int> served_{0}, refused_{0};
  testsupport::TlsServer server_;
};

std::string Request(const std::string& method, const std::string& target, const std::string* token,
                    const char* contentType, const std::string* body) {
  std::string r = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (token) r += "Authorization: Bearer " + *token + "\r\n";
  if (body) r += std::string(contentType) + "\r\n";
  r += "Accept: */*\r\n";
  if (body) r += "Content-Length: " + std::to_string(body->size()) + "\r\n";
  return r + "\r\n" + (body ? *body : "");
}

// One operation with values unique to its thread and step, and the request
// it must send. The values carry bytes each encoding must escape.
struct Operation {
  std::function<int32_t(const Service&, const tc_text16* path)> call;
  std::string request;
};

Operation MakeOperation(int thread, int step) {
  const std::string n = std::to_string(thread) + "-" + std::to_string(step);
  const std::string token = "ya29." + n;
  auto keep = std::make_shared<std::vector<std::u16string>>();
  auto text = [keep](const std::string& utf8) {
    keep->push_back(U(utf8));
    return T(keep->back());
  };
  // Reserve room up front so the pointers handed out stay valid.
  keep->reserve(8);
  const std::string form = "application/x-www-form-urlencoded";
  Operation op;
  switch ((thread * 5 + step) % 9) {
    case 0: {
      auto t = text(token);
      op.call = [=](const Service& s, const tc_text16* p) { return ListTaskLists(SystemPlatform(), s, t, p); };
      op.request = Request("GET", "/tasks/v1/users/@me/lists", &token, nullptr, nullptr);
      break;
    }
    case 1: {
      auto t = text(token), list = text("list " + n + "/\xC3\xA9");
      op.call = [=](const Service& s, const tc_text16* p) { return ListTasks(SystemPlatform(), s, t, list, p); };
      op.request = Request("GET", "/tasks/v1/lists/list%20" + n + "/%C3%A9/tasks", &token, nullptr, nullptr);
      break;
    }
    case 2: {
      auto t = text(token), list = text("L" + n), title = text("Buy \"milk\" " + n + "\n\xE2\x98\x95");
      const std::string body = "{ \"title\": \"Buy \\\"milk\\\" " + n + "\\n\xE2\x98\x95\" }";
      op.call = [=](const Service& s, const tc_text16* p) {
        return AddTask(SystemPlatform(), s, t, list, title, nullptr, p);
      };
      op.request = Request("POST", "/tasks/v1/lists/L" + n + "/tasks", &token, "Content-Type: application/json", &body);
      break;
    }
    case 3: {
      auto t = text(token), list = text("L" + n), task = text("T#" + n);
      op.call = [=](const Service& s, const tc_text16* p) {
        return DeleteTask(SystemPlatform(), s, t, list, task, p);
      };
      op.request = Request("DELETE", "/tasks/v1/lists/L" + n + "/tasks/T%23" + n, &token, nullptr, nullptr);
      break;
    }
    case 4: {
      auto code = text("4/" + n), secret = text("s+" + n), id = text(n + ".apps");
      const std::string body = "code=4%2F" + n + "&client_secret=s%2B" + n + "&client_id=" + n +
                               ".apps&redirect_uri=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob&grant_type=authorization_code";
      op.call = [=](const Service& s, const tc_text16* p) { return GetToken(SystemPlatform(), s, code, secret, id, p); };
      op.request = Request("POST", "/oauth2/v3/token", nullptr, ("Content-type: " + form).c_str(), &body);
      break;
    }
    case 5: {
      auto refresh = text("1//" + n), secret = text("s " + n), id = text(n);
      const std::string body =
          "client_id=" + n + "&client_secret=s%20" + n + "&refresh_token=1%2F%2F" + n + "&grant_type=refresh_token";
      op.call = [=](const Service& s, const tc_text16* p) {
        return RefreshToken(SystemPlatform(), s, refresh, secret, id, p);
      };
      op.request = Request("POST", "/oauth2/v3/token", nullptr, ("Content-type: " + form).c_str(), &body);
      break;
    }
    case 6: {
      auto code = text("c" + n), secret = text("s"), id = text("i"), redirect = text("http://127.0.0.1:8" + n),
           verifier = text("v~" + n);
      const std::string body = "code=c" + n + "&client_secret=s&client_id=i&redirect_uri=http%3A%2F%2F127.0.0.1%3A8" +
                               n + "&grant_type=authorization_code&code_verifier=v~" + n;
      op.call = [=](const Service& s, const tc_text16* p) {
        return GetTokenPkce(SystemPlatform(), s, code, secret, id, redirect, verifier, p);
      };
      op.request = Request("POST", "/oauth2/v3/token", nullptr, ("Content-type: " + form).c_str(), &body);
      break;
    }
    case 7: {
      auto t = text(token), list = text("L" + n), page = text("p=" + n);
      op.call = [=](const Service& s, const tc_text16* p) {
        return ListTasksPage(SystemPlatform(), s, t, list, page, p);
      };
      op.request = Request("GET",
                           "/tasks/v1/lists/L" + n + "/tasks?maxResults=100&showCompleted=true&showHidden=true"
                           "&pageToken=p%3D" + n,
                           &token, nullptr, nullptr);
      break;
    }
    default: {
      auto t = text(token), list = text("L" + n), task = text("T" + n);
      const std::string body = "{ \"status\": \"completed\" }";
      op.call = [=](const Service& s, const tc_text16* p) {
        return CompleteTask(SystemPlatform(), s, t, list, task, p);
      };
      op.request =
          Request("PATCH", "/tasks/v1/lists/L" + n + "/tasks/T" + n, &token, "Content-Type: application/json", &body);
      break;
    }
  }
  // The strings live as long as the call does.
  auto call = op.call;
  op.call = [keep, call](const Service& s, const tc_text16* p) { return call(s, p); };
  return op;
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const auto& piece : pieces) all += piece;
  return all;
}

TEST(LoadTest, SixteenThreadsOfMixedOperations) {
  const int kThreads = 16;
  const int kSteps = CountFromEnvironment("TASKCLIENT_LOAD_STEPS", 200);
  EchoServer server;
  testsupport::TempDir dir;
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
        Operation op = MakeOperation(t, step);
        int32_t result = op.call(server.service(), T(path));
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
  testsupport::TempDir dir;
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
  testsupport::TlsServer server([&](testsupport::TlsStream& stream) {
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
