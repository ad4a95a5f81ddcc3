// taskclient-local-service: runs the local stand-in for the task service on
// 127.0.0.1 until interrupted. It prints where it listens, its sign-in page
// and the authorization code it issued, one per line, then one line per
// request on stderr.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "local_service.h"

namespace {

const char kUsage[] =
    "usage: taskclient-local-service [--port N] [--code CODE] [--fail-next N[:STATUS]]\n"
    "                                [--ids-begin-with-dash] [--assigned-tasks] [--quiet]\n"
    "\n"
    "A local stand-in for the task service: HTTPS on 127.0.0.1 with a throwaway\n"
    "self-signed certificate, task lists and tasks kept in memory (\"My Tasks\",\n"
    "\"Groceries\", and \"Backlog\" with 120 tasks: more than one page).\n"
    "Prints \"listening on 127.0.0.1:PORT\", \"sign-in page: URL\" and\n"
    "\"authorization code: CODE\", then serves until SIGINT or SIGTERM.\n"
    "\n"
    "The sign-in page takes an installed application's authorization request\n"
    "(response_type=code, client_id, a loopback redirect_uri, the tasks scope,\n"
    "optionally code_challenge with code_challenge_method=S256) and redirects\n"
    "at once to the redirect URI with a fresh code, as if the user had agreed.\n"
    "\n"
    "  --port N     listen on port N (default: a free port the system picks)\n"
    "  --code CODE  the authorization code to issue for the out-of-band redirect\n"
    "               (default: a made-up one); a code is good for one token request\n"
    "  --fail-next N[:STATUS]\n"
    "               turn away the first N task requests that carry a valid token\n"
    "               with the service's error for STATUS: 429 (rateLimitExceeded,\n"
    "               the default), 403, 500 or 503\n"
    "  --ids-begin-with-dash\n"
    "               every task and task-list id begins with '-' (about one in 64\n"
    "               of the service's do): for trying scripts on such ids\n"
    "  --assigned-tasks\n"
    "               \"My Tasks\" also holds three tasks assigned to the user, two\n"
    "               from a document and one from a Chat space (listed only with\n"
    "               showAssigned=true; never a parent nor a subtask)\n"
    "  --quiet      no line per request on stderr\n";

}  // namespace

int main(int argc, char** argv) {
  tools::LocalServiceOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--port" && i + 1 < argc) {
      char* end;
      long port = std::strtol(argv[++i], &end, 10);
      if (*end || port < 0 || port > 65535) {
        std::fprintf(stderr, "taskclient-local-service: bad port: %s\n", argv[i]);
        return 2;
      }
      options.port = static_cast<uint16_t>(port);
    } else if (arg == "--code" && i + 1 < argc) {
      options.authorizationCode = argv[++i];
    } else if (arg == "--fail-next" && i + 1 < argc) {
      char* end;
      long count = std::strtol(argv[++i], &end, 10);
      const bool hasCount = end != argv[i];
      long status = 429;
      if (*end == ':') status = std::strtol(end + 1, &end, 10);
      if (*end || !hasCount || count < 0 || count > 1000000 ||
          (status != 403 && status != 429 && status != 500 && status != 503)) {
        std::fprintf(stderr, "taskclient-local-service: bad --fail-next: %s\n", argv[i]);
        return 2;
      }
      options.failRequests = static_cast<int>(count);
      options.failStatus = static_cast<int>(status);
    } else if (arg == "--ids-begin-with-dash") {
      options.idsBeginWithDash = true;
    } else if (arg == "--assigned-tasks") {
      options.assignedTasks = true;
    } else if (arg == "--quiet") {
      options.log = false;
    } else {
      std::fprintf(stderr, "taskclient-local-service: unknown argument: %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  // Every thread the server starts inherits this mask; the main thread waits
  // for the signals itself and then stops the server in order.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    tools::LocalService service(options);
    const unsigned port = service.port();
    std::printf("listening on 127.0.0.1:%u\nsign-in page: https://127.0.0.1:%u/o/oauth2/v2/auth\n"
                "authorization code: %s\n",
                port, port, service.authorizationCode().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    service.Stop();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "taskclient-local-service: %s\n", failure.what());
    return 1;
  }
  return 0;
}
