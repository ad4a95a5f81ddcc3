// taskclient: one subcommand per operation of the library, over the same
// internal functions the exported ones call. This is how a developer tries the
// library from a desktop, against the real service or the local stand-in.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "exchange/request.h"
#include "platform/platform.h"
#include "response_file.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

namespace {

using taskclient::Service;
using taskclient::SystemPlatform;
typedef std::vector<std::u16string> Arguments;

const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

struct Command {
  const char* name;
  std::vector<const char*> arguments;  // named as in include/taskclient.h
  const char* summary;
  const char* details;
  int32_t (*run)(const Service& service, const Arguments& a, const tc_text16* path);
};

// Adding an operation is adding an entry here.
const Command kCommands[] = {
    {"token", {"authorizationCode", "clientSecret", "clientId"},
     "exchange an authorization code for tokens (GoogleTasksGetTokenSSL)",
     "POST /oauth2/v3/token with the out-of-band redirect. The code is the one\n"
     "the user copied after signing in; it is good once. The reply carries\n"
     "access_token and refresh_token.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::GetToken(SystemPlatform(), s, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"refresh", {"refreshToken", "clientSecret", "clientId"},
     "obtain a fresh access token (GoogleTasksTokenRefreshSSL)",
     "POST /oauth2/v3/token with grant_type=refresh_token. The reply carries\n"
     "access_token; the refresh token stays valid.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::RefreshToken(SystemPlatform(), s, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"lists", {"accessToken"}, "list the task lists (GTaskListTasksSSL)",
     "GET /tasks/v1/users/@me/lists. The reply's items are the task lists, each\n"
     "with its id and title.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTaskLists(SystemPlatform(), s, T(a[0]), path);
     }},
    {"tasks", {"accessToken", "taskListId"}, "list the tasks of a task list (GTaskListTasksListSSL)",
     "GET /tasks/v1/lists/{taskListId}/tasks. The reply's items are the tasks.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::ListTasks(SystemPlatform(), s, T(a[0]), T(a[1]), path);
     }},
    {"add", {"accessToken", "taskListId", "title"}, "add a task to a task list (GTaskTaskAddSSL)",
     "POST /tasks/v1/lists/{taskListId}/tasks with { \"title\": \"...\" }. The reply\n"
     "is the created task, with its id.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::AddTask(SystemPlatform(), s, T(a[0]), T(a[1]), T(a[2]), nullptr, path);
     }},
    {"delete", {"accessToken", "taskListId", "taskId"}, "delete a task (GTaskTaskDeleteSSL)",
     "DELETE /tasks/v1/lists/{taskListId}/tasks/{taskId}. The reply is\n"
     "\"HTTP/1.1 204 No Content\" with no body.\n",
     [](const Service& s, const Arguments& a, const tc_text16* path) {
       return taskclient::DeleteTask(SystemPlatform(), s, T(a[0]), T(a[1]), T(a[2]), path);
     }},
    {"read", {"responseFile"}, "print a response file with its chunked framing removed (no exchange)",
     "Reads a reply that an earlier call left in a file: prints its status line\n"
     "and its body without the chunk sizes, or with --field the values asked for.\n"
     "The exit status follows the reply's status as for the other commands.\n",
     nullptr},
};

const char kOptions[] =
    "Options (before or after the command):\n"
    "  -o FILE              write the reply to FILE, byte for byte, and print nothing\n"
    "                       (default: print the reply from a temporary file)\n"
    "  --service HOST:PORT  talk to HOST:PORT, e.g. the local stand-in, instead of\n"
    "                       the service's API host on port 443\n"
    "  --field PATH         print the value at PATH in the reply's JSON body instead\n"
    "                       of the reply: \"access_token\", \"items.0.id\", or with\n"
    "                       \"*\" for every element, \"items.*.title\"; repeatable\n"
    "  --verbose            report the result code and the status line on stderr\n"
    "  -h, --help           help; \"taskclient COMMAND --help\" for one command\n";

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

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: taskclient [OPTIONS] COMMAND ARGUMENTS...\n\n"
               "Runs one operation of the taskclient library: one HTTPS exchange with the\n"
               "task service, its raw reply written to a response file.\n\nCommands:\n");
  for (const Command& command : kCommands) {
    std::string line = command.name;
    for (const char* argument : command.arguments) line += std::string(" ") + argument;
    std::fprintf(out, "  %s\n      %s\n", line.c_str(), command.summary);
  }
  std::fprintf(out, "\n%s\n%s", kOptions, kExitStatus);
}

