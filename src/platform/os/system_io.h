// What the operating system offers beneath TLS, one implementation per
// system: POSIX (posix_io.cpp) and Winsock with the C runtime of Windows and
// Windows CE (winsock_io.cpp). A platform that brings its own TLS engine
// drives it over these sockets; the others use what they need of it (name
// resolution, files, text). The names differ from the Platform methods they
// serve, so that a call shows which of the two it goes to.
//
// Every socket made here is non-blocking, and every wait is bounded by the
// time limit given: a call stalls at most that long without progress.
#ifndef TASKCLIENT_PLATFORM_OS_SYSTEM_IO_H
#define TASKCLIENT_PLATFORM_OS_SYSTEM_IO_H

#include <stddef.h>

#include "portable.h"
#include "platform/platform.h"

namespace taskclient {
namespace io {

// A socket transfer that moved no bytes reports it as a platform receive
// does (platform.h): kReceiveClosed (receive only), kReceiveFailed or
// kReceiveTimedOut.

// Networking for the duration of one call (WSAStartup/WSACleanup on Windows).
bool StartSockets();
void StopSockets();

// Looks `host` up: its IPv6 and IPv4 addresses in the resolver's order (the
// first kMaxAddresses of them). False when it has none.
bool LookUpHost(const char* host, AddressList* addresses);

// Milliseconds on a clock that only goes forward, wrapping around at 2^32.
uint32_t Milliseconds();
// What is left of `timeoutMs` counted from `started` (a Milliseconds()
// reading): never below 0.
inline int Remaining(uint32_t started, int timeoutMs) {
  uint32_t spent = Milliseconds() - started;
  if (timeoutMs <= 0 || spent >= static_cast<uint32_t>(timeoutMs)) return 0;
  return timeoutMs - static_cast<int>(spent);
}

// A non-blocking stream socket of `family` (kIpv4, kIpv6), or kNoSocket.
intptr_t OpenStreamSocket(int family);
// Connects, waiting at most `timeoutMs` for the connection to complete. On a
// blocking socket the connect itself waits, as long as the system lets it.
bool ConnectSocket(intptr_t socket, const Address& address, uint16_t port, int timeoutMs);
// Sends some of `length` bytes, waiting at most `timeoutMs` for room: the
// count sent (> 0), kReceiveFailed or kReceiveTimedOut. `timeoutMs` 0 waits not at all.
long SendSome(intptr_t socket, const unsigned char* bytes, size_t length, int timeoutMs);
// Receives up to `capacity` bytes, waiting at most `timeoutMs` for them: the
// count received (> 0), kReceiveClosed, kReceiveFailed or kReceiveTimedOut.
long ReceiveSome(intptr_t socket, unsigned char* buffer, size_t capacity, int timeoutMs);
void CloseStreamSocket(intptr_t socket);

// A file created or emptied for binary writing, written whole, closed. Open
// leaves the handle kNoFile on failure; CloseFileHandle sets it to kNoFile and is
// false when data could not be brought to the file. Only a file that can
// neither block nor refuse the bytes is opened: a regular file or a character
// device; a FIFO, socket, pipe or directory is a failure, and the open never
// waits.
bool OpenForWriting(const tc_text16* path, File* file);
// The same, created when missing but not emptied, so that it can be compared
// with another (SameFile) before EmptyFile cuts it to nothing.
bool OpenForWritingKept(const tc_text16* path, File* file);
bool SameFile(const File* a, const File* b);
bool EmptyFile(File* file);
bool WriteAll(File* file, const char* bytes, size_t length);
bool CloseFileHandle(File* file);
// A file opened for binary reading (kNoFile on failure), on the same terms,
// read in pieces: the count, 0 at its end, -1 on failure. Closed with
// CloseFileHandle.
bool OpenForReading(const tc_text16* path, File* file);
long ReadSome(File* file, char* buffer, size_t capacity);

// Platform::Narrow as this system does it: 16-bit text to the system's own
// narrow text (its code page; UTF-8 on POSIX).
bool ToCodePage(const tc_text16* text, char* output, size_t capacity, size_t* length);

}  // namespace io
}  // namespace taskclient

#endif
