// The command line: its options, wherever they stand, and its other words.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/deliver.h"

namespace cli {

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

// Reads the options into `line`. Returns the exit status when that ends the
// run: a usage error, or --version.
std::optional<int> ReadOptions(int argc, char** argv, CommandLine* line);

}  // namespace cli
