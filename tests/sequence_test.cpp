// Many requests in one exchange (SendRequests): the requests file's rules,
// what goes on the wire and into the response file, which requests are
// pipelined, and what the call does when the server closes, stalls or breaks
// a reply in the middle of a sequence, over real TLS on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "support/requests.h"
#include "readers/reply_reader.h"
#include "tasks/requests.h"
#include "testing/text16.h"
#include "testing/tls_server.h"

using namespace taskclient;
using testsupport::HttpRequest;
using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;
using testsupport::TlsStream;
using testsupport::WriteFile;

namespace {

const std::string kToken = "ya29.token";

// What the server does with one request: writes `bytes` (nothing when
// empty), then goes on, closes, or holds the connection silent.
struct Answer {
  std::string bytes;
  enum End { kGoOn, kClose, kAbrupt, kHold } end = kGoOn;
};
// The answer to the `n`-th request (from 0) of the `connection`-th
// connection (from 0).
using Script = std::function<Answer(int connection, int n, const HttpRequest& request)>;

std::string Ok(const std::string& body, const std::string& fields = "") {
  return "HTTP/1.1 200 OK\r\n" + fields + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The reply that names its request, so that the file shows the order.
std::string Echo(const HttpRequest& request, const std::string& fields = "") {
  return Ok(request.method + " " + request.target, fields);
}

// Ends the connection so that nothing the client still sends is left unread
// (a reset would throw away the reply on its way): close_notify unless
// `abrupt`, the write side shut, and the client's bytes read until it closes.
void Linger(TlsStream& stream, bool abrupt) {
  if (!abrupt) SSL_shutdown(stream.session());
  shutdown(stream.socket(), SHUT_WR);
  char buffer[4096];
  pollfd wait{stream.socket(), POLLIN, 0};
  while (poll(&wait, 1, 3000) > 0 && recv(stream.socket(), buffer, sizeof buffer, 0) > 0) {
  }
}

// A keep-alive server that reads one request at a time and answers it by
// the script before it reads the next.
class SequenceServer {
 public:
  explicit SequenceServer(Script script, int followWaitMs = 0)
      : script_(std::move(script)), followWaitMs_(followWaitMs), server_([this](TlsStream& s) { Handle(s); }) {}

  Service service(int timeoutMs = 5000) const { return Service{"127.0.0.1", server_.port(), timeoutMs, timeoutMs}; }
  // Each connection's requests, as they arrived.
  std::vector<std::vector<std::string>> Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Every request's bytes, connection after connection.
  std::vector<std::string> AllRequests() {
    std::vector<std::string> all;
    for (const auto& connection : Connections()) all.insert(all.end(), connection.begin(), connection.end());
    return all;
  }
  // Whether each connection's handshake resumed an earlier session.
  std::vector<bool> Resumed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return resumed_;
  }
  // For each request in the order read: whether the next one had arrived
  // before its answer went out (only with a follow wait).
  std::vector<bool> Followed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return followed_;
  }
  // Everything written, in order.
  std::string Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }
  // Each answer written, in order.
  std::vector<std::string> Replies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_;
  }
  testsupport::TlsServer& server() { return server_; }

 private:
  void Handle(TlsStream& stream) {
    int connection;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection = static_cast<int>(requests_.size());
      requests_.emplace_back();
      resumed_.push_back(SSL_session_reused(stream.session()) == 1);
    }
    for (int n = 0;; ++n) {
      auto request = stream.ReadRequest(5000);
      if (!request) return;
      bool followed = followWaitMs_ > 0 && stream.MoreArrives(followWaitMs_);
      Answer answer = script_(connection, n, *request);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_[static_cast<size_t>(connection)].push_back(request->raw);
        followed_.push_back(followed);
        written_ += answer.bytes;
        if (!answer.bytes.empty()) replies_.push_back(answer.bytes);
      }
      if (!answer.bytes.empty() && !stream.Write(answer.bytes)) return;
      switch (answer.end) {
        case Answer::kGoOn:
          continue;
        case Answer::kHold:
          stream.AwaitClose(20000);
          return;
        case Answer::kClose:
        case Answer::kAbrupt:
          Linger(stream, answer.end == Answer::kAbrupt);
          return;
      }
    }
  }

  Script script_;
  int followWaitMs_;
  std::mutex mutex_;
  std::vector<std::vector<std::string>> requests_;
  std::vector<bool> resumed_;
  std::vector<bool> followed_;
  std::string written_;
  std::vector<std::string> replies_;
  testsupport::TlsServer server_;
};

