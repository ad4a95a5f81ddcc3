// taskclient: one subcommand per operation of the library, over the same
// internal functions the exported ones call. This is how a developer tries the
// library from a desktop, against the real service or the local stand-in.
#include <optional>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/prepare.h"

int main(int argc, char** argv) {
  cli::CommandLine line;
  cli::Prepared prepared;
  if (std::optional<int> done = cli::ReadOptions(argc, argv, &line)) return *done;
  if (std::optional<int> done = cli::Prepare(&line, &prepared)) return *done;
  // One exchange (or one per page, or none) and its output.
  return prepared.command->perform(line, prepared);
}
