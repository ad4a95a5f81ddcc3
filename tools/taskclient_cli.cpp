// taskclient: one subcommand per operation of the library, over the same
// internal functions the exported ones call. This is how a developer tries the
// library from a desktop, against the real service or the local stand-in.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "exchange/request.h"
#include "platform/platform.h"
#include "response_file.h"
#include "signin.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

namespace {

using taskclient::Service;
using taskclient::SystemPlatform;
typedef std::vector<std::u16string> Arguments;

const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

// What a command's run gets besides its arguments.
struct Context {
  Service service;
  std::u16string redirectUri;   // --redirect-uri
  std::u16string codeVerifier;  // --code-verifier
};

enum class Flow {
  kExchange,  // one exchange, one reply
  kAllPages,  // one exchange per page, following nextPageToken
  kRead,      // no exchange: takes a response file apart
  kAuthUrl,   // no exchange: prints a code verifier and the authorization URL
};

struct Command {
  const char* name;
  const char* variant;                 // the option that selects this form of the command, or null
  std::vector<const char*> arguments;  // named as in include/taskclient.h
  const char* options;                 // the options this form takes, as its usage line shows them
  const char* summary;
  const char* details;
  Flow flow;
  // For kAllPages the arguments end with the page token (empty: the first page).
  int32_t (*run)(const Context& c, const Arguments& a, const tc_text16* path);
};

// Adding an operation is adding an entry here.
const Command kCommands[] = {
    {"token", nullptr, {"authorizationCode", "clientSecret", "clientId"}, "",
     "exchange an authorization code for tokens (GoogleTasksGetTokenSSL)",
     "POST /oauth2/v3/token with the out-of-band redirect. The code is the one\n"
     "the user copied after signing in; it is good once. The reply carries\n"
     "access_token and refresh_token.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::GetToken(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"token", "--pkce", {"authorizationCode", "clientSecret", "clientId"},
     "--pkce --redirect-uri URI [--code-verifier VERIFIER]",
     "exchange a code from a loopback redirect, with PKCE (GoogleTasksGetTokenPkceSSL)",
     "POST /oauth2/v3/token with redirect_uri=URI and, unless VERIFIER is left\n"
     "out, code_verifier=VERIFIER. URI and VERIFIER must be those of the\n"
     "authorization URL that produced the code (see auth-url); the code is the\n"
     "\"code\" of the redirect to URI and is good once. The reply carries\n"
     "access_token and refresh_token.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::GetTokenPkce(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), T(c.redirectUri),
                                       T(c.codeVerifier), path);
     }},
    {"refresh", nullptr, {"refreshToken", "clientSecret", "clientId"}, "",
     "obtain a fresh access token (GoogleTasksTokenRefreshSSL)",
     "POST /oauth2/v3/token with grant_type=refresh_token. The reply carries\n"
     "access_token; the refresh token stays valid.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::RefreshToken(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"lists", nullptr, {"accessToken"}, "", "list the task lists (GTaskListTasksSSL)",
     "GET /tasks/v1/users/@me/lists. The reply's items are the task lists, each\n"
     "with its id and title.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTaskLists(SystemPlatform(), c.service, T(a[0]), path);
     }},
    {"tasks", nullptr, {"accessToken", "taskListId"}, "", "list the tasks of a task list (GTaskListTasksListSSL)",
     "GET /tasks/v1/lists/{taskListId}/tasks. The reply's items are the tasks:\n"
     "the service's first page (20 by default), completed tasks that are hidden\n"
     "left out. \"tasks --all\" lists every task.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTasks(SystemPlatform(), c.service, T(a[0]), T(a[1]), path);
     }},
    {"tasks", "--all", {"accessToken", "taskListId"}, "--all",
     "list every task of a task list, page by page (GTaskListTasksListPageSSL)",
     "GET /tasks/v1/lists/{taskListId}/tasks?maxResults=100&showCompleted=true\n"
     "&showHidden=true, then again with &pageToken= and the reply's\n"
     "nextPageToken, until a reply has none: every task, completed and hidden\n"
     "ones included, one exchange per page of up to 100.\n"
     "Without -o each page's reply is printed in turn. With -o FILE, page N is\n"
     "written to FILE.N (FILE.1, FILE.2, ...) and each file's name is printed\n"
     "once its page has arrived. --field reads every page in turn, so\n"
     "--field 'items.*.title' prints every title. The first page that fails\n"
     "ends the listing, and the exit status is that page's; a page token the\n"
     "service sends twice is a failure (exit status 1).\n",
     Flow::kAllPages,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTasksPage(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"add", nullptr, {"accessToken", "taskListId", "title"}, "", "add a task to a task list (GTaskTaskAddSSL)",
     "POST /tasks/v1/lists/{taskListId}/tasks with { \"title\": \"...\" }. The reply\n"
     "is the created task, with its id.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::AddTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), nullptr, path);
     }},
    {"complete", nullptr, {"accessToken", "taskListId", "taskId"}, "",
     "mark a task completed (GTaskTaskCompleteSSL)",
     "PATCH /tasks/v1/lists/{taskListId}/tasks/{taskId} with\n"
     "{ \"status\": \"completed\" }. The reply is the task, with status \"completed\"\n"
     "and the time it was completed in \"completed\".\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::CompleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"delete", nullptr, {"accessToken", "taskListId", "taskId"}, "", "delete a task (GTaskTaskDeleteSSL)",
     "DELETE /tasks/v1/lists/{taskListId}/tasks/{taskId}. The reply is\n"
     "\"HTTP/1.1 204 No Content\" with no body.\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::DeleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"auth-url", nullptr, {"clientId"}, "--redirect-uri URI [--code-verifier VERIFIER]",
     "print a code verifier and the authorization URL to open (no exchange)",
     "Prints three lines: \"code_verifier: VERIFIER\" (a fresh one unless given),\n"
     "\"code_challenge: CHALLENGE\" (its S256 challenge) and\n"
     "\"authorization_url: URL\", the page to open in a browser:\n"
     "https://accounts.google.com/o/oauth2/v2/auth?response_type=code\n"
     "&client_id=...&redirect_uri=URI&scope=https://www.googleapis.com/auth/tasks\n"
     "&code_challenge=CHALLENGE&code_challenge_method=S256 (with --service\n"
     "HOST:PORT, the sign-in page of the local stand-in at that address).\n"
     "URI is a loopback address, http://127.0.0.1:PORT or http://localhost:PORT.\n"
     "After sign-in the browser is sent to URI?code=CODE&scope=...; exchange\n"
     "CODE with \"token --pkce --redirect-uri URI --code-verifier VERIFIER\".\n"
     "--field code_verifier (or code_challenge, authorization_url) prints one value.\n",
     Flow::kAuthUrl, nullptr},
    {"read", nullptr, {"responseFile"}, "", "print a response file with its chunked framing removed (no exchange)",
     "Reads a reply that an earlier call left in a file: prints its status line\n"
     "and its body without the chunk sizes, or with --field the values asked for.\n"
     "The exit status follows the reply's status as for the other commands.\n",
     Flow::kRead, nullptr},
};

