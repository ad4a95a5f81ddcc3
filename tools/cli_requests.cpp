#include "cli_requests.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "exchange/reply_scanner.h"
#include "json_reply.h"
#include "platform/platform.h"
#include "taskclient.h"
#include "tasks/requests.h"

namespace cli {

namespace {

const tc_text16* T(const std::u16string& text) { return reinterpret_cast<const tc_text16*>(text.c_str()); }

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

int RunRequests(const RequestsRun& run, const ReplyJudging& judging, std::string* output) {
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
  const std::string raw = ReadWhole(run.responsePath);
  if (run.verbose) std::fprintf(stderr, "result %s\n", judging.describeResult(result).c_str());

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
      if (status == 0) status = judging.exitForResult(TC_REPLY_CUT_SHORT);
      continue;
    }
    if (run.verbose) std::fprintf(stderr, "request %zu: %s\n", i + 1, reply->statusLine.c_str());
    if (!run.raw) *output += reply->statusLine + "\n";
    if (const int failed = judging.exitForStatus(reply->status, judging.serviceReason(reply->body))) {
      const std::string message = judging.serviceMessage(reply->body);
      std::fprintf(stderr, "taskclient: %s: %s%s%s\n", label.c_str(), reply->statusLine.c_str(),
                   message.empty() ? "" : ": ", message.c_str());
      if (status == 0) status = failed;
      continue;
    }
    if (run.fields.empty() || run.raw || reply->body.empty()) continue;
    std::string rows, missing;
    bool notJson = false;
    if (!judging.fieldRows(reply->body, run.fields, &rows, &missing, &notJson)) {
      if (notJson) {
        std::fprintf(stderr, "taskclient: %s: the reply's body is not JSON\n", label.c_str());
      } else {
        std::fprintf(stderr, "taskclient: %s: no \"%s\" in the reply\n", label.c_str(), missing.c_str());
      }
      if (status == 0) status = 1;
      continue;
    }
    *output += rows;
  }
  if (result != TC_EXCHANGE_COMPLETE) {
    std::fprintf(stderr, "taskclient: requests: %s%s\n",
                 replies.empty() ? "" : ("after " + std::to_string(replies.size()) + " whole replies: ").c_str(),
                 ("result " + judging.describeResult(result)).c_str());
    if (status == 0) status = judging.exitForResult(result);
  }
  return status;
}

}  // namespace cli
