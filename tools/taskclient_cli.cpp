// taskclient: one subcommand per operation of the library, over the same
// internal functions the exported ones call. This is how a developer tries the
// library from a desktop, against the real service or the local stand-in.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cli_requests.h"
#include "readers/field_reader.h"
#include "exchange/request.h"
#include "platform/platform.h"
#include "json_reply.h"
#include "signin.h"
#include "taskclient.h"
#include "tasks/tasks.h"
#include "text/utf8.h"
#include "tokens/tokens.h"

// The tool's version comes from the build (the project's version); the
// library's from its header once that names one, else it is the same build's.
#ifndef TASKCLIENT_TOOL_VERSION
#define TASKCLIENT_TOOL_VERSION "unknown"
#endif
#ifdef TASKCLIENT_VERSION_STRING
#define TASKCLIENT_LIBRARY_VERSION TASKCLIENT_VERSION_STRING
#else
#define TASKCLIENT_LIBRARY_VERSION TASKCLIENT_TOOL_VERSION
#endif

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
  kRequests,  // a sequence of requests in one call (cli_requests.cpp)
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
  taskclient::Result (*run)(const Context& c, const Arguments& a, const tc_text16* path);
};

bool Widen(const std::string& utf8, std::u16string* out);

// 16-bit text as UTF-8 (lone surrogates as U+FFFD; the library refuses them
// before this is used).
std::string Utf8(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  size_t length = 0;
  taskclient::Utf16ToUtf8(T(text), &out[0], out.size(), &length);
  out.resize(length);
  return out;
}

// Adds a task. A title past the room GTaskTaskAddSSL has for it (986 bytes
// of escaped UTF-8) goes the same way through GTaskRequestSSL, which takes
// the service's whole 1,024 characters: the same request, a larger body.
taskclient::Result AddTaskAnyTitle(const Context& c, const Arguments& a, const tc_text16* path) {
  taskclient::Result result = taskclient::AddTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), nullptr, path);
  if (result != taskclient::kTooLong) return result;
  std::string target = "/tasks/v1/lists/" + tools::PercentEncode(Utf8(a[1]));
  target += "/tasks";
  const std::string body = "{\"title\": " + tools::JsonQuote(Utf8(a[2])) + "}";
  std::u16string target16(target.begin(), target.end()), body16, post = u"POST";
  if (!Widen(body, &body16)) return taskclient::kBadArgument;
  return taskclient::SendApiRequest(SystemPlatform(), c.service, T(a[0]), T(post), T(target16), T(body16), path);
}

bool IsRequestMethod(const std::string& word) {
  for (const char* method : {"GET", "POST", "PUT", "PATCH", "DELETE"}) {
    if (word == method) return true;
  }
  return false;
}