const char kOptions[] =
    "Options (before or after the command):\n"
    "  -o FILE              write the reply to FILE, byte for byte, and print nothing\n"
    "                       (default: print the reply from a temporary file);\n"
    "                       tasks --all writes FILE.1, FILE.2, ... and prints their names\n"
    "  --service HOST:PORT  talk to HOST:PORT, e.g. the local stand-in, instead of\n"
    "                       the service's API host on port 443\n"
    "  --field PATH         print the value at PATH in the reply's JSON body instead\n"
    "                       of the reply: \"access_token\", \"items.0.id\", or with\n"
    "                       \"*\" for every element, \"items.*.title\"; repeatable\n"
    "  --verbose            report the result code and the status line on stderr\n"
    "  --pkce, --all        choose the form of token or tasks shown above\n"
    "  --redirect-uri URI, --code-verifier VERIFIER\n"
    "                       for token --pkce and auth-url\n"
    "  -h, --help           help; \"taskclient COMMAND --help\" for one command\n"
    "  --                   what follows is values only; ids and tokens that begin\n"
    "                       with '-' are taken as values anyway, unless they spell\n"
    "                       one of the options above\n";

const char kExitStatus[] =
    "Exit status: 0 when the exchange completed (result 999) with a 2xx reply;\n"
    "1 when it completed with another status (the reply is still printed or\n"
    "written) or a --field is missing; 2 for a usage error; 3 when networking\n"
    "could not be started (result 0); otherwise the library's result code\n"
    "(10, 11, 21 to 28). Failures leave a one-line message on stderr.\n";

