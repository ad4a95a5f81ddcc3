// POSIX sockets with OpenSSL for TLS.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "platform/os/posix_io.h"
#include "platform/system_io_platform.h"

namespace taskclient {

namespace {

TASKCLIENT_STATIC_ASSERT(kReceiveChunk <= kConnectionStorage, receive_chunk_fits_the_connection_storage);

#if TASKCLIENT_VERIFY_SERVER
// OpenSSL's verdict on each certificate of the chain, with one rule added to
// those of authentication level 2 (see InstallCertificateRule): an EC key
// under 256 bits (level 2 lets P-224 through) is refused at any depth.
int CheckCertificate(int preverified, X509_STORE_CTX* store) {
  if (!preverified) return 0;
  X509* cert = X509_STORE_CTX_get_current_cert(store);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert) : 0;
  if (key && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC && EVP_PKEY_get_bits(key) < 256) {
    bool leaf = X509_STORE_CTX_get_error_depth(store) == 0;
    X509_STORE_CTX_set_error(store, leaf ? X509_V_ERR_EE_KEY_TOO_SMALL : X509_V_ERR_CA_KEY_TOO_SMALL);
    return 0;
  }
  return 1;
}
#else
// The default certificate rule: every certificate the server presents is
// accepted (device trust stores are often out of date).
int AcceptAnyCertificate(int /*preverified*/, X509_STORE_CTX* /*store*/) { return 1; }
#endif

// Socket I/O under OpenSSL. It sends with MSG_NOSIGNAL, so a peer that has
// gone away gives an error rather than a SIGPIPE that would end the host
// process, and it retries interrupted calls.
int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int SocketWrite(BIO* bio, const char* bytes, int length) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t sent = send(SocketOf(bio), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
    return -1;
  }
}

int SocketRead(BIO* bio, char* buffer, int capacity) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t received = recv(SocketOf(bio), buffer, static_cast<size_t>(capacity), 0);
    if (received >= 0) return static_cast<int>(received);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
    return -1;
  }
}

long SocketControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* MakeSocketMethod() {
  BIO_METHOD* method = BIO_meth_new(BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "taskclient socket");
  if (!method) return 0;
  BIO_meth_set_write(method, SocketWrite);
  BIO_meth_set_read(method, SocketRead);
  BIO_meth_set_ctrl(method, SocketControl);
  BIO_meth_set_create(method, SocketCreate);
  return method;
}

// What the library makes once per process and frees when it is unloaded: the
// socket method table and the TLS configuration (ClientContext). Neither holds
// anything of a call.
BIO_METHOD* gSocketMethod = 0;
SSL_CTX* gClientContext = 0;

