// The POSIX side of system_io.h, and the wait it is built on, which the
// OpenSSL platform shares.
#ifndef TASKCLIENT_PLATFORM_OS_POSIX_IO_H
#define TASKCLIENT_PLATFORM_OS_POSIX_IO_H

#include "platform/os/system_io.h"

namespace taskclient {
namespace io {

enum Wait { kReady, kTimedOut, kWaitFailed };

// Waits until `socket` is ready for `events` (poll's POLLIN, POLLOUT), at
// most `timeoutMs` in all, however often a signal interrupts the wait.
Wait WaitFor(int socket, short events, int timeoutMs);

}  // namespace io
}  // namespace taskclient

#endif