struct ResultName {
  int32_t code;
  const char* name;
  const char* meaning;
};

const ResultName kResults[] = {
    {TC_NETWORKING_FAILED, "TC_NETWORKING_FAILED", "networking could not be started"},
    {TC_BAD_ARGUMENT, "TC_BAD_ARGUMENT", "a null pointer, or a control byte the request cannot carry; nothing sent"},
    {TC_TOO_LONG, "TC_TOO_LONG", "an argument does not fit its buffer; nothing sent"},
    {TC_TLS_MODE_FAILED, "TC_TLS_MODE_FAILED", "the connection could not be put into TLS mode"},
    {TC_CERT_HOOK_FAILED, "TC_CERT_HOOK_FAILED", "certificate checking could not be replaced"},
    {TC_RESOLVE_FAILED, "TC_RESOLVE_FAILED", "the host could not be resolved"},
    {TC_CONNECT_FAILED, "TC_CONNECT_FAILED", "the TCP connection or the TLS handshake failed or timed out"},
    {TC_SEND_FAILED, "TC_SEND_FAILED", "sending the request failed"},
    {TC_REPLY_CUT_SHORT, "TC_REPLY_CUT_SHORT", "the reply ended early; the file holds what arrived"},
    {TC_FILE_OPEN_FAILED, "TC_FILE_OPEN_FAILED", "the response file could not be opened; nothing sent"},
    {TC_FILE_WRITE_FAILED, "TC_FILE_WRITE_FAILED", "writing to the response file failed"},
    {TC_EXCHANGE_COMPLETE, "TC_EXCHANGE_COMPLETE", "request sent, whole reply in the response file"},
};

std::string DescribeResult(int32_t code) {
  for (const ResultName& result : kResults) {
    if (result.code == code) return std::to_string(code) + " " + result.name + ": " + result.meaning;
  }
  return std::to_string(code) + ": unknown result";
}

// "token --pkce --redirect-uri URI [...] authorizationCode clientSecret clientId"
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
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %s\n      %s\n", UsageLine(command).c_str(), command.summary);
  }
  std::fprintf(out, "\n%s\n%s", kOptions, kExitStatus);
}

// Every form of the command, or only the one chosen with its option.
void PrintCommandHelp(const std::string& name, const char* variant) {
  for (const Command& command : kCommands) {
    if (name != command.name || (variant && (!command.variant || std::strcmp(variant, command.variant) != 0))) {
      continue;
    }
    std::printf("usage: taskclient [OPTIONS] %s\n\n%s: %s.\n%s\n", UsageLine(command).c_str(), command.name,
                command.summary, command.details);
  }
  std::printf("%s\n%s", kOptions, kExitStatus);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "taskclient: %s (see taskclient --help)\n", message.c_str());
  return 2;
}

// UTF-8 to 16-bit text. False on malformed UTF-8.
bool Widen(const std::string& utf8, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (extra == 4 || i + extra >= utf8.size() + (extra ? 0 : 1)) return false;
    uint32_t code = extra == 0 ? c : (c & (0x3F >> extra));
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file in TMPDIR (or /tmp) for a reply nobody asked to keep. Empty on failure.
std::string TemporaryFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/taskclient-reply-XXXXXX";
  int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) {
    std::fprintf(stderr, "taskclient: cannot make a temporary file in %s\n", folder && *folder ? folder : "/tmp");
    return "";
  }
  close(descriptor);
  return pattern;
}

// The exit status for a result code other than 999.
int ExitForResult(int32_t result) { return result == TC_NETWORKING_FAILED ? 3 : result; }

