// taskclient-slow-link: what many operations cost on a slow link, side by
// side: ten calls, each its own connection, against one sequence call over
// one connection, and against curl fetching the same URLs over one
// connection. A relay (relay.h) holds every piece of data a fixed time in
// each direction between the caller and a local TLS server that keeps its
// connections alive (several requests per connection, pipelined ones
// included). bench/slow-link.sh runs it in a private network namespace;
// README.md beside this file has the figures.
//
//   taskclient-slow-link [--rounds=N] [--delay-ms=MS] [--curl=PATH]
//
// Each round runs every contender once, in an order that turns each round;
// the figures are the medians of the rounds. Exits 0 when every call of
// every round completed with every reply whole, 1 otherwise; no speed is
// checked.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/service.h"
#include "platform/platform.h"
#include "relay.h"
#include "taskclient.h"
#include "tasks/requests.h"
#include "tasks/tasks.h"
#include "testing/tls_server.h"

extern char** environ;

namespace {

const int kOperations = 10;
const char kListingTarget[] = "/tasks/v1/users/@me/lists";

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string Reply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\nVary: Origin\r\n"
         "Date: Fri, 01 Mar 2024 10:00:00 GMT\r\nServer: ESF\r\nCache-Control: private\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The user's task lists, three of them, in the service's shape.
std::string ListingBody() {
  std::string body = "{\n  \"kind\": \"tasks#taskLists\",\n  \"etag\": \"\\\"LTE2NTk0NjQ5NTY\\\"\",\n  \"items\": [\n";
  for (int i = 0; i < 3; ++i) {
    body += "    {\n      \"kind\": \"tasks#taskList\",\n      \"id\": \"MDk2NTk0NjQ5NTY3OTk1MjcxNjk6MDow" +
            std::to_string(i) + "\",\n      \"title\": \"List " + std::to_string(i) +
            "\",\n      \"updated\": \"2024-03-01T10:00:00.000Z\"\n    }" + (i < 2 ? ",\n" : "\n");
  }
  return body + "  ]\n}\n";
}

// A task as the service returns it after a change.
std::string TaskBody() {
  return "{\n  \"kind\": \"tasks#task\",\n  \"id\": \"MTIzNDU2Nzg5MDEyMzQ1Njc4OTA\",\n  \"title\": \"Buy milk\",\n"
         "  \"status\": \"completed\",\n  \"updated\": \"2024-03-01T10:00:00.000Z\"\n}\n";
}

// Serves every request of a connection in turn, reading the next only after
// answering the one before (a pipelined request waits in the stream), until
// the client closes.
class KeepAliveServer {
 public:
  KeepAliveServer()
      : listing_(Reply(ListingBody())),
        task_(Reply(TaskBody())),
        server_([this](testsupport::TlsStream& stream) { Serve(stream); }) {}

  uint16_t port() const { return server_.port(); }
  const std::string& listingReply() const { return listing_; }
  const std::string& taskReply() const { return task_; }
  int requests() const { return requests_.load(); }
  int refused() const { return refused_.load(); }

 private:
  void Serve(testsupport::TlsStream& stream) {
    while (auto request = stream.ReadRequest(30000)) {
      ++requests_;
      const std::string* reply = nullptr;
      if (request->method == "GET") reply = &listing_;
      if (request->method == "PATCH" && !request->body.empty()) reply = &task_;
      if (!reply) {
        ++refused_;
        stream.Write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
      }
      if (!stream.Write(*reply)) return;
    }
  }

