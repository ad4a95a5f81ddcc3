// tasks --all: every page of a listing, one exchange each.
#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "cli/commands.h"
#include "cli/deliver.h"
#include "cli/fields.h"
#include "cli/help.h"
#include "cli/options.h"
#include "cli/prepare.h"
#include "cli/results.h"
#include "cli/text.h"
#include "taskclient.h"

namespace cli {

// tasks --all: one exchange per page, each reply read for its nextPageToken.
int PerformAllPages(const CommandLine& line, const Prepared& prepared) {
  const Command& command = *prepared.command;
  const Settings& settings = line.settings;
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
    Arguments withToken = prepared.arguments;
    withToken.push_back(token);
    const int32_t result = command.call(prepared.context, withToken, T(path));
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

}  // namespace cli