// Prints the values at `fields` in `json`; 1 (with a line on stderr) when a
// path without "*" leads nowhere, else 0.
int PrintFields(const std::string& name, const tools::JsonValue& json, const std::vector<std::string>& fields) {
  for (const std::string& field : fields) {
    std::vector<const tools::JsonValue*> values = json.All(field);
    if (values.empty() && field.find('*') == std::string::npos) {
      std::fprintf(stderr, "taskclient: %s: no \"%s\" in the reply\n", name.c_str(), field.c_str());
      return 1;
    }
    for (const tools::JsonValue* value : values) std::printf("%s\n", value->ToString().c_str());
  }
  return 0;
}

struct Settings {
  std::string output;  // -o
  std::vector<std::string> fields;
  bool verbose = false;
};

// tasks --all: one exchange per page, each reply read for its nextPageToken.
int RunAllPages(const Command& command, const Context& context, const Arguments& arguments,
                const Settings& settings) {
  const std::string name = std::string(command.name) + " " + command.variant;
  std::string temporary;
  if (settings.output.empty() && (temporary = TemporaryFile()).empty()) return 1;
  std::set<std::string> seen;
  std::string pageToken;
  int status = 0;
  for (int page = 1;; ++page) {
    const std::string file = temporary.empty() ? settings.output + "." + std::to_string(page) : temporary;
    std::u16string path, token;
    if (!Widen(file, &path)) {
      status = UsageError("the response path is not valid UTF-8");
      break;
    }
    Widen(pageToken, &token);  // checked below, when it arrived
    Arguments withToken = arguments;
    withToken.push_back(token);
    const int32_t result = command.run(context, withToken, T(path));
    const std::string raw = ReadWholeFile(file);
    std::optional<tools::Reply> reply;
    std::string replyError;
    if (result == TC_EXCHANGE_COMPLETE) reply = tools::ReadReply(raw, &replyError);
    if (settings.verbose) {
      std::fprintf(stderr, "page %d: result %s\n", page, DescribeResult(result).c_str());
      if (reply) std::fprintf(stderr, "page %d: %s\n", page, reply->statusLine.c_str());
    }
    if (settings.fields.empty()) {
      if (!temporary.empty()) {
        std::fwrite(raw.data(), 1, raw.size(), stdout);
      } else if (result == TC_EXCHANGE_COMPLETE) {
        std::printf("%s\n", file.c_str());
      }
    }
    if (result != TC_EXCHANGE_COMPLETE) {
      std::fprintf(stderr, "taskclient: %s: page %d: result %s\n", name.c_str(), page, DescribeResult(result).c_str());
      status = ExitForResult(result);
      break;
    }
    if (!reply) {
      std::fprintf(stderr, "taskclient: %s: page %d: unreadable reply: %s\n", name.c_str(), page, replyError.c_str());
      status = 1;
      break;
    }
    if (reply->status < 200 || reply->status > 299) {
      std::fprintf(stderr, "taskclient: %s: page %d: %s\n", name.c_str(), page, reply->statusLine.c_str());
      status = 1;
      break;
    }
    std::string jsonError;
    std::optional<tools::JsonValue> json = tools::ParseJson(reply->body, &jsonError);
    if (!json) {
      std::fprintf(stderr, "taskclient: %s: page %d: the reply's body is not JSON: %s\n", name.c_str(), page,
                   jsonError.c_str());
      status = 1;
      break;
    }
    if ((status = PrintFields(name, *json, settings.fields)) != 0) break;
    const tools::JsonValue* next = json->Find("nextPageToken");
    if (!next || (next->type == tools::JsonValue::Type::kString && next->text.empty())) break;
    std::u16string checked;
    if (next->type != tools::JsonValue::Type::kString || !Widen(next->text, &checked) ||
        !seen.insert(next->text).second) {
      std::fprintf(stderr, "taskclient: %s: page %d: %s nextPageToken\n", name.c_str(), page,
                   seen.count(next->text) ? "a repeated" : "a malformed");
      status = 1;
      break;
    }
    pageToken = next->text;
  }
  if (!temporary.empty()) unlink(temporary.c_str());
  return status;
}