// Answers every request with its echo, on one connection.
Answer EchoAll(int, int, const HttpRequest& request) { return {Echo(request)}; }

// The request a line of a requests file must put on the wire.
std::string Expected(const std::string& line) {
  std::string method = line.substr(0, line.find(' '));
  std::string rest = line.substr(method.size() + 1);
  size_t space = rest.find(' ');
  std::string target = rest.substr(0, space);
  if (space != std::string::npos) return testsupport::JsonRequest(method, target, rest.substr(space + 1), kToken);
  if (method == "GET" || method == "DELETE") return testsupport::Bodiless(method, target, kToken);
  return testsupport::EmptyBodied(method, target, kToken);
}

std::vector<std::string> ExpectedAll(const std::vector<std::string>& lines) {
  std::vector<std::string> all;
  for (const std::string& line : lines) all.push_back(Expected(line));
  return all;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class SequenceTest : public ::testing::Test {
 protected:
  Result Send(SequenceServer& server, const std::string& requests, int timeoutMs = 5000) {
    WriteFile(requestsFile, requests);
    return SendRequests(SystemPlatform(), server.service(timeoutMs), T(token), T(requestsPath), T(path));
  }

  // Reads every reply of the response file back by its index, as a host
  // does, against the replies the server wrote (each with a length); the
  // index past them is 31.
  void ExpectEachReplyReadsBack(const std::vector<std::string>& replies) {
    const std::filesystem::path body = dir / "body.bin";
    for (size_t i = 0; i <= replies.size(); ++i) {
      SCOPED_TRACE("reply " + std::to_string(i));
      ReplyRead read = ReadReplyAt(SystemPlatform(), T(path), static_cast<int32_t>(i), T(PathText(body)));
      if (i == replies.size()) {
        EXPECT_EQ(read.result, kNoSuchReply);
        break;
      }
      ASSERT_EQ(read.result, kOk);
      EXPECT_EQ(read.status, std::stoi(replies[i].substr(9, 3)));
      EXPECT_EQ(ReadFile(body), replies[i].substr(replies[i].find("\r\n\r\n") + 4));
    }
  }

  testsupport::TempDir dir;
  std::filesystem::path requestsFile = dir / "requests.txt";
  std::filesystem::path file = dir / "replies.bin";
  std::u16string token = testsupport::U(kToken);
  std::u16string requestsPath = PathText(requestsFile);
  std::u16string path = PathText(file);
};

TEST_F(SequenceTest, RequestsFileRulesAreCheckedBeforeAnythingIsSent) {
  SequenceServer server(EchoAll);
  const std::string good = "GET /tasks/v1/users/@me/lists\n";
  std::string manyLines;
  for (int i = 0; i < 1001; ++i) manyLines += good;
  struct Row {
    const char* why;
    std::string file;
    Result result;
  } rows[] = {
      {"an empty file", "", kBadArgument},
      {"an empty line in the middle", good + "\n" + good, kBadArgument},
      {"two empty lines at the end", good + "\n", kBadArgument},
      {"a lower-case method", "get /tasks/v1/x\n", kBadArgument},
      {"an unknown method", "HEAD /tasks/v1/x\n", kBadArgument},
      {"a method alone", "GET\n", kBadArgument},
      {"two spaces after the method", "GET  /tasks/v1/x\n", kBadArgument},
      {"a tab after the method", "GET\t/tasks/v1/x\n", kBadArgument},
      {"another path", "GET /oauth2/v3/token\n", kBadArgument},
      {"a dot-dot segment", "GET /tasks/v1/../../oauth2/v3/token\n", kBadArgument},
      {"a fragment", "GET /tasks/v1/a#b\n", kBadArgument},
      {"a non-ASCII target", "GET /tasks/v1/caf\xC3\xA9\n", kBadArgument},
      {"a target of 1001 bytes", "GET /tasks/v1/" + std::string(991, 'a') + "\n", kTooLong},
      {"GET with a body", "GET /tasks/v1/x {}\n", kBadArgument},
      {"DELETE with a body", "DELETE /tasks/v1/x {}\n", kBadArgument},
      {"a space and no body", "POST /tasks/v1/x \n", kBadArgument},
      {"two spaces before the body", "POST /tasks/v1/x  {}\n", kBadArgument},
      {"a control byte in the body", "POST /tasks/v1/x {\"a\":\x01}\n", kBadArgument},
      {"a CR inside a line", "POST /tasks/v1/x {\r}\n", kBadArgument},
      {"a CR at the end of the file", "GET /tasks/v1/x\r", kBadArgument},
      {"a body of 8193 bytes", "PUT /tasks/v1/x " + std::string(8193, 'x') + "\n", kTooLong},
      {"1001 lines", manyLines, kTooLong},
      {"a broken line after good ones", good + good + "PATCH /tasks/v1/x  {}\n", kBadArgument},
  };
  WriteFile(file, "untouched");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(Send(server, row.file), row.result);
  }
  WriteFile(requestsFile, good);
  const std::u16string missing = PathText(dir / "none.txt");
  const Service service = server.service();
  EXPECT_EQ(SendRequests(SystemPlatform(), service, nullptr, T(requestsPath), T(path)), kBadArgument);
  EXPECT_EQ(SendRequests(SystemPlatform(), service, T(token), nullptr, T(path)), kBadArgument);
  EXPECT_EQ(SendRequests(SystemPlatform(), service, T(token), T(requestsPath), nullptr), kBadArgument);
  EXPECT_EQ(SendRequests(SystemPlatform(), service, T(u"a\nb"), T(requestsPath), T(path)), kBadArgument);
  EXPECT_EQ(SendRequests(SystemPlatform(), service, T(token), T(missing), T(path)), kFileOpenFailed);
  EXPECT_EQ(ReadFile(file), "untouched");
  EXPECT_EQ(server.server().accepted(), 0);
}

