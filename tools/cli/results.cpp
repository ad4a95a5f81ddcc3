#include "cli/results.h"

#include "result_codes.h"
#include "taskclient.h"

namespace cli {

std::string DescribeResult(int32_t code) {
  for (const tools::ResultCode& result : tools::kResultCodes) {
    if (result.code == code) return std::to_string(code) + " " + result.name + ": " + result.meaning;
  }
  return std::to_string(code) + ": unknown result";
}

int ExitForResult(int32_t result) { return result == TC_NETWORKING_FAILED ? kExitNetworking : result; }

int ExitForStatus(int status, const std::string& reason) {
  if (status >= 200 && status <= 299) return 0;
  // A rate limit comes as 403 too: waiting helps, signing in again does not.
  if (reason == "rateLimitExceeded" || reason == "userRateLimitExceeded") return kExitLater;
  // A code or refresh token the service no longer takes (revoked, expired,
  // used): only signing in again helps.
  if (reason == "invalid_grant") return kExitSignIn;
  if (status == 401 || status == 403) return kExitSignIn;
  if (status == 404 || status == 410) return kExitGone;
  if (status == 429 || (status >= 500 && status <= 599)) return kExitLater;
  return kExitHttpError;
}

}  // namespace cli