// Adding an operation is adding an entry here.
const Command kCommands[] = {
    {"token", nullptr, {"authorizationCode", "clientSecret", "clientId"}, "",
     "exchange an authorization code for tokens (GoogleTasksGetTokenSSL)",
     "POST /oauth2/v3/token with the out-of-band redirect. The code is the one\n"
     "the user copied after signing in; it is good once. The reply carries\n"
     "access_token and refresh_token.\n"
     "Example:\n"
     "  taskclient token \"$CODE\" @client-secret.txt \"$CLIENT_ID\"\n",
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
     "access_token and refresh_token.\n"
     "Example:\n"
     "  taskclient --pkce --redirect-uri http://127.0.0.1:8765 --code-verifier \"$VERIFIER\" token \"$CODE\" @secret.txt \"$CLIENT_ID\"\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::GetTokenPkce(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), T(c.redirectUri),
                                       T(c.codeVerifier), path);
     }},
    {"refresh", nullptr, {"refreshToken", "clientSecret", "clientId"}, "",
     "obtain a fresh access token (GoogleTasksTokenRefreshSSL)",
     "POST /oauth2/v3/token with grant_type=refresh_token. The reply carries\n"
     "access_token; the refresh token stays valid.\n"
     "Example:\n"
     "  taskclient --field access_token refresh @refresh.txt @client-secret.txt \"$CLIENT_ID\"\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::RefreshToken(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"lists", nullptr, {"accessToken"}, "", "list the task lists (GTaskListTasksSSL)",
     "GET /tasks/v1/users/@me/lists. The reply's items are the task lists, each\n"
     "with its id and title.\n"
     "Example:\n"
     "  taskclient --field 'items.*.id' --field 'items.*.title' lists \"$TOKEN\"\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTaskLists(SystemPlatform(), c.service, T(a[0]), path);
     }},
    {"tasks", nullptr, {"accessToken", "taskListId"}, "", "list the tasks of a task list (GTaskListTasksListSSL)",
     "GET /tasks/v1/lists/{taskListId}/tasks. The reply's items are the tasks:\n"
     "the service's first page (20 by default), completed tasks that are hidden\n"
     "left out. \"tasks --all\" lists every task.\n"
     "Example:\n"
     "  taskclient tasks \"$TOKEN\" \"$LIST_ID\"\n",
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
     "Each page's output follows the last one's on standard output. With\n"
     "-o FILE, page N's output goes to FILE.N (FILE.1, FILE.2, ...) and each\n"
     "file's name is printed once its page has arrived; a FILE that is not a\n"
     "regular file (-o /dev/null) gets every page in turn. --field reads every\n"
     "page in turn, so --field 'items.*.title' prints every title. The first\n"
     "page that fails ends the listing, and the exit status is that page's; a\n"
     "page token the service sends twice is a failure (exit status 1).\n"
     "Example:\n"
     "  taskclient --field 'items.*.title' --all tasks \"$TOKEN\" \"$LIST_ID\"\n",
     Flow::kAllPages,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTasksPage(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"add", nullptr, {"accessToken", "taskListId", "title"}, "", "add a task to a task list (GTaskTaskAddSSL)",
     "POST /tasks/v1/lists/{taskListId}/tasks with { \"title\": \"...\" }. The reply\n"
     "is the created task, with its id. A title longer than GTaskTaskAddSSL takes\n"
     "(986 bytes once escaped) goes through GTaskRequestSSL. @FILE or @- reads the\n"
     "title from a file or standard input (one line end at its end dropped);\n"
     "@@ stands for a title that begins with @.\n"
     "Example:\n"
     "  taskclient add -- \"$TOKEN\" \"$LIST_ID\" 'Buy milk'\n",
     Flow::kExchange,
     AddTaskAnyTitle},
    {"complete", nullptr, {"accessToken", "taskListId", "taskId"}, "",
     "mark a task completed (GTaskTaskCompleteSSL)",
     "PATCH /tasks/v1/lists/{taskListId}/tasks/{taskId} with\n"
     "{ \"status\": \"completed\" }. The reply is the task, with status \"completed\"\n"
     "and the time it was completed in \"completed\".\n"
     "Example:\n"
     "  taskclient complete -- \"$TOKEN\" \"$LIST_ID\" \"$TASK_ID\"\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::CompleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"delete", nullptr, {"accessToken", "taskListId", "taskId"}, "", "delete a task (GTaskTaskDeleteSSL)",
     "DELETE /tasks/v1/lists/{taskListId}/tasks/{taskId}. The reply is\n"
     "\"HTTP/1.1 204 No Content\" with no body.\n"
     "Example:\n"
     "  taskclient delete -- \"$TOKEN\" \"$LIST_ID\" \"$TASK_ID\"\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::DeleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"request", nullptr, {"accessToken", "method", "target", "[jsonBody]"}, "",
     "send any request to the task paths (GTaskRequestSSL)",
     "METHOD is GET, POST, PUT, PATCH or DELETE; TARGET the path and query as\n"
     "they go on the wire, beginning /tasks/v1/ and already percent-encoded;\n"
     "JSON, for POST, PUT and PATCH, the body as it is sent. Examples:\n"
     "  request TOKEN PATCH /tasks/v1/lists/LIST/tasks/TASK '{\"notes\": \"n\"}'\n"
     "  request TOKEN POST '/tasks/v1/lists/LIST/tasks/TASK/move?parent=P'\n"
     "  request TOKEN POST /tasks/v1/lists/LIST/clear\n",
     Flow::kExchange,
     [](const Context& c, const Arguments& a, const tc_text16* path) {
       return taskclient::SendApiRequest(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), T(a[3]), path);
     }},
    {"requests", nullptr, {"accessToken", "requestsFile"}, "",
     "send the requests of a file in one call (GTaskRequestsSSL)",
     "requestsFile (- for standard input) holds one request per line, in UTF-8:\n"
     "\"METHOD TARGET\" or \"METHOD TARGET JSON\", single spaces, METHOD, TARGET and\n"
     "JSON as for request; at most 1000 lines. They go over one connection, GET,\n"
     "PUT and DELETE pipelined. Prints each reply's status line and, with --field,\n"
     "the values of its body after it (--raw: the replies as they arrived). The\n"
     "exit status is that of the first request that failed; stderr names it by\n"
     "its line. Example:\n"
     "  printf 'GET /tasks/v1/users/@me/lists\\nDELETE /tasks/v1/lists/L/tasks/T\\n' |\n"
     "    taskclient --field kind requests \"$TOKEN\" -\n",
     Flow::kRequests, nullptr},
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
     "--field code_verifier (or code_challenge, authorization_url) prints one value.\n"
     "Example:\n"
     "  taskclient auth-url --redirect-uri http://127.0.0.1:8765 \"$CLIENT_ID\"\n",
     Flow::kAuthUrl, nullptr},
    {"read", nullptr, {"responseFile"}, "", "print a response file with its chunked framing removed (no exchange)",
     "Reads a reply that an earlier call left in a file (taskclient --raw -o FILE,\n"
     "or a host program's response file) and outputs it as if it had just\n"
     "arrived: its body, -i with its head, or with --field the values asked for.\n"
     "The exit status follows the reply's status as for the other commands.\n"
     "Example:\n"
     "  taskclient -i read reply.http\n",
     Flow::kRead, nullptr},
};

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

// Exit statuses for a completed exchange; they stay clear of 2 and of the
// library's result codes, which are exit statuses too.
const int kExitUnreadable = 1;
const int kExitUsage = 2;
const int kExitNetworking = 3;
const int kExitSignIn = 4;
const int kExitGone = 5;
const int kExitLater = 6;
const int kExitHttpError = 7;

struct ResultName {
  int32_t code;
  const char* name;
  const char* meaning;
};

const ResultName kResults[] = {
    {TC_NETWORKING_FAILED, "TC_NETWORKING_FAILED", "networking could not be started"},
    {TC_BAD_ARGUMENT, "TC_BAD_ARGUMENT",
     "a control byte or lone surrogate, an id that is . or .., or a target with such a segment; nothing sent"},
    {TC_TOO_LONG, "TC_TOO_LONG", "an argument does not fit its buffer; nothing sent"},
    {TC_TLS_MODE_FAILED, "TC_TLS_MODE_FAILED", "the connection could not be put into TLS mode"},
    {TC_CERT_HOOK_FAILED, "TC_CERT_HOOK_FAILED", "the certificate rule could not be set up"},
    {TC_RESOLVE_FAILED, "TC_RESOLVE_FAILED", "the host could not be resolved"},
    {TC_CONNECT_FAILED, "TC_CONNECT_FAILED", "the TCP connection or the TLS handshake failed or timed out"},
    {TC_SEND_FAILED, "TC_SEND_FAILED", "sending the request failed"},
    {TC_REPLY_CUT_SHORT, "TC_REPLY_CUT_SHORT", "the reply ended early; the file holds what arrived"},
    {TC_FILE_OPEN_FAILED, "TC_FILE_OPEN_FAILED", "the response file could not be opened, or is a FIFO, socket or folder; nothing sent"},
    {TC_FILE_WRITE_FAILED, "TC_FILE_WRITE_FAILED", "writing to the response file failed"},
    {TC_CERT_REFUSED, "TC_CERT_REFUSED", "the server's certificate was refused; nothing sent"},
    {TC_FIELD_MISSING, "TC_FIELD_MISSING", "the path names nothing in the body"},
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
  std::fprintf(out, "\n%s\n%s\n%s", kOptions, kSecrets, kExitStatus);
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
  std::printf("Options, secrets and exit statuses: taskclient --help\n");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "taskclient: %s (see taskclient --help)\n", message.c_str());
  return kExitUsage;
}