TEST_F(SequenceTest, EachRequestGoesOnTheWireOnOneConnection) {
  const std::vector<std::string> lines = {
      "GET /tasks/v1/users/@me/lists",
      "POST /tasks/v1/lists/L1/tasks {\"title\": \"Caf\xC3\xA9\"}",
      "GET /tasks/v1/" + std::string(990, 'a'),
      "PUT /tasks/v1/users/@me/lists/L1 {\"title\": \"Errands\"}",
      "POST /tasks/v1/lists/L1/clear",
      "PATCH /tasks/v1/lists/L1/tasks/T1 {\"notes\": \"" + std::string(8192 - 14, 'n') + "\"}",
      "DELETE /tasks/v1/lists/L1/tasks/T1",
      "PUT /tasks/v1/lists/L1/tasks/T2",
  };
  // CRLF line ends, and no line end after the last line.
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += lines[i] + (i + 1 < lines.size() ? "\r\n" : "");
  SequenceServer server(EchoAll);
  ASSERT_EQ(Send(server, text), kExchangeComplete);
  ASSERT_EQ(server.Connections().size(), 1u);
  EXPECT_EQ(server.AllRequests(), ExpectedAll(lines));
  EXPECT_EQ(ReadFile(file), server.Written());
  ExpectEachReplyReadsBack(server.Replies());

  // The longest head with the longest body: the 2048-byte token too; CRLF
  // after the last line as well.
  token = std::u16string(2048, u't');
  SequenceServer longest(EchoAll);
  ASSERT_EQ(Send(longest, lines[2] + "\r\n" + lines[5] + "\r\n"), kExchangeComplete);
  const std::string longToken(2048, 't');
  EXPECT_EQ(longest.AllRequests(),
            (std::vector<std::string>{testsupport::Bodiless("GET", lines[2].substr(4), longToken),
                                      testsupport::JsonRequest("PATCH", lines[5].substr(6, lines[5].find(' ', 6) - 6),
                                                               lines[5].substr(lines[5].find(' ', 6) + 1), longToken)}));
  token = testsupport::U(kToken);

  // A thousand lines, the most a file may hold.
  std::vector<std::string> many(1000, "GET /tasks/v1/users/@me/lists");
  SequenceServer busy(EchoAll);
  ASSERT_EQ(Send(busy, Lines(many)), kExchangeComplete);
  EXPECT_EQ(busy.AllRequests().size(), 1000u);
  EXPECT_EQ(ReadFile(file), busy.Written());
}

