#include "cli/deliver.h"

#include <cstdio>
#include <optional>

#include "cli/fields.h"
#include "cli/results.h"
#include "json_reply.h"
#include "taskclient.h"

namespace cli {

int Deliver(const std::string& label, const std::string& page, int32_t result, const std::string& raw,
            const Settings& settings, Output& out, std::string* body) {
  std::optional<tools::Reply> reply;
  std::string replyError;
  if (result == TC_EXCHANGE_COMPLETE) reply = tools::ReadReply(raw, &replyError);
  if (reply && reply->status == 0) {
    replyError = "the status line is not HTTP/1.x NNN";
    reply.reset();
  }
  if (settings.verbose) {
    std::fprintf(stderr, "%sresult %s\n", page.c_str(), DescribeResult(result).c_str());
    if (reply) std::fprintf(stderr, "%s%s\n", page.c_str(), reply->statusLine.c_str());
  }
  // What arrived is output even when the exchange broke off; the fields only
  // from a 2xx reply, below.
  if (settings.fields.empty() && (result == TC_EXCHANGE_COMPLETE || !raw.empty())) {
    if (settings.mode == Mode::kRaw) {
      out.Write(raw);
    } else if (reply) {
      out.Write((settings.mode == Mode::kInclude ? reply->head : "") + reply->body);
    } else {
      out.Write("");
    }
  }
  if (result != TC_EXCHANGE_COMPLETE) {
    std::fprintf(stderr, "taskclient: %s: result %s\n", label.c_str(), DescribeResult(result).c_str());
    return ExitForResult(result);
  }
  if (!reply) {
    std::fprintf(stderr, "taskclient: %s: unreadable reply: %s\n", label.c_str(), replyError.c_str());
    return kExitUnreadable;
  }
  if (const int status = ExitForStatus(reply->status, ServiceReason(reply->body))) {
    const std::string message = ServiceMessage(reply->body);
    std::fprintf(stderr, "taskclient: %s: %s%s%s\n", label.c_str(), reply->statusLine.c_str(),
                 message.empty() ? "" : ": ", message.c_str());
    return status;
  }
  if (!settings.fields.empty()) {
    std::string rows;
    if (!FieldRowsOrSay(label, reply->body, settings.fields, &rows)) return kExitUnreadable;
    out.Write(rows);
  }
  if (body) *body = std::move(reply->body);
  return 0;
}

}  // namespace cli