  std::string listing_, task_;
  std::atomic<int> requests_{0};
  std::atomic<int> refused_{0};
  testsupport::TlsServer server_;
};

struct Options {
  int rounds = 3;
  int delayMs = 150;
  std::string curl = "curl";
};

struct World {
  Options options;
  std::string dir;
  std::u16string token;
  std::string tokenNarrow;
  taskclient::Service service{};
  const KeepAliveServer* server = nullptr;
  uint16_t relayPort = 0;
};

World* gWorld = nullptr;

const std::string& PatchBody() {
  static const std::string body = "{\"status\": \"completed\"}";
  return body;
}

std::string PatchTarget(int i) { return "/tasks/v1/lists/L1/tasks/T" + std::to_string(i); }

// --- the contenders -----------------------------------------------------------

bool TenListingCalls() {
  const std::string file = gWorld->dir + "/listing.json";
  const std::u16string path = Widen(file);
  for (int i = 0; i < kOperations; ++i) {
    taskclient::Result result = taskclient::ListTaskLists(taskclient::SystemPlatform(), gWorld->service,
                                                          gWorld->token.c_str(), path.c_str());
    if (result != taskclient::kExchangeComplete || ReadFile(file) != gWorld->server->listingReply()) return false;
  }
  return true;
}

bool TenPatchCalls() {
  const std::string file = gWorld->dir + "/patch.json";
  const std::u16string path = Widen(file), body = Widen(PatchBody());
  for (int i = 0; i < kOperations; ++i) {
    taskclient::Result result =
        taskclient::SendApiRequest(taskclient::SystemPlatform(), gWorld->service, gWorld->token.c_str(), u"PATCH",
                                   Widen(PatchTarget(i)).c_str(), body.c_str(), path.c_str());
    if (result != taskclient::kExchangeComplete || ReadFile(file) != gWorld->server->taskReply()) return false;
  }
  return true;
}

// One sequence call with the requests file `lines`: every reply must be in
// the response file, whole and in order.
bool Sequence(const std::string& name, const std::string& lines, const std::string& reply) {
  const std::string requests = gWorld->dir + "/" + name + ".requests";
  const std::string response = gWorld->dir + "/" + name + ".json";
  WriteFile(requests, lines);
  taskclient::Result result = taskclient::SendRequests(taskclient::SystemPlatform(), gWorld->service,
                                                       gWorld->token.c_str(), Widen(requests).c_str(),
                                                       Widen(response).c_str());
  std::string all;
  for (int i = 0; i < kOperations; ++i) all += reply;
  return result == taskclient::kExchangeComplete && ReadFile(response) == all;
}

bool ListingSequence() {
  std::string lines;
  for (int i = 0; i < kOperations; ++i) lines += "GET " + std::string(kListingTarget) + "\n";
  return Sequence("listings", lines, gWorld->server->listingReply());
}

bool PatchSequence() {
  std::string lines;
  for (int i = 0; i < kOperations; ++i) lines += "PATCH " + PatchTarget(i) + " " + PatchBody() + "\n";
  return Sequence("patches", lines, gWorld->server->taskReply());
}

// curl fetching the ten URLs in one run, which keeps one connection for all
// of them: the service's host name sent to the relay (--connect-to, no name
// looked up), certificate checks off, HTTP/1.1, each reply into a file of
// its own. It must have made exactly one connection.
bool CurlOneConnection() {
  std::vector<std::string> args = {gWorld->options.curl, "--silent", "--show-error", "--insecure", "--http1.1",
                                   "--connect-to", std::string(taskclient::kApiHost) + ":443:127.0.0.1:" +
                                                        std::to_string(gWorld->relayPort),
                                   "--header", "Authorization: Bearer " + gWorld->tokenNarrow,
                                   "--write-out", "%{num_connects}\\n"};
  std::vector<std::string> outputs;
  for (int i = 0; i < kOperations; ++i) {
    outputs.push_back(gWorld->dir + "/curl-" + std::to_string(i) + ".json");
    args.push_back("https://" + std::string(taskclient::kApiHost) + kListingTarget);
    args.push_back("--output");
    args.push_back(outputs.back());
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const std::string written = gWorld->dir + "/curl.out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, written.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "slow-link: curl failed\n");
    return false;
  }
  std::istringstream counts(ReadFile(written));
  int connections = 0;
  for (int count; counts >> count;) connections += count;
  const std::string body = ListingBody();
  for (const std::string& output : outputs) {
    if (ReadFile(output) != body) return false;
  }
  if (connections != 1) std::fprintf(stderr, "slow-link: curl made %d connections\n", connections);
  return connections == 1;
}

// --- rounds ------------------------------------------------------------------

struct Contender {
  const char* name;
  std::function<bool()> call;
  std::vector<double> seconds;
  std::vector<int> connections;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs every contender once a round, the order turned by one each round.
bool RunRounds(bench::DelayRelay& relay, std::vector<Contender>& contenders, int rounds) {
  const size_t n = contenders.size();
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < n; ++k) {
      Contender& contender = contenders[(k + static_cast<size_t>(round)) % n];
      const int before = relay.connections();
      auto start = std::chrono::steady_clock::now();
      bool ok = contender.call();
      contender.seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      contender.connections.push_back(relay.connections() - before);
      if (!ok) {
        std::fprintf(stderr, "slow-link: %s failed in round %d\n", contender.name, round + 1);
        return false;
      }
    }
  }
  return true;
}