// Idempotent requests follow each other without waiting; a POST or PATCH
// waits for every reply before it and nothing follows it until its reply.
TEST_F(SequenceTest, OnlyIdempotentRequestsArePipelined) {
  const std::vector<std::string> lines = {
      "GET /tasks/v1/a", "GET /tasks/v1/b", "GET /tasks/v1/c", "POST /tasks/v1/d {}", "GET /tasks/v1/e",
      "PATCH /tasks/v1/f {}", "PUT /tasks/v1/g {}", "DELETE /tasks/v1/h", "DELETE /tasks/v1/i",
  };
  SequenceServer server(EchoAll, 150);
  ASSERT_EQ(Send(server, Lines(lines)), kExchangeComplete);
  EXPECT_EQ(server.AllRequests(), ExpectedAll(lines));
  EXPECT_EQ(server.Followed(), (std::vector<bool>{true, true, false, false, false, false, true, true, false}));
  EXPECT_EQ(ReadFile(file), server.Written());
  ExpectEachReplyReadsBack(server.Replies());
}

// A server that closes after a number of replies: with "Connection: close"
// in the last one, the call sends nothing more on that connection, POST and
// PATCH included; without a word, the idempotent requests it sent meanwhile
// go again. Every new connection resumes the TLS session of the one before.
TEST_F(SequenceTest, KeepAliveLimitsCostANewResumedConnection) {
  const std::vector<std::string> mixed = {
      "GET /tasks/v1/a", "POST /tasks/v1/b {}", "GET /tasks/v1/c", "PATCH /tasks/v1/d {}",
      "PUT /tasks/v1/e {}", "DELETE /tasks/v1/f", "GET /tasks/v1/g",
  };
  const std::vector<std::string> idempotent = {
      "GET /tasks/v1/a", "GET /tasks/v1/b", "PUT /tasks/v1/c {}", "DELETE /tasks/v1/d", "GET /tasks/v1/e",
      "GET /tasks/v1/f", "GET /tasks/v1/g",
  };
  for (int limit : {1, 2, 3}) {
    for (bool sayClose : {true, false}) {
      for (bool abrupt : {false, true}) {
        SCOPED_TRACE("limit " + std::to_string(limit) + (sayClose ? ", Connection: close" : ", no word") +
                     (abrupt ? ", no close_notify" : ""));
        SequenceServer server([=](int, int n, const HttpRequest& request) {
          if (n + 1 < limit) return Answer{Echo(request)};
          return Answer{Echo(request, sayClose ? "Connection: close\r\n" : ""), abrupt ? Answer::kAbrupt : Answer::kClose};
        });
        const auto& lines = sayClose ? mixed : idempotent;
        ASSERT_EQ(Send(server, Lines(lines)), kExchangeComplete);
        EXPECT_EQ(server.AllRequests(), ExpectedAll(lines));
        EXPECT_EQ(ReadFile(file), server.Written());
        ExpectEachReplyReadsBack(server.Replies());
        const size_t connections = (lines.size() + static_cast<size_t>(limit) - 1) / static_cast<size_t>(limit);
        ASSERT_EQ(server.Connections().size(), connections);
        // (A session that ended without close_notify may be forgotten by
        // either side.)
        std::vector<bool> resumed(connections, true);
        resumed[0] = false;
        if (!abrupt) {
          EXPECT_EQ(server.Resumed(), resumed);
        }
      }
    }
  }
}

// The requests file is never written over with the replies, under any name.
TEST_F(SequenceTest, TheResponseFileIsNeverTheRequestsFile) {
  SequenceServer server(EchoAll);
  const std::string requests = "GET /tasks/v1/a\nGET /tasks/v1/b\n";
  WriteFile(requestsFile, requests);
  std::filesystem::create_hard_link(requestsFile, dir / "other-name.txt");
  for (const std::u16string& name : {requestsPath, PathText(dir / "other-name.txt")}) {
    WriteFile(requestsFile, requests);
    EXPECT_EQ(SendRequests(SystemPlatform(), server.service(), T(token), T(requestsPath), T(name)), kBadArgument);
    EXPECT_EQ(ReadFile(requestsFile), requests);
  }
  EXPECT_TRUE(server.AllRequests().empty());
}

