#include "platform/wince/wince_platform.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "text/utf8.h"
#include "platform/wince/secure_socket.h"

namespace taskclient {

namespace {

// The largest piece one send or recv call is handed.
const size_t kMaxPiece = INT_MAX;

// Bytes taken from the connection by one receive, in the connection's storage.
const size_t kReceiveChunk = 20000;
static_assert(kReceiveChunk <= kConnectionStorage, "the receive chunk fits the connection's storage");

// The record WSAIoctl takes: the hook and its argument, 8 bytes on the device.
static_assert(sizeof(SSLVALIDATECERTHOOK) == 2 * sizeof(void*), "the hook record is two pointers");

// The certificate rule. The secure layer calls this during the handshake in
// connect() with the server's chain; every certificate is accepted and no
// argument is looked at.
int CALLBACK AcceptAnyCertificate(DWORD /*type*/, LPVOID /*argument*/, DWORD /*chainLength*/, LPBLOB /*chain*/,
                                  DWORD /*flags*/) {
  return SSL_ERR_OKAY;
}

SOCKET SocketOf(const Connection* connection) { return static_cast<SOCKET>(connection->socket); }

FILE* StreamOf(const ResponseFile* file) { return reinterpret_cast<FILE*>(file->handle); }

// Bounds every blocking send or receive on the socket by `timeoutMs`. A stack
// without the option keeps its own behaviour, so the result is not examined.
void SetTimeout(SOCKET socket, int option, int timeoutMs) {
  DWORD milliseconds = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 1;  // 0 would mean "never"
  setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
}

}  // namespace

bool WinCePlatform::StartNetworking() {
  WSADATA data;  // filled by the call, never read
  return WSAStartup(0x0101, &data) == 0;
}

void WinCePlatform::StopNetworking() { WSACleanup(); }

bool WinCePlatform::Resolve(const char* host, uint32_t* address) {
  const struct hostent* entry = gethostbyname(host);
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
      !entry->h_addr_list[0]) {
    return false;
  }
  memcpy(address, entry->h_addr_list[0], 4);  // already in network byte order
  return true;
}

bool WinCePlatform::OpenSocket(Connection* connection) {
  SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  connection->socket = socket == INVALID_SOCKET ? kNoSocket : static_cast<intptr_t>(socket);
  return connection->socket != kNoSocket;
}

bool WinCePlatform::SetTlsMode(Connection* connection, const char* /*serverName*/) {
  // The secure layer takes no server name here: the accept-all hook makes
  // any name check moot, and whether the name goes into the handshake is the
  // layer's own business.
  DWORD mode = SO_SEC_SSL;
  return setsockopt(SocketOf(connection), SOL_SOCKET, SO_SECURE, reinterpret_cast<const char*>(&mode),
                    sizeof mode) != SOCKET_ERROR;
}

bool WinCePlatform::InstallAcceptAllHook(Connection* connection) {
  SSLVALIDATECERTHOOK hook;
  hook.HookFunc = AcceptAnyCertificate;
  hook.pvArg = reinterpret_cast<LPVOID>(connection->socket);
  return WSAIoctl(SocketOf(connection), SO_SSL_SET_VALIDATE_CERT_HOOK, &hook, sizeof hook, 0, 0, 0, 0, 0) !=
         SOCKET_ERROR;
}

bool WinCePlatform::Connect(Connection* connection, uint32_t address, uint16_t port, int timeoutMs) {
  SOCKET socket = SocketOf(connection);
  // The handshake runs inside connect(). The send and receive limits set
  // here bound its writes and reads where the secure layer honours them; the
  // TCP connect itself lasts until the stack gives up its retries, since a
  // blocking Winsock connect takes no time limit.
  SetTimeout(socket, SO_RCVTIMEO, timeoutMs);
  SetTimeout(socket, SO_SNDTIMEO, timeoutMs);
  struct sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  return connect(socket, reinterpret_cast<const struct sockaddr*>(&peer), sizeof peer) == 0;
}

bool WinCePlatform::Send(Connection* connection, const char* bytes, size_t length, int timeoutMs) {
  SOCKET socket = SocketOf(connection);
  SetTimeout(socket, SO_SNDTIMEO, timeoutMs);
  while (length > 0) {
    int piece = static_cast<int>(length < kMaxPiece ? length : kMaxPiece);
    int sent = send(socket, bytes, piece, 0);
    if (sent <= 0) return false;  // SOCKET_ERROR, or a stack that took nothing
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

long WinCePlatform::Receive(Connection* connection, const char** bytes, int timeoutMs) {
  SOCKET socket = SocketOf(connection);
  SetTimeout(socket, SO_RCVTIMEO, timeoutMs);
  *bytes = connection->storage;
  int received = recv(socket, connection->storage, static_cast<int>(kReceiveChunk), 0);
  if (received > 0) return received;
  if (received == 0) return kReceiveClosed;
  return WSAGetLastError() == WSAETIMEDOUT ? kReceiveTimedOut : kReceiveFailed;
}

void WinCePlatform::CloseSocket(Connection* connection) {
  if (connection->socket != kNoSocket) closesocket(SocketOf(connection));
  connection->socket = kNoSocket;
}

bool WinCePlatform::OpenResponseFile(const tc_text16* path, ResponseFile* file) {
  if (!path[0]) return false;
  // Binary: the runtime must not touch line ends.
  FILE* stream = _wfopen(path, L"wb");
  file->handle = stream ? reinterpret_cast<intptr_t>(stream) : kNoFile;
  return stream != 0;
}

bool WinCePlatform::OpenFileForReading(const tc_text16* path, ResponseFile* file) {
  if (!path[0]) return false;
  FILE* stream = _wfopen(path, L"rb");
  file->handle = stream ? reinterpret_cast<intptr_t>(stream) : kNoFile;
  return stream != 0;
}

long WinCePlatform::ReadFile(ResponseFile* file, char* buffer, size_t capacity) {
  FILE* stream = StreamOf(file);
  size_t got = fread(buffer, 1, capacity, stream);
  if (got == 0 && ferror(stream)) return -1;
  return static_cast<long>(got);
}

bool WinCePlatform::WriteResponseFile(ResponseFile* file, const char* bytes, size_t length) {
  return fwrite(bytes, 1, length, StreamOf(file)) == length;
}

bool WinCePlatform::CloseResponseFile(ResponseFile* file) {
  FILE* stream = StreamOf(file);
  file->handle = kNoFile;
  return fclose(stream) == 0;  // fails when buffered bytes could not be written
}

bool WinCePlatform::Narrow(const tc_text16* text, NarrowEncoding encoding, char* output, size_t capacity,
                           size_t* length) {
  if (capacity == 0) return false;
  if (encoding == kUtf8) return Utf16ToUtf8(text, output, capacity, length);

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

namespace {

class SystemWinCePlatform : public WinCePlatform {};

SystemWinCePlatform gSystemPlatform;

}  // namespace

Platform& SystemPlatform() { return gSystemPlatform; }

}  // namespace taskclient