// The median over the rounds of contender a's time over contender b's.
double Ratio(const Contender& a, const Contender& b) {
  std::vector<double> ratios;
  for (size_t i = 0; i < a.seconds.size(); ++i) ratios.push_back(a.seconds[i] / b.seconds[i]);
  return Median(ratios);
}

void Print(const Contender& contender) {
  std::printf("    %-34s %7.3f s  (%d connection%s)\n", contender.name, Median(contender.seconds),
              contender.connections.front(), contender.connections.front() == 1 ? "" : "s");
}

void PrintRatio(const char* what, const Contender& a, const Contender& b, double target) {
  double ratio = Ratio(a, b);
  std::printf("    %-34s %7.3f   target at most %.2f: %s\n", what, ratio, target,
              ratio <= target ? "met" : "NOT met");
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&](const char* prefix, int* out) {
      size_t length = std::strlen(prefix);
      if (arg.compare(0, length, prefix) != 0) return false;
      char* end = nullptr;
      long value = std::strtol(arg.c_str() + length, &end, 10);
      if (*end != '\0' || value < 0 || value > 100000) return false;
      *out = static_cast<int>(value);
      return true;
    };
    if (number("--rounds=", &options->rounds) && options->rounds > 0) continue;
    if (number("--delay-ms=", &options->delayMs)) continue;
    if (arg.compare(0, 7, "--curl=") == 0) {
      options->curl = arg.substr(7);
      continue;
    }
    std::fprintf(stderr, "usage: taskclient-slow-link [--rounds=N] [--delay-ms=MS] [--curl=PATH]\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  World world;
  if (!ParseOptions(argc, argv, &world.options)) return 2;
  gWorld = &world;
  std::string pattern = (std::filesystem::temp_directory_path() / "taskclient-slow-link-XXXXXX").string();
  if (!mkdtemp(&pattern[0])) return 1;
  world.dir = pattern;
  // An access token of the length the service hands out.
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  world.tokenNarrow = "ya29.";
  for (unsigned i = 0; world.tokenNarrow.size() < 220; ++i) world.tokenNarrow += alphabet[(i * 37 + 11) % 64];
  world.token = Widen(world.tokenNarrow);

  bool ok = true;
  {
    KeepAliveServer server;
    bench::DelayRelay relay(server.port(), std::chrono::milliseconds(world.options.delayMs));
    world.server = &server;
    world.relayPort = relay.port();
    world.service = taskclient::Service{"127.0.0.1", relay.port(), 30000, 30000};

    std::vector<Contender> listings = {{"ten listing calls", TenListingCalls, {}, {}},
                                       {"one sequence of ten GETs", ListingSequence, {}, {}},
                                       {"curl, ten URLs on one connection", CurlOneConnection, {}, {}}};
    std::vector<Contender> patches = {{"ten PATCH calls", TenPatchCalls, {}, {}},
                                      {"one sequence of ten PATCHes", PatchSequence, {}, {}}};
    ok = RunRounds(relay, listings, world.options.rounds) && RunRounds(relay, patches, world.options.rounds);
    if (server.refused() > 0) {
      std::fprintf(stderr, "slow-link: the server refused %d request(s)\n", server.refused());
      ok = false;
    }
#if defined(TASKCLIENT_TLS_BEARSSL)
    const char* tls = "bearssl";
    const double patchTarget = 0.45;
#else
    const char* tls = "openssl";
    const double patchTarget = 0.6;
#endif
    if (ok) {
      std::printf("slow link, library TLS %s: %d ms each way (%d ms round trip), medians of %d round(s)\n", tls,
                  world.options.delayMs, 2 * world.options.delayMs, world.options.rounds);
      std::printf("  ten listings\n");
      for (const Contender& contender : listings) Print(contender);
      PrintRatio("sequence / ten calls", listings[1], listings[0], 0.15);
      PrintRatio("sequence / curl", listings[1], listings[2], 0.5);
      std::printf("  ten PATCHes\n");
      for (const Contender& contender : patches) Print(contender);
      PrintRatio("sequence / ten calls", patches[1], patches[0], patchTarget);
      std::printf("  requests served: %d\n", server.requests());
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(world.dir, ignored);
  return ok ? 0 : 1;
}
