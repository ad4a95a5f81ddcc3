// The tool's commands: one row each in the table of commands.cpp, with the
// help it shows and the function that performs it. Adding a command is adding
// a row, and a perform function where none of those below fits.
#pragma once

#include <string>
#include <vector>

#include "exchange/service.h"
#include "result.h"
#include "taskclient.h"

namespace cli {

typedef std::vector<std::u16string> Arguments;

// What a command's library call gets besides its arguments.
struct Context {
  taskclient::Service service;
  std::u16string redirectUri;   // --redirect-uri
  std::u16string codeVerifier;  // --code-verifier
};

struct CommandLine;
struct Prepared;

struct Command {
  const char* name;
  const char* variant;                 // the option that selects this form of the command, or null
  std::vector<const char*> arguments;  // named as in include/taskclient.h
  const char* options;                 // the options this form takes, as its usage line shows them
  const char* summary;
  const char* details;
  // Performs the prepared command: its exchanges, if any, and its output.
  // Returns the exit status.
  int (*perform)(const CommandLine& line, const Prepared& prepared);
  // The library call of a command that makes one (PerformExchange,
  // PerformAllPages, whose arguments then end with the page token), or null.
  taskclient::Result (*call)(const Context& c, const Arguments& a, const tc_text16* path);
};

// The commands in the order the help lists them.
const std::vector<Command>& Commands();

// The ways to perform a command (perform.cpp, paging.cpp).
int PerformExchange(const CommandLine& line, const Prepared& prepared);   // one exchange, one reply
int PerformAllPages(const CommandLine& line, const Prepared& prepared);   // one exchange per page
int PerformRead(const CommandLine& line, const Prepared& prepared);       // a response file taken apart
int PerformAuthUrl(const CommandLine& line, const Prepared& prepared);    // a verifier and the sign-in URL
int PerformRequests(const CommandLine& line, const Prepared& prepared);   // a sequence of requests in one call

}  // namespace cli
