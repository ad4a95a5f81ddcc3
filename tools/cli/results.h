// Result codes and reply statuses as the tool reports them and exits with.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Exit statuses for a completed exchange; they stay clear of 2 and of the
// library's result codes, which are exit statuses too.
inline constexpr int kExitUnreadable = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNetworking = 3;
inline constexpr int kExitSignIn = 4;
inline constexpr int kExitGone = 5;
inline constexpr int kExitLater = 6;
inline constexpr int kExitHttpError = 7;

// "10 TC_BAD_ARGUMENT: ...", from the table of tools/result_codes.h.
std::string DescribeResult(int32_t code);

// The exit status for a result code other than 999.
int ExitForResult(int32_t result);

// The exit status for a reply's HTTP status and the service's reason: what a
// script should do next.
int ExitForStatus(int status, const std::string& reason);

}  // namespace cli
