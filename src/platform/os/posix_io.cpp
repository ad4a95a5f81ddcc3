#include "platform/os/posix_io.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "text/utf8.h"

#include "platform/os/socket_addresses.h"

namespace taskclient {
namespace io {

namespace {

// Room for a response path converted to UTF-8.
const size_t kPathBytes = 4096;

int64_t NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int SocketOf(intptr_t socket) { return static_cast<int>(socket); }

}  // namespace

Wait WaitFor(int socket, short events, int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left < 0) left = 0;
    struct pollfd entry;
    entry.fd = socket;
    entry.events = events;
    entry.revents = 0;
    int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return kReady;  // errors and hang-ups show in the next I/O call
    if (ready == 0) return kTimedOut;
    if (errno != EINTR) return kWaitFailed;
  }
}

bool StartSockets() { return true; }

void StopSockets() {}

bool LookUpHost(const char* host, AddressList* addresses) { return LookUpAddresses(host, addresses); }

uint32_t Milliseconds() { return static_cast<uint32_t>(NowMs()); }

intptr_t OpenStreamSocket(int family) {
  int socket = ::socket(family == kIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket < 0) return kNoSocket;
  // Every write is a whole TLS record or flight: none may wait for the
  // peer's (delayed) acknowledgement of the one before.
  int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return socket;
}

bool ConnectSocket(intptr_t socket, const Address& address, uint16_t port, int timeoutMs) {
  Peer peer;
  SetPeer(address, port, &peer);
  int handle = SocketOf(socket);
  if (connect(handle, peer.address, static_cast<socklen_t>(peer.size)) == 0) return true;
  // A non-blocking connect, or one a signal interrupted, goes on by itself.
  if (errno != EINPROGRESS && errno != EINTR) return false;
  if (WaitFor(handle, POLLOUT, timeoutMs) != kReady) return false;
  int error = 0;
  socklen_t errorSize = sizeof error;
  return getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
}

long SendSome(intptr_t socket, const unsigned char* bytes, size_t length, int timeoutMs) {
  int handle = SocketOf(socket);
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone away gives an error rather than a
    // SIGPIPE that would end the host process.
    ssize_t sent = send(handle, bytes, length, MSG_NOSIGNAL);
    if (sent > 0) return static_cast<long>(sent);
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return kReceiveFailed;
    Wait wait = WaitFor(handle, POLLOUT, timeoutMs);
    if (wait != kReady) return wait == kTimedOut ? kReceiveTimedOut : kReceiveFailed;
  }
}

long ReceiveSome(intptr_t socket, unsigned char* buffer, size_t capacity, int timeoutMs) {
  int handle = SocketOf(socket);
  for (;;) {
    ssize_t received = recv(handle, buffer, capacity, 0);
    if (received > 0) return static_cast<long>(received);
    if (received == 0) return kReceiveClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kReceiveFailed;
    Wait wait = WaitFor(handle, POLLIN, timeoutMs);
    if (wait != kReady) return wait == kTimedOut ? kReceiveTimedOut : kReceiveFailed;
  }
}

void CloseStreamSocket(intptr_t socket) { close(SocketOf(socket)); }

namespace {

// Opens the file at a 16-bit path with `flags`; a file it creates gets `mode`.
// The open itself never waits (O_NONBLOCK: a FIFO without a peer would hold
// it forever), and only a regular file or a character device (/dev/null) is
// kept: a FIFO, a socket or a directory could block a later read or write, or
// take none. The file is then put back in blocking mode.
bool OpenPath(const tc_text16* path, int flags, mode_t mode, File* file) {
  file->handle = kNoFile;
  char narrowPath[kPathBytes];
  size_t length = 0;
  if (!Utf16ToUtf8(path, narrowPath, sizeof narrowPath, &length) || length == 0) return false;
  int handle;
  do {
    handle = open(narrowPath, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) return false;
  struct stat status;
  int modeFlags = fcntl(handle, F_GETFL);
  if (fstat(handle, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISCHR(status.st_mode)) || modeFlags < 0 ||
      fcntl(handle, F_SETFL, modeFlags & ~O_NONBLOCK) != 0) {
    close(handle);
    return false;
  }
  file->handle = handle;
  return true;
}

}  // namespace

// A response file may hold tokens or a client secret's answer: one the
// library creates is readable by its owner only. An existing file keeps its
// mode.
bool OpenForWriting(const tc_text16* path, File* file) {
  return OpenPath(path, O_WRONLY | O_CREAT | O_TRUNC, 0600, file);
}

bool OpenForWritingKept(const tc_text16* path, File* file) {
  return OpenPath(path, O_WRONLY | O_CREAT, 0600, file);
}

bool SameFile(const File* a, const File* b) {
  struct stat first;
  struct stat second;
  return fstat(static_cast<int>(a->handle), &first) == 0 && fstat(static_cast<int>(b->handle), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool EmptyFile(File* file) {
  int handle = static_cast<int>(file->handle);
  int result;
  do {
    result = ftruncate(handle, 0);
  } while (result != 0 && errno == EINTR);
  // A character device has no length to cut: it is as empty as it gets.
  return result == 0 || errno == EINVAL;
}

bool OpenForReading(const tc_text16* path, File* file) { return OpenPath(path, O_RDONLY, 0, file); }

long ReadSome(File* file, char* buffer, size_t capacity) {
  for (;;) {
    ssize_t got = read(static_cast<int>(file->handle), buffer, capacity);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

bool WriteAll(File* file, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(static_cast<int>(file->handle), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool CloseFileHandle(File* file) {
  int handle = static_cast<int>(file->handle);
  file->handle = kNoFile;
  // After close() fails with EINTR the descriptor is gone on Linux: no retry.
  return close(handle) == 0;
}

bool ToCodePage(const tc_text16* text, char* output, size_t capacity, size_t* length) {
  // UTF-8 is the system's narrow text here.
  return Utf16ToUtf8(text, output, capacity, length);
}

}  // namespace io
}  // namespace taskclient