// Publishes `made` in `*shared` unless another thread was first; returns the
// one kept and frees the other with `release`.
template <typename T>
T* KeepFirst(T** shared, T* made, void (*release)(T*)) {
  T* expected = 0;
  if (__atomic_compare_exchange_n(shared, &expected, made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return made;
  release(made);
  return expected;
}

// The method table is made on first use and never changes.
BIO_METHOD* SocketMethod() {
  BIO_METHOD* method = __atomic_load_n(&gSocketMethod, __ATOMIC_ACQUIRE);
  if (method) return method;
  BIO_METHOD* made = MakeSocketMethod();
  if (!made) return 0;
  return KeepFirst(&gSocketMethod, made, BIO_meth_free);
}

SSL_CTX* MakeClientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return 0;
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
#if TASKCLIENT_VERIFY_SERVER
  // The trust anchors: OpenSSL's default file and directory, or those that
  // SSL_CERT_FILE and SSL_CERT_DIR name when this context is made (once per
  // process, on the first call).
  if (SSL_CTX_set_default_verify_paths(context) != 1) {
    SSL_CTX_free(context);
    return 0;
  }
#endif
  return context;
}

// Frees what the library made for the process. Registered with atexit once
// the first context is kept, which is after OpenSSL has registered its own
// clean-up (it does so while making that context): handlers run in reverse
// order, so at process exit this runs while OpenSSL still works, and when the
// library is unloaded (dlclose) it runs then. Unloading while a call is still
// running on another thread is the caller's error, as for any library.
void ReleaseProcessState() {
  SSL_CTX* context = __atomic_exchange_n(&gClientContext, static_cast<SSL_CTX*>(0), __ATOMIC_ACQ_REL);
  BIO_METHOD* method = __atomic_exchange_n(&gSocketMethod, static_cast<BIO_METHOD*>(0), __ATOMIC_ACQ_REL);
  SSL_CTX_free(context);
  BIO_meth_free(method);
}

// The TLS configuration every connection is made from. Making one costs more
// than a tenth of a whole call on loopback (OpenSSL 3 fetches and sets up
// every algorithm for it; bench/README.md has the figures), so it is made once
// per process, on first use, and not changed after. It holds nothing of any
// call: the session cache is off, so no session or ticket is kept for a later
// call to resume, and what is per call (the server name, the certificate rule,
// the socket) is set on the call's own session object. Threads that race on
// first use each make one; one is kept, the others are freed. A failure is
// not remembered: the next call tries again.
SSL_CTX* ClientContext() {
  SSL_CTX* context = __atomic_load_n(&gClientContext, __ATOMIC_ACQUIRE);
  if (context) return context;
  SSL_CTX* made = MakeClientContext();
  if (!made) return 0;
  SSL_CTX* kept = KeepFirst(&gClientContext, made, SSL_CTX_free);
  static int registered = 0;
  if (kept == made && __atomic_exchange_n(&registered, 1, __ATOMIC_ACQ_REL) == 0) atexit(ReleaseProcessState);
  return kept;
}

using io::WaitFor;
using io::kReady;
using io::kTimedOut;
using io::Wait;

enum Step { kRetry, kEnded, kFailed, kStalled };

// After a TLS call that did not complete: waits for what OpenSSL asks for, or
// says why the connection cannot go on.
Step AfterTlsCall(SSL* session, int socket, int returned, int timeoutMs) {
  int error = SSL_get_error(session, returned);
  Wait wait;
  switch (error) {
    case SSL_ERROR_WANT_READ:
      wait = WaitFor(socket, POLLIN, timeoutMs);
      break;
    case SSL_ERROR_WANT_WRITE:
      wait = WaitFor(socket, POLLOUT, timeoutMs);
      break;
    case SSL_ERROR_ZERO_RETURN:
      return kEnded;  // the peer's close_notify
    // A TCP close without close_notify (OpenSSL reports it as an error) may
    // be anyone on the path cutting the reply short: a failure, never an end.
    default:
      return kFailed;
  }
  if (wait == kReady) return kRetry;
  return wait == kTimedOut ? kStalled : kFailed;
}

SSL* SessionOf(Connection* connection) { return static_cast<SSL*>(connection->session); }

int SocketOf(Connection* connection) { return static_cast<int>(connection->socket); }

class OpenSslPlatform : public SystemIoPlatform {
 public:
  virtual void StopNetworking();
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallCertificateRule(Connection* connection);
  virtual bool Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);
  virtual void ForgetResumption(Resumption* resumption);
};

void OpenSslPlatform::StopNetworking() {
  SystemIoPlatform::StopNetworking();
  // Leave no error of ours in the calling thread's OpenSSL error queue.
  ERR_clear_error();
}

bool OpenSslPlatform::SetTlsMode(Connection* connection, const char* serverName) {
  BIO_METHOD* method = SocketMethod();
  if (!method) return false;
  SSL_CTX* context = ClientContext();
  if (!context) return false;
  SSL* session = SSL_new(context);
  if (!session) return false;
  connection->session = session;
  BIO* bio = BIO_new(method);
  if (!bio) return false;
  BIO_set_data(bio, reinterpret_cast<void*>(connection->socket));
  SSL_set_bio(session, bio, bio);
  SSL_set_connect_state(session);
  // The call's previous connection left its session (a TLS 1.3 ticket, or a
  // TLS 1.2 session ID or ticket): offered to the server, which may resume it.
  Resumption* resumption = connection->resumption;
  if (resumption && resumption->held && !SSL_set_session(session, static_cast<SSL_SESSION*>(resumption->handle))) {
    return false;
  }
  // The server name goes in the handshake unless it is an address.
  struct in6_addr literal;
  bool address = inet_pton(AF_INET, serverName, &literal) == 1 || inet_pton(AF_INET6, serverName, &literal) == 1;
  if (!address && !SSL_set_tlsext_host_name(session, const_cast<char*>(serverName))) return false;
#if TASKCLIENT_VERIFY_SERVER
  // The certificate must name the host connected to in its alternative
  // names, never in the subject's CN alone: a DNS name (no partial wildcards
  // such as "w*.example.com"), or an IP address in its address SANs.
  X509_VERIFY_PARAM* check = SSL_get0_param(session);
  if (address) return X509_VERIFY_PARAM_set1_ip_asc(check, serverName) == 1;
  X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  return X509_VERIFY_PARAM_set1_host(check, serverName, 0) == 1;
#else
  return true;
#endif
}

