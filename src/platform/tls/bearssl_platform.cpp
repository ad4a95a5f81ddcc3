// TLS by BearSSL over the system's plain sockets (os/system_io.h): POSIX
// sockets on Linux, Winsock on desktop Windows and Windows CE. The session's
// state and its record buffer live in the storage the core lends each call,
// so a call allocates nothing and nothing outlives it.
#include <bearssl.h>
#include <string.h>

#if defined(UNDER_CE)
#include <windows.h>
#endif

#include "platform/os/system_io.h"
#include "platform/system_io_platform.h"
#include "platform/tls/bearssl_certificates.h"

#if defined(UNDER_CE)
// The kernel's random generator (coredll, Windows CE 4.1 and later), which
// not every SDK header declares.
extern "C" BOOL WINAPI CeGenRandom(DWORD length, PBYTE buffer);
#endif

namespace taskclient {

namespace {

// Everything of one session, in the storage the core lends the call: the
// client engine, the certificate rule, and one record buffer for both
// directions (the exchange sends its request, then only receives).
struct TlsSession {
  br_ssl_client_context client;
  AcceptAnyCertificate rule;
#if TASKCLIENT_VERIFY_SERVER
  CheckedCertificate check;
  const char* host;  // the host the call connects to
#endif
  size_t lent;        // bytes the last Receive handed out, released by the next call
  bool established;   // the handshake completed
  unsigned char buffer[BR_SSL_BUFSIZE_MONO];
};
// A session that does not fit needs a larger TASKCLIENT_CONNECTION_STORAGE.
TASKCLIENT_STATIC_ASSERT(sizeof(TlsSession) <= kConnectionStorage, bearssl_session_fits_the_connection_storage);

// TLS 1.2 with ephemeral elliptic-curve key exchange, signed by ECDSA or RSA
// keys, and authenticated encryption only.
const uint16_t kSuites[] = {
    BR_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,       BR_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    BR_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,       BR_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    BR_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256, BR_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
};

TlsSession* SessionOf(const Connection* connection) { return static_cast<TlsSession*>(connection->session); }

br_ssl_engine_context* EngineOf(TlsSession* session) { return &session->client.eng; }

void Configure(TlsSession* session) {
  br_ssl_client_context* client = &session->client;
  br_ssl_engine_context* engine = &client->eng;
  br_ssl_client_zero(client);
  br_ssl_engine_set_versions(engine, BR_TLS12, BR_TLS12);
  br_ssl_engine_set_suites(engine, kSuites, sizeof kSuites / sizeof kSuites[0]);
  br_ssl_engine_set_hash(engine, br_sha256_ID, &br_sha256_vtable);
  br_ssl_engine_set_hash(engine, br_sha384_ID, &br_sha384_vtable);
  br_ssl_engine_set_hash(engine, br_sha512_ID, &br_sha512_vtable);
  br_ssl_engine_set_prf_sha256(engine, &br_tls12_sha256_prf);
  br_ssl_engine_set_prf_sha384(engine, &br_tls12_sha384_prf);
  br_ssl_engine_set_default_aes_gcm(engine);
  br_ssl_engine_set_default_chapol(engine);
  br_ssl_engine_set_default_ec(engine);
  br_ssl_engine_set_default_ecdsa(engine);
  br_ssl_engine_set_default_rsavrfy(engine);
  br_ssl_engine_set_buffer(engine, session->buffer, sizeof session->buffer, 0);
  session->lent = 0;
  session->established = false;
}

// BearSSL seeds its generator from the system itself where it knows how
// (RDRAND where the CPU has it, /dev/urandom on Linux, CryptGenRandom on
// Windows). Where it knows no source (Windows CE on ARM, whose build leaves
// BearSSL's CryptoAPI seeder out) the kernel's generator seeds it; without
// either, no session can be made.
bool SeedIfSystemCannot(br_ssl_engine_context* engine) {
  if (br_prng_seeder_system(0)) return true;
#if defined(UNDER_CE)
  unsigned char seed[32];
  if (!CeGenRandom(sizeof seed, seed)) return false;
  br_ssl_engine_inject_entropy(engine, seed, sizeof seed);
  return true;
#else
  (void)engine;
  return false;
#endif
}

// An address rather than a host name: not announced in the handshake. A
// dotted IPv4 address is digits and dots; an IPv6 one has colons, and hex
// digits and dots besides (no host name has a colon).
bool IsAddress(const char* name) {
  bool colon = false;
  bool hex = false;
  for (; *name; ++name) {
    char c = *name;
    if (c == ':') {
      colon = true;
    } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
      hex = true;
    } else if ((c < '0' || c > '9') && c != '.') {
      return false;
    }
  }
  return colon || !hex;
}

enum Run { kRunReady, kRunClosed, kRunFailed, kRunStalled };

// A TCP close is never the end of the session: only the peer's close_notify
// (the engine then reports itself closed) says that nothing was cut off. A
// close without it may be anyone on the path truncating the reply.
Run AfterIo(long result) { return result == kReceiveTimedOut ? kRunStalled : kRunFailed; }

// Sends the record the engine has ready, or part of it.
Run SendRecord(br_ssl_engine_context* engine, intptr_t socket, int timeoutMs) {
  size_t length = 0;
  unsigned char* record = br_ssl_engine_sendrec_buf(engine, &length);
  long sent = io::SendSome(socket, record, length, timeoutMs);
  if (sent <= 0) return sent == kReceiveTimedOut ? kRunStalled : kRunFailed;
  br_ssl_engine_sendrec_ack(engine, static_cast<size_t>(sent));
  return kRunReady;
}

// How long a run may wait on the socket: `timeoutMs` at each stall, or, for
// the handshake, `timeoutMs` in all counted from `started` (an
// io::Milliseconds() reading).
struct Limit {
  int timeoutMs;
  bool inAll;
  uint32_t started;
};

Limit EachStall(int timeoutMs) {
  Limit limit = {timeoutMs, false, 0};
  return limit;
}

Limit InAll(uint32_t started, int timeoutMs) {
  Limit limit = {timeoutMs, true, started};
  return limit;
}

int WaitAllowed(const Limit& limit) {
  return limit.inAll ? io::Remaining(limit.started, limit.timeoutMs) : limit.timeoutMs;
}

// Runs the engine until one of `wanted` (BR_SSL_SENDAPP, BR_SSL_RECVAPP) is
// available: records the engine has ready go out first, then records are
// read for it as it asks. Each wait on the socket is bounded by `limit`.
Run RunUntil(TlsSession* session, intptr_t socket, unsigned wanted, const Limit& limit) {
  br_ssl_engine_context* engine = EngineOf(session);
  for (;;) {
    unsigned state = br_ssl_engine_current_state(engine);
    if (state & BR_SSL_CLOSED) return br_ssl_engine_last_error(engine) == BR_ERR_OK ? kRunClosed : kRunFailed;
    if (state & BR_SSL_SENDREC) {
      Run sent = SendRecord(engine, socket, WaitAllowed(limit));
      // After the peer's close_notify our own answer may find it gone.
      if (sent != kRunReady) return engine->shutdown_recv ? kRunClosed : sent;
      continue;
    }
    if (state & wanted) return kRunReady;
    // Data to read while the caller wants to send: the exchange never has
    // this, and the one buffer cannot hold both.
    if (state & BR_SSL_RECVAPP) return kRunFailed;
    if (state & BR_SSL_RECVREC) {
      size_t length = 0;
      unsigned char* room = br_ssl_engine_recvrec_buf(engine, &length);
      long received = io::ReceiveSome(socket, room, length, WaitAllowed(limit));
      if (received <= 0) return AfterIo(received);
      br_ssl_engine_recvrec_ack(engine, static_cast<size_t>(received));
      continue;
    }
    // Application data is buffered while the caller wants to receive: it
    // goes out as a record, which frees the buffer.
    br_ssl_engine_flush(engine, 0);
    if (br_ssl_engine_current_state(engine) == state) return kRunFailed;  // no way on
  }
}

// Hands back the bytes the last Receive lent out.
void ReleaseLent(TlsSession* session) {
  if (session->lent == 0) return;
  br_ssl_engine_recvapp_ack(EngineOf(session), session->lent);
  session->lent = 0;
}

class BearSslPlatform : public SystemIoPlatform {
 public:
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallCertificateRule(Connection* connection);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);
  virtual void ForgetResumption(Resumption* resumption);
};

