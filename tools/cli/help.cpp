#include "cli/help.h"

#include <cstring>

#include "cli/results.h"

namespace cli {

namespace {

const char kOptions[] =
    "Output: the reply's body, its framing removed (chunked decoded, or\n"
    "Content-Length bytes, or up to the end), to standard output.\n"
    "  -i, --include        the status line and headers before the body\n"
    "  --raw                the reply exactly as received, framing and all (what\n"
    "                       \"read\" takes apart)\n"
    "  --field PATH         instead, the value at PATH in the reply's JSON body:\n"
    "                       \"access_token\", \"items.0.id\", \"items.#\" (how many),\n"
    "                       or with \"*\" for every element, \"items.*.title\"; an\n"
    "                       object or array as its JSON text. Repeatable: one line\n"
    "                       per item with the fields side by side, separated by tabs\n"
    "  -o FILE              the output to FILE instead (\"-o -\": standard output;\n"
    "                       /dev/null and other files that are not regular ones\n"
    "                       work too); tasks --all writes FILE.1, FILE.2, ...\n"
    "                       and prints their names\n"
    "Other options (before or after the command):\n"
    "  --service HOST:PORT  talk to HOST:PORT, e.g. the local stand-in, instead of\n"
    "                       the service's API host on port 443\n"
    "  --verbose            report the result code and the status line on stderr\n"
    "  --pkce, --all        choose the form of token or tasks shown above\n"
    "  --redirect-uri URI, --code-verifier VERIFIER\n"
    "                       for token --pkce and auth-url\n"
    "  -V, --version        the tool's and the library's version\n"
    "  -h, --help           help; \"taskclient COMMAND --help\" for one command\n"
    "  --                   what follows is values only; ids and tokens that begin\n"
    "                       with '-' are taken as values anyway, unless they spell\n"
    "                       one of the options above\n";

const char kSecrets[] =
    "Secrets: a token, client secret, authorization code or VERIFIER written on\n"
    "the command line can be read by other users in the process list and stays\n"
    "in the shell's history. Give it as @FILE (the file's first line) or @- (the\n"
    "first line of standard input, for one value) instead; a secret that begins\n"
    "with '@' itself must come from a file. The access token can also come from\n"
    "TASKCLIENT_ACCESS_TOKEN: when that is set and the command is given without\n"
    "its accessToken (\"taskclient lists\", \"taskclient tasks LIST_ID\"), it is used.\n";

const char kExitStatus[] =
    "Exit status:\n"
    "  0   the exchange completed (result 999) with a 2xx reply\n"
    "  1   the reply or a --field could not be read, or read found no file\n"
    "  2   a usage error, or a secret's @FILE could not be read\n"
    "  3   networking could not be started (result 0)\n"
    "  4   401 or 403, or 400 invalid_grant: sign in again (a fresh access\n"
    "      token, or a new code)\n"
    "  5   404 or 410: the list or task is gone\n"
    "  6   429 or 5xx, or 403 rateLimitExceeded: try again later\n"
    "  7   any other status that is not 2xx, such as 400 invalid_request\n"
    "  10, 11, 21 to 29  the library's result code: the exchange did not\n"
    "      complete; 27 and 28 also when the output cannot be opened or written\n"
    "On an HTTP error the reply is still output and the service's message is\n"
    "on stderr; every failure leaves one line there.\n";

}  // namespace

std::string UsageLine(const Command& command) {
  std::string line = command.name;
  if (*command.options) line += std::string(" ") + command.options;
  for (const char* argument : command.arguments) line += std::string(" ") + argument;
  return line;
}

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: taskclient [OPTIONS] COMMAND ARGUMENTS...\n\n"
               "Runs one operation of the taskclient library: one HTTPS exchange with the\n"
               "task service, its raw reply written to a response file.\n\nCommands:\n");
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %s\n      %s\n", UsageLine(command).c_str(), command.summary);
  }
  std::fprintf(out, "\n%s\n%s\n%s", kOptions, kSecrets, kExitStatus);
}

void PrintCommandHelp(const std::string& name, const char* variant) {
  for (const Command& command : Commands()) {
    if (name != command.name || (variant && (!command.variant || std::strcmp(variant, command.variant) != 0))) {
      continue;
    }
    std::printf("usage: taskclient [OPTIONS] %s\n\n%s: %s.\n%s\n", UsageLine(command).c_str(), command.name,
                command.summary, command.details);
  }
  std::printf("Options, secrets and exit statuses: taskclient --help\n");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "taskclient: %s (see taskclient --help)\n", message.c_str());
  return kExitUsage;
}

}  // namespace cli
