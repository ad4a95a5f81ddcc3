// The tool's help: the usage of every command, of one, and usage errors.
#pragma once

#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace cli {

// "token --pkce --redirect-uri URI [...] authorizationCode clientSecret clientId"
std::string UsageLine(const Command& command);

// The whole help: every command, the options, secrets and exit statuses.
void PrintUsage(FILE* out);

// Every form of the command, or only the one chosen with its option.
void PrintCommandHelp(const std::string& name, const char* variant);

// Reports a usage error on stderr; returns its exit status.
int UsageError(const std::string& message);

}  // namespace cli
