// taskclient-count-server: the server bench/arm926-count.sh counts the
// sequence call against, running natively on the build machine, outside the
// count. It keeps connections alive (every request of a connection in turn,
// pipelined ones included, until the client closes), answers a POST (the
// sign-in) with an access token and every GET with the user's three task
// lists. With --chain it presents a chain shaped like the service's: a P-256
// certificate for localhost issued by a P-256 intermediate, issued by the CA
// named by TASKCLIENT_TEST_CA_KEY and TASKCLIENT_TEST_CA_CERT (a P-384 root,
// made by the script); otherwise a self-signed P-256 certificate.
//
//   taskclient-count-server [--chain]
//
// Prints "listening on 127.0.0.1:PORT" once it listens; runs until SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "testing/tls_server.h"

namespace {

std::string Reply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string ListingBody() {
  std::string body = "{\n  \"kind\": \"tasks#taskLists\",\n  \"items\": [\n";
  for (int i = 0; i < 3; ++i) {
    body += "    {\n      \"kind\": \"tasks#taskList\",\n      \"id\": \"MDk2NTk0NjQ5NTY3OTk1MjcxNjk6MDow" +
            std::to_string(i) + "\",\n      \"title\": \"List " + std::to_string(i) +
            "\",\n      \"updated\": \"2024-03-01T10:00:00.000Z\"\n    }" + (i < 2 ? ",\n" : "\n");
  }
  return body + "  ]\n}\n";
}

}  // namespace

int main(int argc, char** argv) {
  const bool chain = argc == 2 && std::strcmp(argv[1], "--chain") == 0;
  if (argc > 2 || (argc == 2 && !chain)) {
    std::fprintf(stderr, "usage: taskclient-count-server [--chain]\n");
    return 2;
  }
  if (chain) testsupport::SetDefaultServerCertificate(testsupport::Certificate::kViaIntermediate);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // every thread started from here on too

  const std::string token = Reply("{\n  \"access_token\": \"count-token\",\n  \"expires_in\": 3599,\n"
                                  "  \"token_type\": \"Bearer\"\n}\n");
  const std::string listing = Reply(ListingBody());
  testsupport::TlsServer server([&](testsupport::TlsStream& stream) {
    while (auto request = stream.ReadRequest(30000)) {
      if (!stream.Write(request->method == "POST" ? token : listing)) return;
    }
  });
  std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  int received = 0;
  sigdelset(&stop, SIGPIPE);
  sigwait(&stop, &received);
  return 0;
}