// UTF-8 to 16-bit text. False on malformed UTF-8.
bool Widen(const std::string& utf8, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (extra == 4 || i + extra >= utf8.size() + (extra ? 0 : 1)) return false;
    uint32_t code = extra == 0 ? c : (c & (0x3Fu >> extra));
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

// The temporary reply file while one exists, for the signal handler: the
// reply may hold tokens, so an interrupted run must not leave it behind.
char gTemporaryPath[4096];
volatile std::sig_atomic_t gTemporaryHeld = 0;

extern "C" void RemoveTemporaryAndStop(int signal) {
  if (gTemporaryHeld) unlink(gTemporaryPath);  // async-signal-safe
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// A private file (0600) in TMPDIR (or /tmp) for the library's response file,
// removed when the object goes, or on SIGINT, SIGTERM or SIGHUP. path() is
// empty when none could be made.
class TemporaryReply {
 public:
  TemporaryReply() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/taskclient-reply-XXXXXX";
    if (pattern.size() >= sizeof gTemporaryPath) pattern = "/tmp/taskclient-reply-XXXXXX";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTemporaryAndStop);
    int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
      std::fprintf(stderr, "taskclient: cannot make a temporary file in %s\n", folder && *folder ? folder : "/tmp");
      return;
    }
    close(descriptor);
    std::memcpy(gTemporaryPath, pattern.c_str(), pattern.size() + 1);
    gTemporaryHeld = 1;
    path_ = pattern;
  }
  ~TemporaryReply() {
    if (path_.empty()) return;
    gTemporaryHeld = 0;
    unlink(path_.c_str());
  }
  TemporaryReply(const TemporaryReply&) = delete;
  TemporaryReply& operator=(const TemporaryReply&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where the output goes: standard output, or the file of -o. The file is
// opened before the exchange, so a path that cannot be written costs no
// request (an authorization code is good once), but emptied only when the
// first output arrives: a call that ends with nothing to write leaves an
// existing file as it was and removes one it created. A file it creates is
// its owner's only (0600): the output may be tokens.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() { Close(); }

  // "" and "-" are standard output. False (errno set) when FILE cannot be opened.
  bool Open(const std::string& path) {
    path_ = path;
    if (path.empty() || path == "-") {
      file_ = stdout;
      return true;
    }
    // Created here or found: told by the open itself, not by a look before.
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    created_ = descriptor >= 0;
    if (descriptor < 0 && errno == EEXIST) descriptor = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    file_ = fdopen(descriptor, "w");  // opens for writing without emptying
    if (!file_) close(descriptor);
    return file_ != nullptr;
  }

  void Write(const std::string& bytes) {
    if (!started_ && file_ != stdout) {
      // Emptied only if it is a regular file: /dev/null and pipes cannot be.
      struct stat info;
      if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fileno(file_), 0) != 0) {
        failed_ = true;
      }
    }
    started_ = true;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
  }

  // False when some output could not be written.
  bool Close() {
    if (!file_) return !failed_;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && !failed_;
    if (file_ != stdout) {
      // The file it created, unused, goes: removed only while the name still
      // leads to that very file, not to whatever took its place.
      struct stat held;
      struct stat named;
      if (!started_ && created_ && fstat(fileno(file_), &held) == 0 && lstat(path_.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        unlink(path_.c_str());
      }
      ok = std::fclose(file_) == 0 && ok;
    }
    file_ = nullptr;
    failed_ = !ok;
    return ok;
  }

  std::string Name() const { return file_ == stdout || path_.empty() || path_ == "-" ? "standard output" : path_; }

 private:
  std::string path_;
  FILE* file_ = nullptr;
  bool created_ = false;
  bool started_ = false;
  bool failed_ = false;
};

int CannotOpen(const std::string& label, const std::string& path) {
  std::fprintf(stderr, "taskclient: %s: result %d TC_FILE_OPEN_FAILED: cannot open %s: %s; nothing sent\n",
               label.c_str(), TC_FILE_OPEN_FAILED, path.c_str(), std::strerror(errno));
  return TC_FILE_OPEN_FAILED;
}

int CannotWrite(const std::string& label, const Output& out) {
  std::fprintf(stderr, "taskclient: %s: result %d TC_FILE_WRITE_FAILED: cannot write %s\n", label.c_str(),
               TC_FILE_WRITE_FAILED, out.Name().c_str());
  return TC_FILE_WRITE_FAILED;
}

// The exit status for a result code other than 999.
int ExitForResult(int32_t result) { return result == TC_NETWORKING_FAILED ? kExitNetworking : result; }

// The exit status for a reply's HTTP status and the service's reason: what a
// script should do next.
int ExitForStatus(int status, const std::string& reason) {
  if (status >= 200 && status <= 299) return 0;
  // A rate limit comes as 403 too: waiting helps, signing in again does not.
  if (reason == "rateLimitExceeded" || reason == "userRateLimitExceeded") return kExitLater;
  // A code or refresh token the service no longer takes (revoked, expired,
  // used): only signing in again helps.
  if (reason == "invalid_grant") return kExitSignIn;
  if (status == 401 || status == 403) return kExitSignIn;
  if (status == 404 || status == 410) return kExitGone;
  if (status == 429 || (status >= 500 && status <= 599)) return kExitLater;
  return kExitHttpError;
}

