// The device: Winsock with the platform's secure sockets for TLS. Desktop
// Windows compiles the same code (the secure-socket calls then fail at run
// time); only the device runs it. The socket is a blocking one: the secure
// layer's handshake runs inside connect().
//
// The secure-socket interface is the socket option that puts a socket in TLS
// mode, the control code that installs a certificate-validation hook and the
// one that names the server. The device SDK declares them in <sslsock.h>;
// where that header is missing (desktop Windows, or an SDK that leaves it
// out) the few values are defined here from their documented values.
// TASKCLIENT_HAVE_SSLSOCK_H set to 1 uses the SDK's header, 0 uses ours; left
// undefined, the compiler is asked (__has_include) where it can tell.
#include <winsock2.h>
#include <windows.h>

#include <string.h>

#if !defined(TASKCLIENT_HAVE_SSLSOCK_H)
#if defined(__has_include)
#if __has_include(<sslsock.h>)
#define TASKCLIENT_HAVE_SSLSOCK_H 1
#endif
#endif
#endif

#if defined(TASKCLIENT_HAVE_SSLSOCK_H) && TASKCLIENT_HAVE_SSLSOCK_H
#include <sslsock.h>
#else

// Socket option (level SOL_SOCKET) selecting the socket's security protocol,
// and its value for SSL/TLS.
#ifndef SO_SECURE
#define SO_SECURE 0x2001
#endif
#ifndef SO_SEC_SSL
#define SO_SEC_SSL 0x2004
#endif

// WSAIoctl code installing the hook the secure layer calls to have the
// server's certificate chain accepted or rejected.
#ifndef SO_SSL_SET_VALIDATE_CERT_HOOK
#define SO_SSL_SET_VALIDATE_CERT_HOOK 0x90730008
#endif

// The hook's answers: the certificate accepted, or refused as unknown.
#ifndef SSL_ERR_OKAY
#define SSL_ERR_OKAY 0
#endif
#ifndef SSL_ERR_CERT_UNKNOWN
#define SSL_ERR_CERT_UNKNOWN 8
#endif

// The hook: certificate type, the hook argument, chain length, the chain,
// flags.
typedef int(CALLBACK* SSLVALIDATECERTFUNC)(DWORD dwType, LPVOID pvArg, DWORD dwChainLen, LPBLOB pCertChain,
                                            DWORD dwFlags);

// The record handed to SO_SSL_SET_VALIDATE_CERT_HOOK: the hook, then its
// argument (two pointer-sized fields, 8 bytes on the device).
typedef struct {
  SSLVALIDATECERTFUNC HookFunc;
  LPVOID pvArg;
} SSLVALIDATECERTHOOK, *PSSLVALIDATECERTHOOK;

#endif

// WSAIoctl code handing the secure layer the server's host name (a
// NUL-terminated narrow string), from Windows CE 5.0 on. Composed as the
// SDK's header composes it: IOC_OUT (0x40000000), the secure-socket vendor
// family ((2 << 27) | 0x730000) and the peer-name tag 0x0f. An SDK header
// older than the control code leaves it out, hence the value here.
#ifndef SO_SSL_SET_PEERNAME
#define SO_SSL_SET_PEERNAME 0x5073000F
#endif

#include "platform/os/system_io.h"
#include "platform/system_io_platform.h"

namespace taskclient {

namespace {

TASKCLIENT_STATIC_ASSERT(kReceiveChunk <= kConnectionStorage, receive_chunk_fits_the_connection_storage);

// The record WSAIoctl takes: the hook and its argument, 8 bytes on the device.
TASKCLIENT_STATIC_ASSERT(sizeof(SSLVALIDATECERTHOOK) == 2 * sizeof(void*), hook_record_is_two_pointers);

#if TASKCLIENT_VERIFY_SERVER
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
#else
// The certificate rule. The secure layer calls this during the handshake in
// connect() with the server's chain; every certificate is accepted and no
// argument is looked at.
int CALLBACK AcceptAnyCertificate(DWORD /*type*/, LPVOID /*argument*/, DWORD /*chainLength*/, LPBLOB /*chain*/,
                                  DWORD /*flags*/) {
  return SSL_ERR_OKAY;
}
#endif

SOCKET SocketOf(const Connection* connection) { return static_cast<SOCKET>(connection->socket); }

// Bounds every blocking send or receive on the socket by `timeoutMs`. A stack
// without the option keeps its own behaviour, so the result is not examined.
void SetTimeout(SOCKET socket, int option, int timeoutMs) {
  DWORD milliseconds = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 1;  // 0 would mean "never"
  setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
}

class SecureSocketsPlatform : public SystemIoPlatform {
 public:
  virtual bool Resolve(const char* host, AddressList* addresses);
  virtual bool OpenSocket(Connection* connection, int family);
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallCertificateRule(Connection* connection);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);
};

// The secure layer's own lookup, gethostbyname: every IPv4 address the host
// has, in the order given (the layer is the device's IPv4 one).
bool SecureSocketsPlatform::Resolve(const char* host, AddressList* addresses) {
  addresses->count = 0;
  const struct hostent* entry = gethostbyname(host);
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list) return false;
  for (size_t i = 0; entry->h_addr_list[i] && addresses->count < kMaxAddresses; ++i) {
    Address* address = &addresses->entries[addresses->count++];
    address->family = kIpv4;
    memcpy(address->bytes, entry->h_addr_list[i], 4);  // already in network byte order
  }
  return addresses->count > 0;
}