// A new connection that cannot be made ends the call as a failed connect
// does, with the replies of the connection before in the file.
TEST_F(SequenceTest, AReconnectThatFailsIsAFailedConnect) {
  SequenceServer server([](int, int, const HttpRequest& request) {
    return Answer{Echo(request, "Connection: close\r\n"), Answer::kClose};
  });
  std::atomic<int> connections{0};
  server.server().SetRawHandler([&](int) { return connections++ == 0; });
  EXPECT_EQ(Send(server, "GET /tasks/v1/a\nGET /tasks/v1/b\n"), kConnectFailed);
  EXPECT_EQ(ReadFile(file), server.Written());
  EXPECT_EQ(server.AllRequests().size(), 1u);
}

// A server that closes without a word after a whole reply, having read the
// next request: an idempotent one goes again, once; a POST or PATCH never.
TEST_F(SequenceTest, ACloseBeforeAnyByteOfAReply) {
  const Answer::End kEnds[] = {Answer::kClose, Answer::kAbrupt};
  struct Row {
    const char* why;
    std::vector<std::string> lines;
    int dropsOnSecond;  // the second connection drops its first request too
    Result result;
    size_t connections;
    size_t replies;     // whole replies in the file
  } rows[] = {
      {"GET again", {"GET /tasks/v1/a", "GET /tasks/v1/b", "GET /tasks/v1/c"}, 0, kExchangeComplete, 2, 3},
      {"DELETE again", {"GET /tasks/v1/a", "DELETE /tasks/v1/b"}, 0, kExchangeComplete, 2, 2},
      {"POST not again", {"GET /tasks/v1/a", "POST /tasks/v1/b {}", "GET /tasks/v1/c"}, 0, kReplyCutShort, 1, 1},
      {"PATCH not again", {"GET /tasks/v1/a", "PATCH /tasks/v1/b {}"}, 0, kReplyCutShort, 1, 1},
      {"GET twice without a byte", {"GET /tasks/v1/a", "GET /tasks/v1/b"}, 1, kReplyCutShort, 2, 1},
      {"a first POST", {"POST /tasks/v1/a {}", "GET /tasks/v1/b"}, 0, kReplyCutShort, 1, 0},
  };
  for (Answer::End end : kEnds) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.why) + (end == Answer::kAbrupt ? ", no close_notify" : ""));
      std::vector<std::string> replies;
      const bool firstDropped = row.replies == 0;
      SequenceServer server([&](int connection, int n, const HttpRequest& request) {
        bool drop = (connection == 0 && n == (firstDropped ? 0 : 1)) || (connection == 1 && n == 0 && row.dropsOnSecond);
        if (drop) return Answer{"", end};
        return Answer{Echo(request)};
      });
      EXPECT_EQ(Send(server, Lines(row.lines)), row.result);
      std::vector<std::string> expected = ExpectedAll(row.lines);
      if (row.result == kExchangeComplete) {
        // The dropped request twice, once on each connection.
        expected.insert(expected.begin() + 2, expected[1]);
      } else if (row.dropsOnSecond) {
        expected.push_back(expected[1]);
      } else {
        expected.resize(row.replies + 1);
      }
      EXPECT_EQ(server.AllRequests(), expected);
      EXPECT_EQ(server.Connections().size(), row.connections);
      std::string whole;
      for (size_t i = 0; i < row.replies; ++i) {
        std::string line = row.lines[i];
        std::string target = line.substr(line.find(' ') + 1);
        whole += Ok(line.substr(0, line.find(' ')) + " " + target.substr(0, target.find(' ')));
      }
      EXPECT_EQ(ReadFile(file), whole);
    }
  }
}