bool OpenSslPlatform::InstallCertificateRule(Connection* connection) {
  SSL* session = SessionOf(connection);
  if (!session) return false;
#if TASKCLIENT_VERIFY_SERVER
  // OpenSSL's own check: the chain up to a trust anchor of the context, the
  // validity dates, the name SetTlsMode set, and the server purpose (an
  // extended key usage, where there is one, must allow serverAuth; every
  // issuer must be a CA). Authentication level 2, whatever the system's
  // security level: no SHA-1 signature (but a self-signed anchor's own), no
  // RSA key under 2048 bits; CheckCertificate adds EC keys under 256 bits.
  // The level of the handshake itself (ciphers, groups) stays the system's.
  // A failure ends the handshake.
  X509_VERIFY_PARAM* check = SSL_get0_param(session);
  if (X509_VERIFY_PARAM_set_purpose(check, X509_PURPOSE_SSL_SERVER) != 1) return false;
  X509_VERIFY_PARAM_set_auth_level(check, 2);
  SSL_set_verify(session, SSL_VERIFY_PEER, CheckCertificate);
#else
  SSL_set_verify(session, SSL_VERIFY_PEER, AcceptAnyCertificate);
#endif
  return true;
}

bool OpenSslPlatform::CertificateRefused(const Connection* connection) {
#if TASKCLIENT_VERIFY_SERVER
  // The verdict OpenSSL recorded for the chain; it stays X509_V_OK when the
  // handshake failed before any certificate was checked.
  const SSL* session = static_cast<const SSL*>(connection->session);
  return session && SSL_get_verify_result(session) != X509_V_OK;
#else
  // Accepting every certificate, this build refuses none, whatever OpenSSL
  // recorded about the chain.
  (void)connection;
  return false;
#endif
}

// The TCP connect and the whole handshake share `timeoutMs`: each wait gets
// what is left of it, so a server that trickles its flight a byte at a time
// cannot hold the call past it.
bool OpenSslPlatform::Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs) {
  const uint32_t started = io::Milliseconds();
  if (!io::ConnectSocket(connection->socket, address, port, timeoutMs)) return false;
  int socket = SocketOf(connection);
  SSL* session = SessionOf(connection);
  for (;;) {
    ERR_clear_error();
    int returned = SSL_connect(session);
    if (returned == 1) return true;
    if (AfterTlsCall(session, socket, returned, io::Remaining(started, timeoutMs)) != kRetry) return false;
  }
}

bool OpenSslPlatform::Send(Connection* connection, const char* bytes, size_t length, int timeoutMs) {
  SSL* session = SessionOf(connection);
  for (;;) {
    ERR_clear_error();
    size_t written = 0;
    int returned = SSL_write_ex(session, bytes, length, &written);
    if (returned == 1) return written == length;
    if (AfterTlsCall(session, SocketOf(connection), returned, timeoutMs) != kRetry) return false;
  }
}

long OpenSslPlatform::Receive(Connection* connection, const char** bytes, int timeoutMs) {
  SSL* session = SessionOf(connection);
  *bytes = connection->storage;
  for (;;) {
    ERR_clear_error();
    size_t received = 0;
    int returned = SSL_read_ex(session, connection->storage, kReceiveChunk, &received);
    if (returned == 1) return static_cast<long>(received);
    switch (AfterTlsCall(session, SocketOf(connection), returned, timeoutMs)) {
      case kRetry:
        continue;
      case kEnded:
        return kReceiveClosed;
      case kStalled:
        return kReceiveTimedOut;
      case kFailed:
        return kReceiveFailed;
    }
  }
}

// Keeps `kept` for the call's next connection in place of what was held, if
// it can be resumed; frees whichever is not kept.
void KeepSession(Resumption* resumption, SSL_SESSION* kept) {
  if (!kept) return;
  if (!SSL_SESSION_is_resumable(kept)) {
    SSL_SESSION_free(kept);
    return;
  }
  if (resumption->held) SSL_SESSION_free(static_cast<SSL_SESSION*>(resumption->handle));
  resumption->handle = kept;
  resumption->held = true;
}

void OpenSslPlatform::ForgetResumption(Resumption* resumption) {
  if (resumption->held) SSL_SESSION_free(static_cast<SSL_SESSION*>(resumption->handle));
  resumption->held = false;
  resumption->handle = 0;
}

void OpenSslPlatform::CloseSocket(Connection* connection) {
  SSL* session = SessionOf(connection);
  if (session) {
    // One attempt at a polite close_notify; the socket is non-blocking, so
    // this never waits for the peer.
    if (SSL_is_init_finished(session)) {
      SSL_shutdown(session);
      // What the session leaves to resume, taken at the close: a TLS 1.3
      // server's tickets arrive after the handshake, with the replies.
      if (connection->resumption) KeepSession(connection->resumption, SSL_get1_session(session));
    }
    SSL_free(session);  // frees the socket BIO with it
  }
  if (connection->socket != kNoSocket) io::CloseStreamSocket(connection->socket);
  connection->session = 0;
  connection->context = 0;
  connection->socket = kNoSocket;
  ERR_clear_error();
}

}  // namespace

Platform& SystemPlatform() { return TheBackend<OpenSslPlatform>(); }

}  // namespace taskclient