// A blocking socket, unlike the OS layer's: the handshake runs inside it.
bool SecureSocketsPlatform::OpenSocket(Connection* connection, int family) {
  SOCKET socket = ::socket(family == kIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  connection->socket = socket == INVALID_SOCKET ? kNoSocket : static_cast<intptr_t>(socket);
  return connection->socket != kNoSocket;
}

bool SecureSocketsPlatform::SetTlsMode(Connection* connection, const char* serverName) {
  DWORD mode = SO_SEC_SSL;
  if (setsockopt(SocketOf(connection), SOL_SOCKET, SO_SECURE, reinterpret_cast<const char*>(&mode), sizeof mode) ==
      SOCKET_ERROR) {
    return false;
  }
  // The host name, for a secure layer that announces it in the handshake
  // (server name indication) or checks it against the certificate. The
  // certificate hook has the last word on the certificate either way, and a
  // layer that does not know the control code refuses it: its result is not
  // examined.
  WSAIoctl(SocketOf(connection), SO_SSL_SET_PEERNAME, const_cast<char*>(serverName),
           static_cast<DWORD>(strlen(serverName) + 1), 0, 0, 0, 0, 0);
  return true;
}

bool SecureSocketsPlatform::InstallCertificateRule(Connection* connection) {
  SSLVALIDATECERTHOOK hook;
#if TASKCLIENT_VERIFY_SERVER
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

bool SecureSocketsPlatform::CertificateRefused(const Connection* connection) {
#if TASKCLIENT_VERIFY_SERVER
  return connection->storage[0] != 0;
#else
  (void)connection;
  return false;
#endif
}

bool SecureSocketsPlatform::Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs) {
  SOCKET socket = SocketOf(connection);
  // The handshake runs inside connect(). The send and receive limits set
  // here bound each of its writes and reads where the secure layer honours
  // them, not the handshake as a whole; the TCP connect itself lasts until
  // the stack gives up its retries, since a blocking Winsock connect takes no
  // time limit. Each address tried gets what is left of the connect budget.
  SetTimeout(socket, SO_RCVTIMEO, timeoutMs);
  SetTimeout(socket, SO_SNDTIMEO, timeoutMs);
  return io::ConnectSocket(connection->socket, address, port, timeoutMs);
}

bool SecureSocketsPlatform::Send(Connection* connection, const char* bytes, size_t length, int timeoutMs) {
  SetTimeout(SocketOf(connection), SO_SNDTIMEO, timeoutMs);
  while (length > 0) {
    long sent = io::SendSome(connection->socket, reinterpret_cast<const unsigned char*>(bytes), length, timeoutMs);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

long SecureSocketsPlatform::Receive(Connection* connection, const char** bytes, int timeoutMs) {
  SetTimeout(SocketOf(connection), SO_RCVTIMEO, timeoutMs);
  *bytes = connection->storage;
  long received = io::ReceiveSome(connection->socket, reinterpret_cast<unsigned char*>(connection->storage),
                                  kReceiveChunk, timeoutMs);
  // The system's secure sockets do not tell a close_notify from a bare TCP
  // close: either reads as the end (kReceiveClosed), and the reply's framing
  // decides.
  return received;
}

void SecureSocketsPlatform::CloseSocket(Connection* connection) {
  if (connection->socket != kNoSocket) io::CloseStreamSocket(connection->socket);
  connection->socket = kNoSocket;
}

}  // namespace

Platform& SystemPlatform() { return TheBackend<SecureSocketsPlatform>(); }

}  // namespace taskclient