// The session's parameters stay in the engine, in the connection storage the
// call keeps for all its connections (`handle` points at them); the master
// secret is not left on the stack the call returns from.
void BearSslPlatform::ForgetResumption(Resumption* resumption) {
  if (resumption->handle) memset(resumption->handle, 0, sizeof(br_ssl_session_parameters));
  resumption->held = false;
  resumption->handle = 0;
}

bool BearSslPlatform::SetTlsMode(Connection* connection, const char* serverName) {
  TlsSession* session = reinterpret_cast<TlsSession*>(connection->storage);
  // The call's previous connection left its session's parameters in the
  // engine, in this same storage: kept across setting the engine up afresh.
  Resumption* resumption = connection->resumption;
  const bool resume = resumption && resumption->held;
  br_ssl_session_parameters previous;
  if (resume) br_ssl_engine_get_session_parameters(EngineOf(session), &previous);
  Configure(session);
  if (resume) {
    br_ssl_engine_set_session_parameters(EngineOf(session), &previous);
    memset(&previous, 0, sizeof previous);
  }
  connection->session = session;
#if TASKCLIENT_VERIFY_SERVER
  session->host = serverName;
#endif
  if (!SeedIfSystemCannot(EngineOf(session))) return false;
  // With a session to resume, its ID goes in the ClientHello and the server
  // may resume it (an abbreviated handshake: no key exchange, no
  // certificate). Seeds the generator and prepares the ClientHello, with the server name
  // unless it is an address.
  return br_ssl_client_reset(&session->client, IsAddress(serverName) ? 0 : serverName, resume ? 1 : 0) != 0;
}