// auth-url: what the user opens to sign in, and the verifier to keep.
int PrintAuthorizationUrl(const std::string& clientId, const std::string& redirectUri, std::string verifier,
                          const std::string& serviceAddress, const std::vector<std::string>& fields) {
  if (verifier.empty()) verifier = tools::MakePkceVerifier();
  const std::string page = serviceAddress.empty() ? "https://accounts.google.com/o/oauth2/v2/auth"
                                                  : "https://" + serviceAddress + "/o/oauth2/v2/auth";
  const std::string challenge = tools::PkceChallenge(verifier);
  const std::pair<const char*, std::string> lines[] = {
      {"code_verifier", verifier},
      {"code_challenge", challenge},
      {"authorization_url", tools::AuthorizationUrl(page, clientId, redirectUri, challenge)},
  };
  for (const auto& line : lines) {
    if (fields.empty()) std::printf("%s: %s\n", line.first, line.second.c_str());
  }
  for (const std::string& field : fields) {
    bool found = false;
    for (const auto& line : lines) {
      if (field == line.first) {
        std::printf("%s\n", line.second.c_str());
        found = true;
      }
    }
    if (!found) {
      std::fprintf(stderr, "taskclient: auth-url: no \"%s\" (code_verifier, code_challenge, authorization_url)\n",
                   field.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::string serviceHost;
  std::string serviceAddress;  // HOST:PORT as given
  long servicePort = 0;
  bool help = false;
  bool pkce = false;
  bool all = false;
  std::optional<std::string> redirectUri;
  std::optional<std::string> codeVerifier;
  std::vector<std::string> words;
  // Ids and tokens may begin with '-': a word that looks like an option but
  // names none is kept as a value, and only reported as an unknown option if
  // the command then does not add up.
  std::string unknownOption;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "--verbose" || arg == "-v") {
      settings.verbose = true;
    } else if (arg == "--pkce") {
      pkce = true;
    } else if (arg == "--all") {
      all = true;
    } else if (arg == "-o" || arg == "--service" || arg == "--field" || arg == "--redirect-uri" ||
               arg == "--code-verifier") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "-o") {
        settings.output = value;
      } else if (arg == "--field") {
        settings.fields.push_back(value);
      } else if (arg == "--redirect-uri") {
        redirectUri = value;
      } else if (arg == "--code-verifier") {
        codeVerifier = value;
      } else {
        size_t colon = value.rfind(':');
        char* end = nullptr;
        if (colon != std::string::npos) servicePort = std::strtol(value.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() || *end || servicePort < 1 ||
            servicePort > 65535) {
          return UsageError("--service takes HOST:PORT, not \"" + value + "\"");
        }
        serviceHost = value.substr(0, colon);
        serviceAddress = value;
      }
    } else {
      if (unknownOption.empty()) unknownOption = arg;
      words.push_back(arg);
    }
  }
  const std::string unknownOptionError =
      "unknown option " + unknownOption + " (put -- before values that begin with '-')";

  if (words.empty() || (words[0] == "help" && words.size() == 1)) {
    PrintUsage(help || !words.empty() ? stdout : stderr);
    return help || !words.empty() ? 0 : 2;
  }
  if (words[0] == "help") {
    words.erase(words.begin());
    help = true;
  }
  if (pkce && all) return UsageError("--pkce and --all do not go together");
  const char* variant = pkce ? "--pkce" : all ? "--all" : nullptr;
  bool known = false;
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (words[0] != candidate.name) continue;
    known = true;
    if (variant ? candidate.variant && std::strcmp(variant, candidate.variant) == 0 : !candidate.variant) {
      command = &candidate;
    }
  }
  if (!known) {
    return UsageError(!unknownOption.empty() ? unknownOptionError : "unknown command \"" + words[0] + "\"");
  }
  if (!command) return UsageError(std::string(variant) + " goes with " + (pkce ? "token" : "tasks") + " only");
  if (help) {
    PrintCommandHelp(words[0], variant);
    return 0;
  }
  const bool takesSignIn = std::strstr(command->options, "--redirect-uri") != nullptr;
  if ((redirectUri || codeVerifier) && !takesSignIn) {
    return UsageError(std::string(redirectUri ? "--redirect-uri" : "--code-verifier") +
                      " goes with token --pkce and auth-url only");
  }
  if (takesSignIn && !redirectUri) return UsageError(UsageLine(*command) + ": --redirect-uri is missing");
  if (words.size() - 1 != command->arguments.size()) {
    if (!unknownOption.empty()) return UsageError(unknownOptionError);
    std::string expected;
    for (const char* argument : command->arguments) expected += std::string(" ") + argument;
    return UsageError(std::string(command->name) + " takes" + expected);
  }
  Arguments arguments;
  for (size_t i = 1; i < words.size(); ++i) {
    arguments.emplace_back();
    if (!Widen(words[i], &arguments.back())) {
      return UsageError(std::string(command->arguments[i - 1]) + " is not valid UTF-8");
    }
  }

  Context context;
  context.service = taskclient::ApiService();
  if (!serviceHost.empty()) {
    context.service.host = serviceHost.c_str();
    context.service.port = static_cast<uint16_t>(servicePort);
  }
  if (redirectUri && !Widen(*redirectUri, &context.redirectUri)) return UsageError("URI is not valid UTF-8");
  if (codeVerifier && !Widen(*codeVerifier, &context.codeVerifier)) return UsageError("VERIFIER is not valid UTF-8");

  if (command->flow == Flow::kAuthUrl) {
    if (codeVerifier && !tools::IsPkceVerifier(*codeVerifier)) {
      return UsageError("a code verifier is 43 to 128 characters of A-Z a-z 0-9 - . _ ~");
    }
    return PrintAuthorizationUrl(words[1], *redirectUri, codeVerifier.value_or(""), serviceAddress, settings.fields);
  }
  if (command->flow == Flow::kAllPages) return RunAllPages(*command, context, arguments, settings);

  std::string output = settings.output;
  const std::vector<std::string>& fields = settings.fields;
  bool temporary = output.empty() && command->run;
  if (temporary && (output = TemporaryFile()).empty()) return 1;
  std::u16string path;
  if (!Widen(output, &path)) return UsageError("the response path is not valid UTF-8");

  int32_t result = TC_EXCHANGE_COMPLETE;
  std::string raw;
  if (command->run) {
    result = command->run(context, arguments, T(path));
    raw = ReadWholeFile(output);
  } else {
    std::ifstream in(words[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "taskclient: read: cannot open %s\n", words[1].c_str());
      return 1;
    }
    raw.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (temporary) unlink(output.c_str());

  std::optional<tools::Reply> reply;
  std::string replyError;
  if (result == TC_EXCHANGE_COMPLETE) reply = tools::ReadReply(raw, &replyError);
  if (settings.verbose) {
    std::fprintf(stderr, "result %s\n", DescribeResult(result).c_str());
    if (reply) std::fprintf(stderr, "%s\n", reply->statusLine.c_str());
  }
  if (!command->run && reply && fields.empty()) {
    std::printf("%s\n%s", reply->statusLine.c_str(), reply->body.c_str());
  } else if (temporary && fields.empty()) {
    std::fwrite(raw.data(), 1, raw.size(), stdout);
  }

  if (result != TC_EXCHANGE_COMPLETE) {
    std::fprintf(stderr, "taskclient: %s: result %s\n", command->name, DescribeResult(result).c_str());
    return ExitForResult(result);
  }
  if (!reply) {
    std::fprintf(stderr, "taskclient: %s: unreadable reply: %s\n", command->name, replyError.c_str());
    return 1;
  }
  if (reply->status < 200 || reply->status > 299) {
    std::fprintf(stderr, "taskclient: %s: %s\n", command->name, reply->statusLine.c_str());
    return 1;
  }
  if (fields.empty()) return 0;
  std::string jsonError;
  std::optional<tools::JsonValue> json = tools::ParseJson(reply->body, &jsonError);
  if (!json) {
    std::fprintf(stderr, "taskclient: %s: the reply's body is not JSON: %s\n", command->name, jsonError.c_str());
    return 1;
  }
  return PrintFields(command->name, *json, fields);
}
