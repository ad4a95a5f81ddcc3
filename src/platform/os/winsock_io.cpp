// system_io.h on Winsock and the C runtime: desktop Windows and Windows CE
// alike. Sockets use Winsock 1.1 calls (select, ioctlsocket), and names are
// looked up with getaddrinfo, which Windows CE has from 4.1 on and desktop
// Windows from XP. The transfers serve the blocking socket
// of the device's secure sockets too, whose waits SO_SNDTIMEO and SO_RCVTIMEO
// bound.
#include "platform/os/system_io.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "platform/os/socket_addresses.h"

namespace taskclient {
namespace io {

namespace {

// The largest piece one send or recv call is handed.
const size_t kMaxPiece = INT_MAX;

SOCKET SocketOf(intptr_t socket) { return static_cast<SOCKET>(socket); }

HANDLE HandleOf(const File* file) { return reinterpret_cast<HANDLE>(file->handle); }

enum Wait { kReady, kTimedOut, kWaitFailed };

// Waits until the socket can be written (or, for a connect, has completed or
// failed) or read, at most `timeoutMs`.
Wait WaitFor(SOCKET socket, bool write, int timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);  // a failed non-blocking connect shows here
  struct timeval limit;
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  // The first argument is ignored by Winsock.
  int count = select(0, write ? 0 : &ready, write ? &ready : 0, &failed, &limit);
  if (count > 0) return FD_ISSET(socket, &failed) ? kWaitFailed : kReady;
  return count == 0 ? kTimedOut : kWaitFailed;
}

long AfterStall(SOCKET socket, bool write, int timeoutMs) {
  Wait wait = WaitFor(socket, write, timeoutMs);
  if (wait == kReady) return 1;
  return wait == kTimedOut ? kReceiveTimedOut : kReceiveFailed;
}

}  // namespace

bool StartSockets() {
  WSADATA data;  // filled by the call, never read
  return WSAStartup(0x0101, &data) == 0;
}

void StopSockets() { WSACleanup(); }

bool LookUpHost(const char* host, AddressList* addresses) { return LookUpAddresses(host, addresses); }

// GetTickCount: every Windows and Windows CE has it, and it wraps as the
// clock of system_io.h may.
uint32_t Milliseconds() { return static_cast<uint32_t>(GetTickCount()); }

intptr_t OpenStreamSocket(int family) {
  SOCKET socket = ::socket(family == kIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return kNoSocket;
  u_long nonBlocking = 1;
  // FIONBIO is an unsigned constant; ioctlsocket takes the command as a long.
  if (ioctlsocket(socket, static_cast<long>(FIONBIO), &nonBlocking) != 0) {
    closesocket(socket);
    return kNoSocket;
  }
  // Every write is a whole TLS record: none may wait for the peer's
  // (delayed) acknowledgement of the one before.
  BOOL on = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<intptr_t>(socket);
}

bool ConnectSocket(intptr_t handle, const Address& address, uint16_t port, int timeoutMs) {
  SOCKET socket = SocketOf(handle);
  Peer peer;
  SetPeer(address, port, &peer);
  if (connect(socket, peer.address, peer.size) == 0) return true;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
  if (WaitFor(socket, true, timeoutMs) != kReady) return false;
  int error = 0;
  int errorSize = sizeof error;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &errorSize) == 0 && error == 0;
}

long SendSome(intptr_t handle, const unsigned char* bytes, size_t length, int timeoutMs) {
  SOCKET socket = SocketOf(handle);
  int piece = static_cast<int>(length < kMaxPiece ? length : kMaxPiece);
  for (;;) {
    int sent = send(socket, reinterpret_cast<const char*>(bytes), piece, 0);
    if (sent > 0) return sent;
    if (sent == 0) return kReceiveFailed;
    int error = WSAGetLastError();
    if (error == WSAETIMEDOUT) return kReceiveTimedOut;  // a blocking socket's SO_SNDTIMEO ran out
    if (error != WSAEWOULDBLOCK) return kReceiveFailed;
    long waited = AfterStall(socket, true, timeoutMs);
    if (waited < 0) return waited;
  }
}

long ReceiveSome(intptr_t handle, unsigned char* buffer, size_t capacity, int timeoutMs) {
  SOCKET socket = SocketOf(handle);
  int piece = static_cast<int>(capacity < kMaxPiece ? capacity : kMaxPiece);
  for (;;) {
    int received = recv(socket, reinterpret_cast<char*>(buffer), piece, 0);
    if (received > 0) return received;
    if (received == 0) return kReceiveClosed;
    int error = WSAGetLastError();
    if (error == WSAETIMEDOUT) return kReceiveTimedOut;  // a blocking socket's SO_RCVTIMEO ran out
    if (error != WSAEWOULDBLOCK) return kReceiveFailed;
    long waited = AfterStall(socket, false, timeoutMs);
    if (waited < 0) return waited;
  }
}

void CloseStreamSocket(intptr_t handle) { closesocket(SocketOf(handle)); }

namespace {

// Opens the file at `path` through the system's own file handles, with
// `access` and `disposition` as CreateFileW takes them. Only a file that can
// neither block nor refuse the bytes is kept: on desktop Windows a disk file
// or a character device (NUL); a pipe is refused, and a directory never
// opens. Windows CE has no pipes in its file system.
bool OpenPath(const tc_text16* path, DWORD access, DWORD disposition, File* file) {
  file->handle = kNoFile;
  if (!path[0]) return false;
  HANDLE handle = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, disposition,
                              FILE_ATTRIBUTE_NORMAL, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
#if !defined(_WIN32_WCE)
  DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_CHAR) {
    CloseHandle(handle);
    return false;
  }
#endif
  file->handle = reinterpret_cast<intptr_t>(handle);
  return true;
}

}  // namespace