bool BearSslPlatform::InstallCertificateRule(Connection* connection) {
  TlsSession* session = SessionOf(connection);
  if (!session) return false;
#if TASKCLIENT_VERIFY_SERVER
  SetUpChecking(&session->check, session->host);
  br_ssl_engine_set_x509(EngineOf(session), &session->check.vtable);
  connection->context = &session->check;
#else
  SetUpAcceptAny(&session->rule);
  br_ssl_engine_set_x509(EngineOf(session), &session->rule.vtable);
  connection->context = &session->rule;
#endif
  return true;
}

// The X.509 engine's verdict ended the handshake: one of BearSSL's
// certificate errors (BR_ERR_X509_*, 33 to 63) is the engine's last error.
bool BearSslPlatform::CertificateRefused(const Connection* connection) {
#if TASKCLIENT_VERIFY_SERVER
  TlsSession* session = SessionOf(connection);
  if (!session) return false;
  int error = br_ssl_engine_last_error(EngineOf(session));
  return error > BR_ERR_X509_OK && error < 64;
#else
  (void)connection;
  return false;
#endif
}

bool BearSslPlatform::Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs) {
  const uint32_t started = io::Milliseconds();
  TlsSession* session = SessionOf(connection);
  // The certificate rule must be in place before any certificate arrives.
  if (!session || !connection->context) return false;
  if (!io::ConnectSocket(connection->socket, address, port, timeoutMs)) return false;
  // The handshake is over once application data can be sent. It shares the
  // connect's time limit: a server that trickles its flight a byte at a time
  // cannot hold the call past it.
  if (RunUntil(session, connection->socket, BR_SSL_SENDAPP, InAll(started, timeoutMs)) != kRunReady) return false;
  session->established = true;
  return true;
}

