// taskclient requests FILE: a sequence of requests in one call
// (SendRequests, as GTaskRequestsSSL sends them), each reply's status line
// printed and, with --field, values of its body.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exchange/service.h"

namespace cli {

// What the command takes from the rest of the tool: how a reply becomes an
// exit status and a line on stderr, and how --field values are read, the
// same as for every other command.
struct ReplyJudging {
  int (*exitForStatus)(int status, const std::string& reason);
  int (*exitForResult)(int32_t result);
  std::string (*describeResult)(int32_t result);
  std::string (*serviceReason)(const std::string& body);
  std::string (*serviceMessage)(const std::string& body);
  bool (*fieldRows)(const std::string& body, const std::vector<std::string>& fields, std::string* rows,
                    std::string* missing, bool* notJson);
};

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
int RunRequests(const RequestsRun& run, const ReplyJudging& judging, std::string* output);

// The replies of a response file, whole, in order, as the library's reply
// scanner ends them; `*rest` gets the bytes after the last whole one.
std::vector<std::string> SplitReplies(const std::string& raw, std::string* rest);

}  // namespace cli
