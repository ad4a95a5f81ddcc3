#include "cli/requests.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "cli/commands.h"
#include "cli/deliver.h"
#include "cli/fields.h"
#include "cli/help.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/prepare.h"
#include "cli/results.h"
#include "cli/text.h"
#include "exchange/reply_scanner.h"
#include "json_reply.h"
#include "platform/platform.h"
#include "taskclient.h"
#include "tasks/requests.h"

namespace cli {

namespace {

// What one run of the command works with.
struct RequestsRun {
  taskclient::Service service;
  std::u16string accessToken;
  std::u16string requestsPath;  // u"-": standard input
  // The response file the library writes, as UTF-8 and as 16-bit text.
  std::string responsePath;
  std::u16string responsePath16;
  std::vector<std::string> fields;  // --field
  bool raw = false;                 // --raw: the response file as it arrived
  bool verbose = false;
};

// Sends the requests and makes the output: one line per reply with its status
// line, followed with --field by the rows of its body (2xx replies only).
// Returns the exit status: that of the first reply that failed (a status
// that is not 2xx, or a --field missing), else the result code's when the
// call did not end with 999, else 0. Failures say why on stderr, one line
// each, naming the request by its line in the file.
int RunRequests(const RequestsRun& run, std::string* output);

}  // namespace

std::vector<std::string> SplitReplies(const std::string& raw, std::string* rest) {
  std::vector<std::string> replies;
  size_t start = 0;
  while (start < raw.size()) {
    taskclient::ReplyScanner scanner;
    size_t consumed = 0;
    const taskclient::ReplyScanner::Verdict verdict = scanner.Feed(raw.data() + start, raw.size() - start, &consumed);
    if (verdict == taskclient::ReplyScanner::kComplete) {
      replies.push_back(raw.substr(start, consumed));
      start += consumed;
    } else if (verdict == taskclient::ReplyScanner::kNeedMore && scanner.CloseEndsReply()) {
      // The close ended it: the rest of the file is this reply.
      replies.push_back(raw.substr(start));
      start = raw.size();
    } else {
      break;
    }
  }
  *rest = raw.substr(start);
  return replies;
}

namespace {

int RunRequests(const RequestsRun& run, std::string* output) {
  // Standard input goes into a file beside the response file first: the
  // library reads the requests from a file.
  std::u16string requestsPath = run.requestsPath;
  std::string stdinCopy;
  if (requestsPath == u"-") {
    stdinCopy = run.responsePath + ".requests";
    const std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::ofstream copy(stdinCopy, std::ios::binary);
    copy.write(text.data(), static_cast<std::streamsize>(text.size()));
    copy.close();
    if (!copy) {
      std::fprintf(stderr, "taskclient: requests: cannot copy standard input to %s\n", stdinCopy.c_str());
      unlink(stdinCopy.c_str());
      return TC_FILE_WRITE_FAILED;
    }
    requestsPath = run.responsePath16 + u".requests";
  }
  const int32_t result = taskclient::PublicCode(taskclient::SendRequests(
      taskclient::SystemPlatform(), run.service, T(run.accessToken), T(requestsPath), T(run.responsePath16)));
  if (!stdinCopy.empty()) unlink(stdinCopy.c_str());
  const std::string raw = ReadWholeFile(run.responsePath);
  if (run.verbose) std::fprintf(stderr, "result %s\n", DescribeResult(result).c_str());

  std::string rest;
  const std::vector<std::string> replies = SplitReplies(raw, &rest);
  if (run.raw) *output += raw;
  int status = 0;
  for (size_t i = 0; i < replies.size(); ++i) {
    const std::string label = "requests: request " + std::to_string(i + 1);
    std::string error;
    std::optional<tools::Reply> reply = tools::ReadReply(replies[i], &error);
    if (!reply || reply->status == 0) {
      std::fprintf(stderr, "taskclient: %s: unreadable reply: %s\n", label.c_str(),
                   reply ? "the status line is not HTTP/1.x NNN" : error.c_str());
      if (status == 0) status = ExitForResult(TC_REPLY_CUT_SHORT);
      continue;
    }
    if (run.verbose) std::fprintf(stderr, "request %zu: %s\n", i + 1, reply->statusLine.c_str());
    if (!run.raw) *output += reply->statusLine + "\n";
    if (const int failed = ExitForStatus(reply->status, ServiceReason(reply->body))) {
      const std::string message = ServiceMessage(reply->body);
      std::fprintf(stderr, "taskclient: %s: %s%s%s\n", label.c_str(), reply->statusLine.c_str(),
                   message.empty() ? "" : ": ", message.c_str());
      if (status == 0) status = failed;
      continue;
    }
    if (run.fields.empty() || run.raw || reply->body.empty()) continue;
    std::string rows;
    if (!FieldRowsOrSay(label, reply->body, run.fields, &rows)) {
      if (status == 0) status = kExitUnreadable;
      continue;
    }
    *output += rows;
  }
  if (result != TC_EXCHANGE_COMPLETE) {
    std::fprintf(stderr, "taskclient: requests: %s%s\n",
                 replies.empty() ? "" : ("after " + std::to_string(replies.size()) + " whole replies: ").c_str(),
                 ("result " + DescribeResult(result)).c_str());
    if (status == 0) status = ExitForResult(result);
  }
  return status;
}

}  // namespace

int PerformRequests(const CommandLine& line, const Prepared& prepared) {
  const Command& command = *prepared.command;
  if (line.settings.mode == Mode::kInclude) return UsageError("requests prints status lines; -i does not go with it");
  Output out;
  if (!out.Open(line.settings.output)) return CannotOpen(command.name, line.settings.output);
  int status;
  {
    const TemporaryReply temporary;
    RequestsRun run;
    run.service = prepared.context.service;
    run.accessToken = prepared.arguments[0];
    run.requestsPath = prepared.arguments[1];
    run.responsePath = temporary.path();
    run.fields = line.settings.fields;
    run.raw = line.settings.mode == Mode::kRaw;
    run.verbose = line.settings.verbose;
    if (run.responsePath.empty() || !Widen(run.responsePath, &run.responsePath16)) return kExitUnreadable;
    std::string text;
    status = RunRequests(run, &text);
    if (!text.empty()) out.Write(text);
  }
  if (!out.Close() && status == 0) status = CannotWrite(command.name, out);
  return status;
}

}  // namespace cli
