// What the tool makes of one reply: the body, the head and body, the raw
// reply or --field values, and the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/output.h"

namespace cli {

// What is output of a reply: its body, its head and body (-i), or the raw
// reply (--raw).
enum class Mode { kBody, kInclude, kRaw };

// The options that say what is output, and where.
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
            const Settings& settings, Output& out, std::string* body);

}  // namespace cli