// Tabs and line ends as spaces, so that a value stays within its cell and line.
std::string OneLine(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

// What the library's field reader (the one GTaskReadField uses) finds at a
// dotted path in a JSON body held in memory: the value as UTF-8 and what it
// is, or that the path names nothing (a path the reader refuses names
// nothing), or that the body is not JSON where the path leads.
struct FieldValue {
  enum Found { kValue, kMissing, kNotJson } found = kMissing;
  std::string text;
  taskclient::FieldReader::Kind kind = taskclient::FieldReader::kNone;
};

FieldValue ReadField(const std::string& body, const std::string& path) {
  FieldValue field;
  std::u16string path16;
  if (!Widen(path, &path16) || taskclient::CheckFieldPath(T(path16)) != taskclient::kOk) return field;
  // No value is longer in units than the body is in bytes.
  std::vector<tc_text16> value(body.size() + 1);
  taskclient::FieldReader reader(T(path16), value.data(), value.size());
  taskclient::FieldReader::Verdict verdict = reader.Feed(body.data(), body.size());
  if (verdict == taskclient::FieldReader::kNeedMore) verdict = reader.End();
  if (verdict != taskclient::FieldReader::kFound) {
    if (verdict == taskclient::FieldReader::kMalformed) field.found = FieldValue::kNotJson;
    return field;
  }
  field.found = FieldValue::kValue;
  field.text = Utf8(std::u16string(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(reader.length())));
  field.kind = reader.kind();
  return field;
}

// The service's reason for refusing, where it gives one:
// "error.errors.0.reason" on the task paths, "error" (a string) on the token
// path. Empty when the body has neither.
std::string ServiceReason(const std::string& body) {
  const FieldValue error = ReadField(body, "error");
  if (error.kind == taskclient::FieldReader::kString) return error.text;
  const FieldValue reason = ReadField(body, "error.errors.0.reason");
  return reason.kind == taskclient::FieldReader::kString ? reason.text : "";
}

// The service's own words on a failed request: "error.message" on the task
// paths, "error" and "error_description" on the token path. Empty when the
// body has neither.
std::string ServiceMessage(const std::string& body) {
  const FieldValue error = ReadField(body, "error");
  std::string message;
  if (error.kind == taskclient::FieldReader::kObject) {
    const FieldValue text = ReadField(body, "error.message");
    if (text.kind == taskclient::FieldReader::kString) message = text.text;
  } else if (error.kind == taskclient::FieldReader::kString) {
    message = error.text;
    const FieldValue description = ReadField(body, "error_description");
    if (description.kind == taskclient::FieldReader::kString && !description.text.empty()) {
      message += ": " + description.text;
    }
  }
  return OneLine(message);
}

// `path` after `base`, either of them possibly empty.
std::string Join(const std::string& base, const std::string& path) {
  return base.empty() ? path : path.empty() ? base : base + "." + path;
}

// The length of the array at `path` (empty: the whole body), 0 where there is
// none. False when the body is not JSON there.
bool Elements(const std::string& body, const std::string& path, size_t* count) {
  const FieldValue field = ReadField(body, Join(path, "#"));
  *count = field.kind == taskclient::FieldReader::kCount ? std::stoul(field.text) : 0;
  return field.found != FieldValue::kNotJson;
}

// Every value `rest` leads to from `base`, where a "*" step stands for every
// element of an array, in order and each on one line. False when the body is
// not JSON where they are.
bool AllValues(const std::string& body, const std::string& base, const std::string& rest,
               std::vector<std::string>* values) {
  const size_t star = rest.find('*');
  if (star == std::string::npos) {
    const FieldValue field = ReadField(body, Join(base, rest));
    if (field.found == FieldValue::kValue) values->push_back(OneLine(field.text));
    return field.found != FieldValue::kNotJson;
  }
  const std::string array = Join(base, rest.substr(0, star > 0 ? star - 1 : 0));
  const std::string after = rest.substr(std::min(rest.size(), star + 2));
  size_t count = 0;
  if (!Elements(body, array, &count)) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!AllValues(body, Join(array, std::to_string(i)), after, values)) return false;
  }
  return true;
}

// The --field values of the JSON `body`, one line per item, the fields side
// by side and separated by tabs. A path with "*" gives one cell per element
// of the array before its first "*" (a further "*" joins its values with
// commas); a path without gives one value, repeated on every line. An item
// where no "*" path leads anywhere gives no line. False, with the path in
// *missing, when a path without "*" leads nowhere, or with *notJson set when
// the body is not JSON where a path leads.
bool FieldRows(const std::string& body, const std::vector<std::string>& fields, std::string* rows,
               std::string* missing, bool* notJson) {
  struct Column {
    bool perItem = false;
    std::string value;  // a path without "*"
    std::string array;  // the path before the "*"
    size_t items = 0;   // its elements
    std::string rest;   // the path after the "*"
  };
  std::vector<Column> columns;
  size_t lines = 1;
  bool anyPerItem = false;
  for (const std::string& field : fields) {
    Column column;
    const size_t star = field.find('*');
    if (star == std::string::npos) {
      const FieldValue value = ReadField(body, field);
      *notJson = value.found == FieldValue::kNotJson;
      if (value.found != FieldValue::kValue) {
        *missing = field;
        return false;
      }
      column.value = OneLine(value.text);
    } else {
      column.perItem = true;
      column.array = field.substr(0, star > 0 ? star - 1 : 0);
      column.rest = field.substr(std::min(field.size(), star + 2));
      if (!Elements(body, column.array, &column.items)) return *notJson = true, false;
      lines = anyPerItem ? std::max(lines, column.items) : column.items;
      anyPerItem = true;
    }
    columns.push_back(std::move(column));
  }
  for (size_t line = 0; line < lines; ++line) {
    std::string text;
    bool found = !anyPerItem;
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& column = columns[i];
      if (i) text += '\t';
      if (!column.perItem) {
        text += column.value;
        continue;
      }
      std::vector<std::string> values;
      if (line < column.items &&
          !AllValues(body, Join(column.array, std::to_string(line)), column.rest, &values)) {
        return *notJson = true, false;
      }
      for (size_t k = 0; k < values.size(); ++k) text += (k ? "," : "") + values[k];
      found = found || !values.empty();
    }
    if (found) *rows += text + "\n";
  }
  return true;
}

