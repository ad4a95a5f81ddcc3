// A command ready to run: chosen, its arguments read and checked.
#pragma once

#include <optional>

#include "cli/commands.h"
#include "cli/options.h"

namespace cli {

// A command ready to run: the form chosen, its arguments as the library
// takes them, and where and how to reach the service (whose host points into
// the CommandLine it was prepared from).
struct Prepared {
  const Command* command = nullptr;
  Arguments arguments;
  Context context;
};

// Chooses the command and makes its arguments: the access token from the
// environment where it is left out, secrets read from @FILE or @-, every
// value checked. Returns the exit status when that ends the run: help, or a
// usage error.
std::optional<int> Prepare(CommandLine* line, Prepared* prepared);

}  // namespace cli