// A server that writes each whole reply before it reads the next request,
// with replies far larger than any socket buffer: the call reads while it
// cannot send, so neither side waits on the other.
TEST_F(SequenceTest, LargeRepliesToPipelinedRequestsDoNotDeadlock) {
  SequenceServer server([](int, int n, const HttpRequest&) { return Answer{Ok(std::string(300000, char('a' + n % 26)))}; });
  std::vector<std::string> lines(24, "GET /tasks/v1/users/@me/lists");
  ASSERT_EQ(Send(server, Lines(lines)), kExchangeComplete);
  EXPECT_EQ(server.AllRequests().size(), 24u);
  EXPECT_EQ(ReadFile(file), server.Written());
  ExpectEachReplyReadsBack(server.Replies());
}

// A stall anywhere in a sequence ends the call within the stall limit, with
// the whole replies before it and what arrived of the one that stalled.
TEST_F(SequenceTest, AStallAtAnyStepEndsTheCallWithinTheLimit) {
  const int kLimitMs = 400;
  const std::vector<std::string> lines = {"GET /tasks/v1/a", "GET /tasks/v1/b", "POST /tasks/v1/c {}", "GET /tasks/v1/d"};
  for (int stalled = 0; stalled < 4; ++stalled) {
    for (bool midReply : {false, true}) {
      SCOPED_TRACE("request " + std::to_string(stalled) + (midReply ? ", in the middle of its reply" : ""));
      SequenceServer server([&](int, int n, const HttpRequest& request) {
        if (n != stalled) return Answer{Echo(request)};
        return Answer{midReply ? Echo(request).substr(0, 30) : "", Answer::kHold};
      });
      auto started = std::chrono::steady_clock::now();
      EXPECT_EQ(Send(server, Lines(lines), kLimitMs), kReplyCutShort);
      auto spent = std::chrono::steady_clock::now() - started;
      EXPECT_GE(spent, std::chrono::milliseconds(kLimitMs));
      EXPECT_LT(spent, std::chrono::milliseconds(kLimitMs + 1500));
      EXPECT_EQ(ReadFile(file), server.Written());
    }
  }
}

// Reply shapes in the middle of a sequence: a reply like any other whatever
// its status; broken framing, a 101 or a reply only the close ends stop the
// sequence there.
TEST_F(SequenceTest, ReplyShapesInTheMiddleOfASequence) {
  struct Row {
    const char* why;
    std::string second;  // the reply to the second of three requests
    Answer::End end;
    Result result;
    bool thirdSent;
  } rows[] = {
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", Answer::kGoOn, kExchangeComplete, true},
      {"503", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n", Answer::kGoOn, kExchangeComplete, true},
      {"interim 100 first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}",
       Answer::kGoOn, kExchangeComplete, true},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", Answer::kGoOn,
       kExchangeComplete, true},
      {"a length that lies", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{}", Answer::kClose, kReplyCutShort, true},
      {"a chunk that overruns", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}}}\r\n0\r\n\r\n",
       Answer::kGoOn, kReplyCutShort, true},
      {"101", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", Answer::kGoOn, kReplyCutShort, true},
      {"ended by the close", "HTTP/1.1 200 OK\r\n\r\n{}", Answer::kClose, kReplyCutShort, true},
  };
  const std::vector<std::string> lines = {"GET /tasks/v1/a", "GET /tasks/v1/b", "GET /tasks/v1/c"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    SequenceServer server([&](int, int n, const HttpRequest& request) {
      if (n == 1) return Answer{row.second, row.end};
      return Answer{Echo(request)};
    });
    EXPECT_EQ(Send(server, Lines(lines)), row.result);
    EXPECT_EQ(server.Connections().size(), 1u);
    if (row.result == kExchangeComplete) {
      EXPECT_EQ(ReadFile(file), server.Written());
    }
    // The first reply and the second as it arrived, and nothing after it.
    if (row.result != kExchangeComplete) {
      std::string first = Ok("GET /tasks/v1/a");
      EXPECT_EQ(ReadFile(file).substr(0, first.size() + row.second.size()), first + row.second);
    }
  }
  // A reply only the close ends is whole as the last one.
  SequenceServer last([&](int, int n, const HttpRequest& request) {
    if (n == 2) return Answer{"HTTP/1.1 200 OK\r\n\r\n{}", Answer::kClose};
    return Answer{Echo(request)};
  });
  EXPECT_EQ(Send(last, Lines(lines)), kExchangeComplete);
  EXPECT_EQ(ReadFile(file), last.Written());
}

}  // namespace