enum class Mode { kBody, kInclude, kRaw };

struct Settings {
  std::string output;  // -o
  std::vector<std::string> fields;
  Mode mode = Mode::kBody;
  bool verbose = false;
};

// One reply's share of the run: writes what the settings ask for to `out`,
// and returns the exit status, a failure saying why on one line of stderr
// (`label` names the command, and the page). --verbose lines begin with
// `page` ("page N: ", or empty). When `body` is given, it receives the body
// of a 2xx reply.
int Deliver(const std::string& label, const std::string& page, int32_t result, const std::string& raw,
            const Settings& settings, Output& out, std::string* body) {
  std::optional<tools::Reply> reply;
  std::string replyError;
  if (result == TC_EXCHANGE_COMPLETE) reply = tools::ReadReply(raw, &replyError);
  if (reply && reply->status == 0) {
    replyError = "the status line is not HTTP/1.x NNN";
    reply.reset();
  }
  if (settings.verbose) {
    std::fprintf(stderr, "%sresult %s\n", page.c_str(), DescribeResult(result).c_str());
    if (reply) std::fprintf(stderr, "%s%s\n", page.c_str(), reply->statusLine.c_str());
  }
  // What arrived is output even when the exchange broke off; the fields only
  // from a 2xx reply, below.
  if (settings.fields.empty() && (result == TC_EXCHANGE_COMPLETE || !raw.empty())) {
    if (settings.mode == Mode::kRaw) {
      out.Write(raw);
    } else if (reply) {
      out.Write((settings.mode == Mode::kInclude ? reply->head : "") + reply->body);
    } else {
      out.Write("");
    }
  }
  if (result != TC_EXCHANGE_COMPLETE) {
    std::fprintf(stderr, "taskclient: %s: result %s\n", label.c_str(), DescribeResult(result).c_str());
    return ExitForResult(result);
  }
  if (!reply) {
    std::fprintf(stderr, "taskclient: %s: unreadable reply: %s\n", label.c_str(), replyError.c_str());
    return kExitUnreadable;
  }
  if (const int status = ExitForStatus(reply->status, ServiceReason(reply->body))) {
    const std::string message = ServiceMessage(reply->body);
    std::fprintf(stderr, "taskclient: %s: %s%s%s\n", label.c_str(), reply->statusLine.c_str(),
                 message.empty() ? "" : ": ", message.c_str());
    return status;
  }
  if (!settings.fields.empty()) {
    std::string rows, missing;
    bool notJson = false;
    if (!FieldRows(reply->body, settings.fields, &rows, &missing, &notJson)) {
      if (notJson) {
        std::fprintf(stderr, "taskclient: %s: the reply's body is not JSON\n", label.c_str());
      } else {
        std::fprintf(stderr, "taskclient: %s: no \"%s\" in the reply\n", label.c_str(), missing.c_str());
      }
      return kExitUnreadable;
    }
    out.Write(rows);
  }
  if (body) *body = std::move(reply->body);
  return 0;
}

// tasks --all: one exchange per page, each reply read for its nextPageToken.
int RunAllPages(const Command& command, const Context& context, const Arguments& arguments,
                const Settings& settings) {
  const std::string name = std::string(command.name) + " " + command.variant;
  // One file per page, unless the output is standard output or a file that
  // is not a regular one (such as /dev/null), which gets every page in turn.
  struct stat info;
  const bool perPage = !settings.output.empty() && settings.output != "-" &&
                       !(stat(settings.output.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
  Output shared;
  if (!perPage && !shared.Open(settings.output)) return CannotOpen(name + ": page 1", settings.output);
  const TemporaryReply reply;
  const std::string& temporary = reply.path();
  if (temporary.empty()) return kExitUnreadable;
  std::u16string path;
  if (!Widen(temporary, &path)) return UsageError("the temporary path is not valid UTF-8");
  std::set<std::string> seen;
  std::string pageToken;
  int status = 0;
  for (int page = 1;; ++page) {
    const std::string label = name + ": page " + std::to_string(page);
    const std::string file = settings.output + "." + std::to_string(page);
    Output pageFile;
    if (perPage && !pageFile.Open(file)) {
      status = CannotOpen(label, file);
      break;
    }
    Output& out = perPage ? pageFile : shared;
    std::u16string token;
    Widen(pageToken, &token);  // checked below, when it arrived
    Arguments withToken = arguments;
    withToken.push_back(token);
    const int32_t result = command.run(context, withToken, T(path));
    std::string body;
    status = Deliver(label, "page " + std::to_string(page) + ": ", result, ReadWholeFile(temporary), settings, out,
                     &body);
    if (perPage && !pageFile.Close() && status == 0) status = CannotWrite(label, pageFile);
    if (perPage && result == TC_EXCHANGE_COMPLETE) std::printf("%s\n", file.c_str());
    if (status != 0) break;
    const FieldValue next = ReadField(body, "nextPageToken");
    if (next.found == FieldValue::kNotJson) {
      std::fprintf(stderr, "taskclient: %s: the reply's body is not JSON\n", label.c_str());
      status = kExitUnreadable;
      break;
    }
    if (next.found == FieldValue::kMissing || (next.kind == taskclient::FieldReader::kString && next.text.empty())) {
      break;
    }
    std::u16string checked;
    if (next.kind != taskclient::FieldReader::kString || !Widen(next.text, &checked) ||
        !seen.insert(next.text).second) {
      std::fprintf(stderr, "taskclient: %s: %s nextPageToken\n", label.c_str(),
                   seen.count(next.text) ? "a repeated" : "a malformed");
      status = kExitUnreadable;
      break;
    }
    pageToken = next.text;
  }
  if (!shared.Close() && status == 0) status = CannotWrite(name, shared);
  return status;
}

// auth-url: what the user opens to sign in, and the verifier to keep.
int PrintAuthorizationUrl(const std::string& clientId, const std::string& redirectUri, std::string verifier,
                          const std::string& serviceAddress, const std::vector<std::string>& fields,
                          Output& out) {
  if (verifier.empty()) verifier = tools::MakePkceVerifier();
  const std::string page = serviceAddress.empty() ? "https://accounts.google.com/o/oauth2/v2/auth"
                                                  : "https://" + serviceAddress + "/o/oauth2/v2/auth";
  const std::string challenge = tools::PkceChallenge(verifier);
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"code_verifier", verifier},
      {"code_challenge", challenge},
      {"authorization_url", tools::AuthorizationUrl(page, clientId, redirectUri, challenge)}};
  // The three as one JSON object, for --field.
  std::string json;
  for (const auto& line : lines) json += (json.empty() ? "{" : ", ") + tools::JsonQuote(line.first) + ": " +
                                         tools::JsonQuote(line.second);
  json += "}";
  std::string text, missing;
  bool notJson = false;
  if (fields.empty()) {
    for (const auto& line : lines) text += line.first + ": " + line.second + "\n";
  } else if (!FieldRows(json, fields, &text, &missing, &notJson)) {
    std::fprintf(stderr, "taskclient: auth-url: no \"%s\" (code_verifier, code_challenge, authorization_url)\n",
                 missing.c_str());
    return kExitUnreadable;
  }
  out.Write(text);
  return 0;
}

