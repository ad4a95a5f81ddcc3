// taskclient-listing-calls: signs in once, then makes N listing calls, the
// way a host program on the device would. bench/arm926-count.sh runs it under
// an emulator that counts instructions, with N = 0 and N = 1 against the local
// stand-in (running natively, outside the count): the difference is what one
// listing call executes, TLS handshake included, without the process start
// or the sign-in.
//
//   taskclient-listing-calls [--sequence] [--host=NAME] PORT CODE N FOLDER
//
// PORT is the stand-in's on 127.0.0.1, CODE the authorization code it issued,
// FOLDER where the response files go. With --sequence each of the N
// operations is one sequence call (SendRequests) of ten listing GETs instead
// of one listing call. --host names the server by a name that resolves to
// it, for a build that checks certificates (BearSSL's checker matches names,
// not addresses); 127.0.0.1 otherwise. Exits 0 when every call completed with
// status 200 (every reply of a sequence), 1 otherwise (saying which on
// stderr), 2 for a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exchange/service.h"
#include "platform/platform.h"
#include "taskclient.h"
#include "tasks/requests.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

namespace {

// ASCII to the library's 16-bit text; everything passed here is ASCII.
std::u16string Text16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

std::string ReadFile(const std::string& path) {
  std::string content;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    std::fclose(file);
  }
  return content;
}

// The body of a reply as a response file holds it, chunked framing removed
// (the stand-in chunks its replies, and may cut a token in two).
std::string Body(const std::string& reply) {
  size_t at = reply.find("\r\n\r\n");
  if (at == std::string::npos) return std::string();
  at += 4;
  if (reply.find("Transfer-Encoding: chunked\r\n") > at) return reply.substr(at);
  std::string body;
  while (at < reply.size()) {
    const unsigned long length = std::strtoul(reply.c_str() + at, nullptr, 16);
    const size_t data = reply.find("\r\n", at);
    if (length == 0 || data == std::string::npos) break;
    body.append(reply, data + 2, length);
    at = data + 2 + length + 2;
  }
  return body;
}

// The call completed and its response file holds a 200 reply.
bool Completed(const char* what, int result, const std::string& path) {
  const std::string reply = ReadFile(path);
  if (result == TC_EXCHANGE_COMPLETE && reply.compare(0, 13, "HTTP/1.1 200 ") == 0) return true;
  std::fprintf(stderr, "taskclient-listing-calls: %s: result %d, reply \"%.60s\"\n", what, result, reply.c_str());
  return false;
}

const int kSequenceLength = 10;

// Every reply of a sequence call is a 200.
bool SequenceCompleted(int result, const std::string& path) {
  const std::string replies = ReadFile(path);
  int count = 0;
  for (size_t at = replies.find("HTTP/1.1 "); at != std::string::npos; at = replies.find("HTTP/1.1 ", at + 9)) {
    if (replies.compare(at, 13, "HTTP/1.1 200 ") != 0) count = -kSequenceLength;
    ++count;
  }
  if (result == TC_EXCHANGE_COMPLETE && count == kSequenceLength) return true;
  std::fprintf(stderr, "taskclient-listing-calls: sequence: result %d, replies \"%.60s\"\n", result, replies.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool sequence = false;
  std::string host = "127.0.0.1";
  for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
    if (std::strcmp(argv[1], "--sequence") == 0) {
      sequence = true;
    } else if (std::strncmp(argv[1], "--host=", 7) == 0 && argv[1][7] != '\0') {
      host = argv[1] + 7;
    } else {
      argc = 0;
      break;
    }
  }
  char* end = nullptr;
  const long port = argc == 5 ? std::strtol(argv[1], &end, 10) : 0;
  const bool portGood = end && *end == '\0' && port >= 1 && port <= 65535;
  const long calls = argc == 5 ? std::strtol(argv[3], &end, 10) : -1;
  if (!portGood || *end != '\0' || calls < 0) {
    std::fprintf(stderr, "usage: taskclient-listing-calls [--sequence] [--host=NAME] PORT CODE N FOLDER\n");
    return 2;
  }
  taskclient::Service service = taskclient::ApiService();
  service.host = host.c_str();
  service.port = static_cast<uint16_t>(port);
  taskclient::Platform& platform = taskclient::SystemPlatform();
  const std::string folder = argv[4];

  // The requests file of a sequence, written in every mode, so that a run
  // with no operation costs what the run of either kind costs beside them.
  const std::string requestsPath = folder + "/lists.requests";
  if (FILE* file = std::fopen(requestsPath.c_str(), "wb")) {
    for (int i = 0; i < kSequenceLength; ++i) std::fputs("GET /tasks/v1/users/@me/lists\n", file);
    std::fclose(file);
  }

  const std::string tokenPath = folder + "/token.json";
  const int signedIn = taskclient::GetToken(platform, service, T(Text16(argv[2])), T(u"local-secret"),
                                            T(u"local-client"), T(Text16(tokenPath)));
  if (!Completed("token", signedIn, tokenPath)) return 1;
  const std::string reply = Body(ReadFile(tokenPath));
  const char kField[] = "\"access_token\": \"";
  const size_t start = reply.find(kField);
  const size_t stop = start == std::string::npos ? start : reply.find('"', start + sizeof kField - 1);
  if (stop == std::string::npos) {
    std::fprintf(stderr, "taskclient-listing-calls: no access token in %s\n", tokenPath.c_str());
    return 1;
  }
  const std::u16string token = Text16(reply.substr(start + sizeof kField - 1, stop - start - (sizeof kField - 1)));

  const std::string listPath = folder + "/lists.json";
  if (sequence) {
    for (long i = 0; i < calls; ++i) {
      const int listed = taskclient::SendRequests(platform, service, T(token), T(Text16(requestsPath)),
                                                  T(Text16(listPath)));
      if (!SequenceCompleted(listed, listPath)) return 1;
    }
    return 0;
  }
  for (long i = 0; i < calls; ++i) {
    const int listed = taskclient::ListTaskLists(platform, service, T(token), T(Text16(listPath)));
    if (!Completed("listing", listed, listPath)) return 1;
  }
  return 0;
}