bool OpenForWriting(const tc_text16* path, File* file) {
  return OpenPath(path, GENERIC_WRITE, CREATE_ALWAYS, file);
}

bool OpenForWritingKept(const tc_text16* path, File* file) {
  return OpenPath(path, GENERIC_WRITE, OPEN_ALWAYS, file);
}

bool SameFile(const File* a, const File* b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return GetFileInformationByHandle(HandleOf(a), &first) && GetFileInformationByHandle(HandleOf(b), &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool EmptyFile(File* file) {
  HANDLE handle = HandleOf(file);
  if (SetFilePointer(handle, 0, 0, FILE_BEGIN) == static_cast<DWORD>(-1)) return false;
  // A character device has no length to cut: it is as empty as it gets.
  return SetEndOfFile(handle) || GetFileSize(handle, 0) == 0;
}

bool OpenForReading(const tc_text16* path, File* file) {
  return OpenPath(path, GENERIC_READ, OPEN_EXISTING, file);
}

long ReadSome(File* file, char* buffer, size_t capacity) {
  DWORD got = 0;
  DWORD piece = static_cast<DWORD>(capacity < kMaxPiece ? capacity : kMaxPiece);
  if (!::ReadFile(HandleOf(file), buffer, piece, &got, 0)) return -1;
  return static_cast<long>(got);
}

bool WriteAll(File* file, const char* bytes, size_t length) {
  while (length > 0) {
    DWORD written = 0;
    DWORD piece = static_cast<DWORD>(length < kMaxPiece ? length : kMaxPiece);
    if (!::WriteFile(HandleOf(file), bytes, piece, &written, 0) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

bool CloseFileHandle(File* file) {
  HANDLE handle = HandleOf(file);
  file->handle = kNoFile;
  return CloseHandle(handle) != 0;
}

bool ToCodePage(const tc_text16* text, char* output, size_t capacity, size_t* length) {
  if (capacity == 0) return false;

  // The system code page with no flags, so a character it cannot show
  // becomes its default character. The limit handed over is two bytes per
  // character plus two (the most a code page needs, NUL included), or the
  // capacity when that is smaller; the conversion covers the NUL.
  size_t characters = wcslen(text);
  size_t room = characters + 1 <= capacity / 2 ? (characters + 1) * 2 : capacity;
  if (room > kMaxPiece) room = kMaxPiece;
  output[0] = '\0';
  int written = WideCharToMultiByte(CP_ACP, 0, text, -1, output, static_cast<int>(room), 0, 0);
  if (written <= 0) {
    output[0] = '\0';  // did not fit: leave nothing behind
    return false;
  }
  *length = static_cast<size_t>(written) - 1;
  return true;
}

}  // namespace io
}  // namespace taskclient