// A secret argument's value: VALUE itself, or from @FILE the file's first
// line, from @- the first line of standard input, without the line end.
// False with *error when it cannot be read or is empty.
bool ReadSecret(const std::string& name, const std::string& value, std::string* secret, std::string* error) {
  if (value.size() < 2 || value[0] != '@') {
    *secret = value;
    return true;
  }
  const std::string source = value.substr(1);
  bool read = false;
  if (source == "-") {
    read = static_cast<bool>(std::getline(std::cin, *secret));
  } else {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      *error = "cannot read " + name + " from " + source + ": " + std::strerror(errno);
      return false;
    }
    read = static_cast<bool>(std::getline(in, *secret));
  }
  if (!secret->empty() && secret->back() == '\r') secret->pop_back();
  if (!read || secret->empty()) {
    *error = name + " from " + (source == "-" ? "standard input" : source) + " is empty";
    return false;
  }
  return true;
}

// A title or a request body: from @FILE or @- the whole of the file or of
// standard input (a title without one line end at its end); "@@..." stands
// for the text "@...". False with *error when it cannot be read.
bool IsText(const std::string& argument) { return argument == "title" || argument == "[jsonBody]"; }

bool ReadText(const std::string& name, std::string* value, std::string* error) {
  if (value->size() < 2 || (*value)[0] != '@') return true;
  if ((*value)[1] == '@') {
    value->erase(0, 1);
    return true;
  }
  const std::string source = value->substr(1);
  std::string text;
  if (source == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      *error = "cannot read " + name + " from " + source + ": " + std::strerror(errno);
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (name == "title") {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  *value = text;
  return true;
}

// accessToken, refreshToken, clientSecret, authorizationCode.
bool IsSecret(const std::string& argument) {
  return argument.find("Token") != std::string::npos || argument.find("Secret") != std::string::npos ||
         argument.find("Code") != std::string::npos;
}

// The command line as given: its options, wherever they stand, and the words
// that are not options (the command and its arguments).
struct CommandLine {
  Settings settings;
  std::string serviceHost;
  std::string serviceAddress;  // HOST:PORT as given
  long servicePort = 0;
  bool help = false;
  bool version = false;
  bool pkce = false;
  bool all = false;
  std::optional<std::string> redirectUri;
  std::optional<std::string> codeVerifier;
  std::vector<std::string> words;
  // Ids may begin with '-': a word of one '-' that names no option is kept
  // as a value, and only reported as an unknown option if the command then
  // does not add up. A word of "--" and more that names no option is a
  // mistyped option wherever it stands, and ends the run before anything is
  // sent; a value that begins with "--" goes after "--".
  std::string unknownOption;

  std::string UnknownOptionError() const {
    return "unknown option " + unknownOption + " (put -- before values that begin with '-')";
  }
};

// A command ready to run: the form chosen, its arguments as the library
// takes them, and where and how to reach the service (whose host points into
// the CommandLine it was prepared from).
struct Prepared {
  const Command* command = nullptr;
  Arguments arguments;
  Context context;
};

// Reads the options into `line`. Returns the exit status when that ends the
// run: a usage error, or --version.
std::optional<int> ReadOptions(int argc, char** argv, CommandLine* line) {
  bool raw = false;
  bool include = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // --name=value: the same as --name value, for the options that take one.
    std::optional<std::string> attached;
    const size_t equals = arg.find('=');
    if (!optionsEnded && arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      const std::string name = arg.substr(0, equals);
      if (name == "--service" || name == "--field" || name == "--redirect-uri" || name == "--code-verifier") {
        attached = arg.substr(equals + 1);
        arg = name;
      }
    }
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      line->words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      line->help = true;
    } else if (arg == "-V" || arg == "--version") {
      line->version = true;
    } else if (arg == "-i" || arg == "--include") {
      include = true;
    } else if (arg == "--raw") {
      raw = true;
    } else if (arg == "--verbose" || arg == "-v") {
      line->settings.verbose = true;
    } else if (arg == "--pkce") {
      line->pkce = true;
    } else if (arg == "--all") {
      line->all = true;
    } else if (arg == "-o" || arg == "--service" || arg == "--field" || arg == "--redirect-uri" ||
               arg == "--code-verifier") {
      if (!attached && i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = attached ? *attached : argv[++i];
      if (arg == "-o") {
        line->settings.output = value;
      } else if (arg == "--field") {
        line->settings.fields.push_back(value);
      } else if (arg == "--redirect-uri") {
        line->redirectUri = value;
      } else if (arg == "--code-verifier") {
        line->codeVerifier = value;
      } else {
        size_t colon = value.rfind(':');
        char* end = nullptr;
        if (colon != std::string::npos) line->servicePort = std::strtol(value.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() || *end ||
            line->servicePort < 1 || line->servicePort > 65535) {
          return UsageError("--service takes HOST:PORT, not \"" + value + "\"");
        }
        line->serviceHost = value.substr(0, colon);
        line->serviceAddress = value;
      }
    } else if (arg.compare(0, 2, "--") == 0) {
      return UsageError("unknown option " + arg + " (put -- before values that begin with '--')");
    } else {
      if (line->unknownOption.empty()) line->unknownOption = arg;
      line->words.push_back(arg);
    }
  }
  if (line->version) {
    // The TLS path and the certificate rule the library was built with: what
    // a reader of the output must know about who else may read the traffic.
#if defined(TASKCLIENT_TLS_BEARSSL)
    const char* tls = "BearSSL 0.6, compiled in";
#else
    const char* tls = OpenSSL_version(OPENSSL_VERSION);
#endif
    const char* certificates = TASKCLIENT_VERIFY_SERVER ? "checked (chain, dates and host name)"
                                                        : "not checked: every certificate is accepted";
    std::printf("taskclient %s (libtaskclient %s)\nTLS: %s\ncertificates: %s\n", TASKCLIENT_TOOL_VERSION,
                TASKCLIENT_LIBRARY_VERSION, tls, certificates);
    return 0;
  }
  if (!line->settings.fields.empty() && (raw || include)) {
    return UsageError(std::string(raw ? "--raw" : "--include") + " outputs the reply; --field outputs values");
  }
  // --raw already holds the head that --include adds.
  line->settings.mode = raw ? Mode::kRaw : include ? Mode::kInclude : Mode::kBody;
  return std::nullopt;
}

// The form of the command the words name (with --pkce or --all). Returns the
// exit status when that ends the run: help, or a usage error.
std::optional<int> ChooseCommand(CommandLine* line, const Command** chosen) {
  std::vector<std::string>& words = line->words;
  bool help = line->help;
  if (words.empty() || (words[0] == "help" && words.size() == 1)) {
    PrintUsage(help || !words.empty() ? stdout : stderr);
    return help || !words.empty() ? 0 : 2;
  }
  if (words[0] == "help") {
    words.erase(words.begin());
    help = true;
  }
  const bool pkce = line->pkce;
  if (pkce && line->all) return UsageError("--pkce and --all do not go together");
  const char* variant = pkce ? "--pkce" : line->all ? "--all" : nullptr;
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
    return UsageError(!line->unknownOption.empty() ? line->UnknownOptionError()
                                                   : "unknown command \"" + words[0] + "\"");
  }
  if (!command) return UsageError(std::string(variant) + " goes with " + (pkce ? "token" : "tasks") + " only");
  if (help) {
    PrintCommandHelp(words[0], variant);
    return 0;
  }
  *chosen = command;
  return std::nullopt;
}