void PrintCommandHelp(const Command& command) {
  std::string line = command.name;
  for (const char* argument : command.arguments) line += std::string(" ") + argument;
  std::printf("usage: taskclient [OPTIONS] %s\n\n%s: %s.\n%s\n%s\n%s", line.c_str(), command.name, command.summary,
              command.details, kOptions, kExitStatus);
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

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  std::string serviceHost;
  long servicePort = 0;
  std::vector<std::string> fields;
  bool verbose = false;
  bool help = false;
  std::vector<std::string> words;
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
      verbose = true;
    } else if (arg == "-o" || arg == "--service" || arg == "--field") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "-o") {
        output = value;
      } else if (arg == "--field") {
        fields.push_back(value);
      } else {
        size_t colon = value.rfind(':');
        char* end = nullptr;
        if (colon != std::string::npos) servicePort = std::strtol(value.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() || *end || servicePort < 1 ||
            servicePort > 65535) {
          return UsageError("--service takes HOST:PORT, not \"" + value + "\"");
        }
        serviceHost = value.substr(0, colon);
      }
    } else {
      return UsageError("unknown option " + arg);
    }
  }

  if (words.empty() || (words[0] == "help" && words.size() == 1)) {
    PrintUsage(help || !words.empty() ? stdout : stderr);
    return help || !words.empty() ? 0 : 2;
  }
  if (words[0] == "help") {
    words.erase(words.begin());
    help = true;
  }
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (words[0] == candidate.name) command = &candidate;
  }
  if (!command) return UsageError("unknown command \"" + words[0] + "\"");
  if (help) {
    PrintCommandHelp(*command);
    return 0;
  }
  if (words.size() - 1 != command->arguments.size()) {
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

  Service service = taskclient::ApiService();
  if (!serviceHost.empty()) {
    service.host = serviceHost.c_str();
    service.port = static_cast<uint16_t>(servicePort);
  }

  bool temporary = output.empty() && command->run;
  if (temporary) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/taskclient-reply-XXXXXX";
    int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
      std::fprintf(stderr, "taskclient: cannot make a temporary file in %s\n", folder ? folder : "/tmp");
      return 1;
    }
    close(descriptor);
    output = pattern;
  }
  std::u16string path;
  if (!Widen(output, &path)) return UsageError("the response path is not valid UTF-8");

  int32_t result = TC_EXCHANGE_COMPLETE;
  std::string raw;
  if (command->run) {
    result = command->run(service, arguments, T(path));
    raw = ReadWholeFile(output);
  } else {
    std::ifstream in(words[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "taskclient: read: cannot open %s\n", words[1].c_str());
      if (temporary) unlink(output.c_str());
      return 1;
    }
    raw.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (temporary) unlink(output.c_str());

  std::optional<tools::Reply> reply;
  std::string replyError;
  if (result == TC_EXCHANGE_COMPLETE) reply = tools::ReadReply(raw, &replyError);
  if (verbose) {
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
    return result == TC_NETWORKING_FAILED ? 3 : result;
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
  for (const std::string& field : fields) {
    std::vector<const tools::JsonValue*> values = json->All(field);
    if (values.empty() && field.find('*') == std::string::npos) {
      std::fprintf(stderr, "taskclient: %s: no \"%s\" in the reply\n", command->name, field.c_str());
      return 1;
    }
    for (const tools::JsonValue* value : values) std::printf("%s\n", value->ToString().c_str());
  }
  return 0;
}