bool BearSslPlatform::Send(Connection* connection, const char* bytes, size_t length, int timeoutMs) {
  TlsSession* session = SessionOf(connection);
  br_ssl_engine_context* engine = EngineOf(session);
  // A sequence sends after receiving: the bytes lent last are done with.
  ReleaseLent(session);
  while (length > 0) {
    if (RunUntil(session, connection->socket, BR_SSL_SENDAPP, EachStall(timeoutMs)) != kRunReady) return false;
    size_t room = 0;
    unsigned char* buffer = br_ssl_engine_sendapp_buf(engine, &room);
    size_t piece = length < room ? length : room;
    memcpy(buffer, bytes, piece);
    br_ssl_engine_sendapp_ack(engine, piece);
    bytes += piece;
    length -= piece;
  }
  // The whole request is in the engine: its last record goes out now, not
  // when more data would have filled it (there is none to come).
  br_ssl_engine_flush(engine, 0);
  for (;;) {
    unsigned state = br_ssl_engine_current_state(engine);
    if (state & BR_SSL_CLOSED) return false;
    if (!(state & BR_SSL_SENDREC)) return true;
    if (SendRecord(engine, connection->socket, timeoutMs) != kRunReady) return false;
  }
}

long BearSslPlatform::Receive(Connection* connection, const char** bytes, int timeoutMs) {
  TlsSession* session = SessionOf(connection);
  ReleaseLent(session);
  switch (RunUntil(session, connection->socket, BR_SSL_RECVAPP, EachStall(timeoutMs))) {
    case kRunReady:
      break;
    case kRunClosed:
      // close_notify: the reply's framing tells the core whether that ended
      // the reply or cut it short.
      return kReceiveClosed;
    case kRunStalled:
      return kReceiveTimedOut;
    case kRunFailed:
      return kReceiveFailed;
  }
  // The engine's own record buffer is lent to the core, not copied.
  size_t length = 0;
  unsigned char* data = br_ssl_engine_recvapp_buf(EngineOf(session), &length);
  session->lent = length;
  *bytes = reinterpret_cast<const char*>(data);
  return static_cast<long>(length);
}

void BearSslPlatform::CloseSocket(Connection* connection) {
  TlsSession* session = SessionOf(connection);
  if (session && session->established && connection->socket != kNoSocket) {
    br_ssl_engine_context* engine = EngineOf(session);
    ReleaseLent(session);
    // A session that ended without an error can be resumed on the call's
    // next connection, if the server gave it an ID: its parameters stay
    // where the engine keeps them.
    Resumption* resumption = connection->resumption;
    if (resumption) {
      resumption->held = br_ssl_engine_last_error(engine) == BR_ERR_OK && engine->session.session_id_len > 0;
      resumption->handle = &engine->session;
    }
    // One attempt at a polite close_notify, without waiting for room.
    if (!(br_ssl_engine_current_state(engine) & BR_SSL_CLOSED)) {
      br_ssl_engine_close(engine);
      if (br_ssl_engine_current_state(engine) & BR_SSL_SENDREC) SendRecord(engine, connection->socket, 0);
    }
  }
  // A handshake that did not complete may have left anything in the
  // parameters: nothing to resume.
  if (connection->resumption && !(session && session->established)) connection->resumption->held = false;
  if (connection->socket != kNoSocket) io::CloseStreamSocket(connection->socket);
  connection->session = 0;
  connection->context = 0;
  connection->socket = kNoSocket;
}

}  // namespace

Platform& SystemPlatform() { return TheBackend<BearSslPlatform>(); }

}  // namespace taskclient