// Chooses the command and makes its arguments: the access token from the
// environment where it is left out, secrets read from @FILE or @-, every
// value checked. Returns the exit status when that ends the run: help, or a
// usage error.
std::optional<int> Prepare(CommandLine* line, Prepared* prepared) {
  const Command* command = nullptr;
  if (std::optional<int> done = ChooseCommand(line, &command)) return done;
  std::vector<std::string>& words = line->words;
  std::optional<std::string>& redirectUri = line->redirectUri;
  std::optional<std::string>& codeVerifier = line->codeVerifier;
  const bool takesSignIn = std::strstr(command->options, "--redirect-uri") != nullptr;
  if ((redirectUri || codeVerifier) && !takesSignIn) {
    return UsageError(std::string(redirectUri ? "--redirect-uri" : "--code-verifier") +
                      " goes with token --pkce and auth-url only");
  }
  if (takesSignIn && !redirectUri) return UsageError(UsageLine(*command) + ": --redirect-uri is missing");
  // The access token may come from the environment: the command is then
  // given one word fewer, its first argument left out. An optional last
  // argument ("[name]") may be left out too; for request, whose second
  // argument is a method, a method in first place tells the token is left out.
  const char* accessToken = std::getenv("TASKCLIENT_ACCESS_TOKEN");
  const bool optionalLast = !command->arguments.empty() && command->arguments.back()[0] == '[';
  const bool startsWithMethod =
      words.size() > 1 && std::strcmp(command->name, "request") == 0 && IsRequestMethod(words[1]);
  const bool tokenFromEnvironment =
      accessToken && *accessToken && !command->arguments.empty() &&
      std::strcmp(command->arguments[0], "accessToken") == 0 &&
      (optionalLast ? startsWithMethod || words.size() + 1 == command->arguments.size()
                    : words.size() == command->arguments.size());
  if (tokenFromEnvironment) words.insert(words.begin() + 1, accessToken);
  if (optionalLast && words.size() == command->arguments.size()) words.push_back("");
  if (words.size() - 1 != command->arguments.size()) {
    if (!line->unknownOption.empty()) return UsageError(line->UnknownOptionError());
    std::string expected;
    for (const char* argument : command->arguments) expected += std::string(" ") + argument;
    const bool takesToken = !command->arguments.empty() && std::strcmp(command->arguments[0], "accessToken") == 0;
    return UsageError(std::string(command->name) + " takes" + expected +
                      (takesToken ? " (accessToken may be left to TASKCLIENT_ACCESS_TOKEN)" : ""));
  }
  // Secrets given as @FILE or @- (standard input, for one of them only).
  const size_t firstGiven = tokenFromEnvironment ? 2 : 1;
  size_t fromStdin = codeVerifier && *codeVerifier == "@-";
  for (size_t i = firstGiven; i < words.size(); ++i) {
    fromStdin += (IsSecret(command->arguments[i - 1]) || IsText(command->arguments[i - 1])) && words[i] == "@-";
  }
  if (fromStdin > 1) return UsageError("only one value can be read from standard input (@-)");
  std::string error;
  for (size_t i = firstGiven; i < words.size(); ++i) {
    if (IsSecret(command->arguments[i - 1]) && !ReadSecret(command->arguments[i - 1], words[i], &words[i], &error)) {
      return UsageError(error);
    }
  }
  if (codeVerifier && !ReadSecret("VERIFIER", *codeVerifier, &*codeVerifier, &error)) return UsageError(error);
  for (size_t i = firstGiven; i < words.size(); ++i) {
    if (IsText(command->arguments[i - 1]) && !ReadText(command->arguments[i - 1], &words[i], &error)) {
      return UsageError(error);
    }
  }
  // request's method and target, named when they cannot be sent (the library
  // would refuse them with 10, which names no argument).
  if (std::strcmp(command->name, "request") == 0) {
    if (!IsRequestMethod(words[2])) {
      return UsageError("request: method \"" + words[2] + "\" is none of GET, POST, PUT, PATCH, DELETE");
    }
    if (words[3].compare(0, 10, "/tasks/v1/") != 0) {
      return UsageError("request: target \"" + words[3] + "\" does not begin with /tasks/v1/");
    }
    if (!words[4].empty() && (words[2] == "GET" || words[2] == "DELETE")) {
      return UsageError("request: " + words[2] + " takes no jsonBody");
    }
  }
  if (command->flow == Flow::kAuthUrl && codeVerifier && !tools::IsPkceVerifier(*codeVerifier)) {
    return UsageError("a code verifier is 43 to 128 characters of A-Z a-z 0-9 - . _ ~");
  }
  prepared->command = command;
  for (size_t i = 1; i < words.size(); ++i) {
    prepared->arguments.emplace_back();
    if (!Widen(words[i], &prepared->arguments.back())) {
      return UsageError(std::string(command->arguments[i - 1]) + " is not valid UTF-8");
    }
  }
  Context& context = prepared->context;
  context.service = taskclient::ApiService();
  if (!line->serviceHost.empty()) {
    context.service.host = line->serviceHost.c_str();
    context.service.port = static_cast<uint16_t>(line->servicePort);
  }
  if (redirectUri && !Widen(*redirectUri, &context.redirectUri)) return UsageError("URI is not valid UTF-8");
  if (codeVerifier && !Widen(*codeVerifier, &context.codeVerifier)) return UsageError("VERIFIER is not valid UTF-8");
  return std::nullopt;
}

