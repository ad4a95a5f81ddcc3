// What the operating system offers beneath TLS, one implementation per
// system: POSIX (src/platform/posix/posix_io.cpp) and Winsock with the C
// runtime of Windows and Windows CE (src/platform/winsock/winsock_io.cpp).
// A platform that brings its own TLS engine drives it over these sockets; the
// others use what they need of it (name resolution, files, text).
//
// Every socket made here is non-blocking, and every wait is bounded by the
// time limit given: a call stalls at most that long without progress.
#ifndef TASKCLIENT_PLATFORM_SYSTEM_IO_H
#define TASKCLIENT_PLATFORM_SYSTEM_IO_H

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

namespace taskclient {
namespace io {

// Outcome of a socket transfer that moved no bytes.
enum {
  kIoClosed = 0,     // the peer ended the connection (receive only)
  kIoFailed = -1,    // the connection broke
  kIoTimedOut = -2,  // no progress within the time allowed
};

// Networking for the duration of one call (WSAStartup/WSACleanup on Windows).
bool StartNetworking();
void StopNetworking();

// Resolves `host` to its first IPv4 address (network byte order).
bool Resolve(const char* host, uint32_t* address);

// A non-blocking IPv4 stream socket, or kNoSocket.
intptr_t OpenStreamSocket();
// Connects, waiting at most `timeoutMs` for the connection to complete.
bool ConnectSocket(intptr_t socket, uint32_t address, uint16_t port, int timeoutMs);
// Sends some of `length` bytes, waiting at most `timeoutMs` for room: the
// count sent (> 0), kIoFailed or kIoTimedOut. `timeoutMs` 0 waits not at all.
long SendSome(intptr_t socket, const unsigned char* bytes, size_t length, int timeoutMs);
// Receives up to `capacity` bytes, waiting at most `timeoutMs` for them: the
// count received (> 0), kIoClosed, kIoFailed or kIoTimedOut.
long ReceiveSome(intptr_t socket, unsigned char* buffer, size_t capacity, int timeoutMs);
void CloseSocket(intptr_t socket);

// The response file: created or emptied, written in binary, closed. Open
// leaves the handle kNoFile on failure; Close sets it to kNoFile and is false
// when data could not be brought to the file.
bool OpenResponseFile(const tc_text16* path, ResponseFile* file);
bool WriteResponseFile(ResponseFile* file, const char* bytes, size_t length);
bool CloseResponseFile(ResponseFile* file);
// A file opened for binary reading (kNoFile on failure), read in pieces: the
// count, 0 at its end, -1 on failure. Closed with CloseResponseFile.
bool OpenFileForReading(const tc_text16* path, ResponseFile* file);
long ReadFile(ResponseFile* file, char* buffer, size_t capacity);

// Platform::Narrow, as this system does it.
bool Narrow(const tc_text16* text, NarrowEncoding encoding, char* output, size_t capacity, size_t* length);

}  // namespace io
}  // namespace taskclient

#endif
