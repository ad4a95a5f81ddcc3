#include "platform/wince/wince_platform.h"

#include <limits.h>
#include <string.h>

#include "platform/system_io.h"
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

#if !defined(TASKCLIENT_VERIFY_SERVER) || !TASKCLIENT_VERIFY_SERVER
// The certificate rule. The secure layer calls this during the handshake in
// connect() with the server's chain; every certificate is accepted and no
// argument is looked at.
int CALLBACK AcceptAnyCertificate(DWORD /*type*/, LPVOID /*argument*/, DWORD /*chainLength*/, LPBLOB /*chain*/,
                                  DWORD /*flags*/) {
  return SSL_ERR_OKAY;
}
#endif

#if defined(TASKCLIENT_VERIFY_SERVER) && TASKCLIENT_VERIFY_SERVER
// The certificate rule of a build that checks the server: only a chain the
// secure layer itself found valid is accepted. Any flag it passes names a
// fault it found (an unknown issuer, a wrong name, a date); the refusal is
// noted in the byte the argument points to, for CertificateRefused.
int CALLBACK AcceptValidCertificate(DWORD /*type*/, LPVOID argument, DWORD /*chainLength*/, LPBLOB /*chain*/,
                                    DWORD flags) {
  if (flags == 0) return SSL_ERR_OKAY;
  *static_cast<char*>(argument) = 1;
  return SSL_ERR_CERT_UNKNOWN;
}
#endif

SOCKET SocketOf(const Connection* connection) { return static_cast<SOCKET>(connection->socket); }

// Bounds every blocking send or receive on the socket by `timeoutMs`. A stack
// without the option keeps its own behaviour, so the result is not examined.
void SetTimeout(SOCKET socket, int option, int timeoutMs) {
  DWORD milliseconds = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 1;  // 0 would mean "never"
  setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
}

}  // namespace

bool WinCePlatform::OpenSocket(Connection* connection) {
  SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  connection->socket = socket == INVALID_SOCKET ? kNoSocket : static_cast<intptr_t>(socket);
  return connection->socket != kNoSocket;
}

bool WinCePlatform::SetTlsMode(Connection* connection, const char* serverName) {
  DWORD mode = SO_SEC_SSL;
  if (setsockopt(SocketOf(connection), SOL_SOCKET, SO_SECURE, reinterpret_cast<const char*>(&mode), sizeof mode) ==
      SOCKET_ERROR) {
    return false;
  }
  // The host name, for a secure layer that announces it in the handshake
  // (server name indication) or checks it against the certificate. The
  // accept-all hook has the last word on the certificate either way, and a
  // layer that does not know the control code refuses it: its result is not
  // examined.
  WSAIoctl(SocketOf(connection), SO_SSL_SET_PEERNAME, const_cast<char*>(serverName),
           static_cast<DWORD>(strlen(serverName) + 1), 0, 0, 0, 0, 0);
  return true;
}

bool WinCePlatform::InstallAcceptAllHook(Connection* connection) {
  SSLVALIDATECERTHOOK hook;
#if defined(TASKCLIENT_VERIFY_SERVER) && TASKCLIENT_VERIFY_SERVER
  // The storage is free until the handshake is over: its first byte records
  // a refusal.
  connection->storage[0] = 0;
  hook.HookFunc = AcceptValidCertificate;
  hook.pvArg = connection->storage;
#else
  hook.HookFunc = AcceptAnyCertificate;
  hook.pvArg = reinterpret_cast<LPVOID>(connection->socket);
#endif
  return WSAIoctl(SocketOf(connection), SO_SSL_SET_VALIDATE_CERT_HOOK, &hook, sizeof hook, 0, 0, 0, 0, 0) !=
         SOCKET_ERROR;
}

bool WinCePlatform::CertificateRefused(const Connection* connection) {
#if defined(TASKCLIENT_VERIFY_SERVER) && TASKCLIENT_VERIFY_SERVER
  return connection->storage[0] != 0;
#else
  (void)connection;
  return false;
#endif
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

namespace {

class SystemWinCePlatform : public WinCePlatform {};

SystemWinCePlatform gSystemPlatform;

}  // namespace

Platform& SystemPlatform() { return gSystemPlatform; }

}  // namespace taskclient