// Runs a prepared command: one exchange (or one per page, or none) and its
// output. Returns the exit status.
int Run(const CommandLine& line, const Prepared& prepared) {
  const Command& command = *prepared.command;
  const Settings& settings = line.settings;
  if (command.flow == Flow::kAllPages) return RunAllPages(command, prepared.context, prepared.arguments, settings);

  Output out;
  if (!out.Open(settings.output)) return CannotOpen(command.name, settings.output);
  int status = 0;
  if (command.flow == Flow::kAuthUrl) {
    status = PrintAuthorizationUrl(line.words[1], *line.redirectUri, line.codeVerifier.value_or(""),
                                   line.serviceAddress, settings.fields, out);
  } else if (command.flow == Flow::kRequests) {
    if (settings.mode == Mode::kInclude) return UsageError("requests prints status lines; -i does not go with it");
    const TemporaryReply temporary;
    cli::RequestsRun run;
    run.service = prepared.context.service;
    run.accessToken = prepared.arguments[0];
    run.requestsPath = prepared.arguments[1];
    run.responsePath = temporary.path();
    run.fields = settings.fields;
    run.raw = settings.mode == Mode::kRaw;
    run.verbose = settings.verbose;
    if (run.responsePath.empty() || !Widen(run.responsePath, &run.responsePath16)) return kExitUnreadable;
    std::string text;
    status = cli::RunRequests(
        run, {ExitForStatus, ExitForResult, DescribeResult, ServiceReason, ServiceMessage, FieldRows}, &text);
    if (!text.empty()) out.Write(text);
  } else if (command.flow == Flow::kRead) {
    std::ifstream in(line.words[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "taskclient: read: cannot open %s\n", line.words[1].c_str());
      return kExitUnreadable;
    }
    const std::string reply{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    status = Deliver(command.name, "", TC_EXCHANGE_COMPLETE, reply, settings, out, nullptr);
  } else {
    // The library writes the reply to a private response file; the output is
    // made from it.
    std::string reply;
    int32_t result;
    {
      const TemporaryReply temporary;
      if (temporary.path().empty()) return kExitUnreadable;
      std::u16string path;
      if (!Widen(temporary.path(), &path)) return UsageError("the temporary path is not valid UTF-8");
      result = command.run(prepared.context, prepared.arguments, T(path));
      reply = ReadWholeFile(temporary.path());
    }
    status = Deliver(command.name, "", result, reply, settings, out, nullptr);
  }
  if (!out.Close() && status == 0) status = CannotWrite(command.name, out);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  Prepared prepared;
  if (std::optional<int> done = ReadOptions(argc, argv, &line)) return *done;
  if (std::optional<int> done = Prepare(&line, &prepared)) return *done;
  return Run(line, prepared);
}
