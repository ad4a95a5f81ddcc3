// Performing a command: one exchange, reading a response file back, or the
// sign-in URL (tasks --all is in paging.cpp).
#include <cstdio>
#include <fstream>
#include <iterator>

#include "cli/commands.h"
#include "cli/deliver.h"
#include "cli/fields.h"
#include "cli/help.h"
#include "cli/options.h"
#include "cli/prepare.h"
#include "cli/results.h"
#include "cli/text.h"
#include "json_reply.h"
#include "signin.h"
#include "taskclient.h"

namespace cli {

namespace {

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

// Opens the output (-o), lets `produce` write to it and closes it. Returns
// produce's exit status, or that of an output that cannot be opened or
// written.
template <typename Produce>
int ToOutput(const Command& command, const Settings& settings, Produce produce) {
  Output out;
  if (!out.Open(settings.output)) return CannotOpen(command.name, settings.output);
  int status = produce(out);
  if (!out.Close() && status == 0) status = CannotWrite(command.name, out);
  return status;
}

}  // namespace

int PerformExchange(const CommandLine& line, const Prepared& prepared) {
  const Command& command = *prepared.command;
  return ToOutput(command, line.settings, [&](Output& out) {
    // The library writes the reply to a private response file; the output is
    // made from it.
    std::string reply;
    int32_t result;
    {
      const TemporaryReply temporary;
      if (temporary.path().empty()) return kExitUnreadable;
      std::u16string path;
      if (!Widen(temporary.path(), &path)) return UsageError("the temporary path is not valid UTF-8");
      result = command.call(prepared.context, prepared.arguments, T(path));
      reply = ReadWholeFile(temporary.path());
    }
    return Deliver(command.name, "", result, reply, line.settings, out, nullptr);
  });
}

int PerformRead(const CommandLine& line, const Prepared& prepared) {
  const Command& command = *prepared.command;
  return ToOutput(command, line.settings, [&](Output& out) {
    std::ifstream in(line.words[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "taskclient: read: cannot open %s\n", line.words[1].c_str());
      return kExitUnreadable;
    }
    const std::string reply{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return Deliver(command.name, "", TC_EXCHANGE_COMPLETE, reply, line.settings, out, nullptr);
  });
}

int PerformAuthUrl(const CommandLine& line, const Prepared& prepared) {
  return ToOutput(*prepared.command, line.settings, [&](Output& out) {
    return PrintAuthorizationUrl(line.words[1], *line.redirectUri, line.codeVerifier.value_or(""),
                                 line.serviceAddress, line.settings.fields, out);
  });
}

}  // namespace cli
