// taskclient requests FILE: a sequence of requests in one call
// (SendRequests, as GTaskRequestsSSL sends them), each reply's status line
// printed and, with --field, values of its body.
#pragma once

#include <string>
#include <vector>


namespace cli {

// The replies of a response file, whole, in order, as the library's reply
// scanner ends them; `*rest` gets the bytes after the last whole one.
std::vector<std::string> SplitReplies(const std::string& raw, std::string* rest);

}  // namespace cli
