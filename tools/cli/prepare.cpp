#include "cli/prepare.h"

#include <cstdlib>
#include <cstring>

#include "cli/help.h"
#include "cli/secrets.h"
#include "cli/text.h"
#include "json_reply.h"
#include "signin.h"
#include "tasks/tasks.h"

namespace cli {

namespace {

// The library's request method (its own table) that the UTF-8 `word` names,
// or null.
const taskclient::ApiMethod* FindMethod(const std::string& word) {
  return taskclient::FindApiMethod(word.data(), word.size());
}

// "GET, POST, PUT, PATCH, DELETE"
std::string MethodNames() {
  std::string names;
  for (size_t i = 0; i < taskclient::kApiMethodCount; ++i) {
    names += (i ? ", " : "") + std::string(taskclient::kApiMethods[i].name);
  }
  return names;
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
  for (const Command& candidate : Commands()) {
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

}  // namespace

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
      words.size() > 1 && std::strcmp(command->name, "request") == 0 && FindMethod(words[1]) != nullptr;
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
    const taskclient::ApiMethod* method = FindMethod(words[2]);
    if (!method) return UsageError("request: method \"" + words[2] + "\" is none of " + MethodNames());
    const std::string prefix = taskclient::kRequestTargetPrefix;
    if (words[3].compare(0, prefix.size(), prefix) != 0) {
      return UsageError("request: target \"" + words[3] + "\" does not begin with " + prefix);
    }
    if (!words[4].empty() && !method->hasBody) {
      return UsageError("request: " + words[2] + " takes no jsonBody");
    }
  }
  if (command->perform == PerformAuthUrl && codeVerifier && !tools::IsPkceVerifier(*codeVerifier)) {
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

}  // namespace cli
