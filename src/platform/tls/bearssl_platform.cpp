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
#include "platform/system_platform.h"

#if defined(UNDER_CE)
// The kernel's random generator (coredll, Windows CE 4.1 and later), which
// not every SDK header declares.
extern "C" BOOL WINAPI CeGenRandom(DWORD length, PBYTE buffer);
#endif

#if TASKCLIENT_VERIFY_SERVER
// The trust anchors compiled in from the bundle the build named.
extern "C" const br_x509_trust_anchor* taskclient_trust_anchors(size_t* count);
#endif

namespace taskclient {

namespace {

#if TASKCLIENT_VERIFY_SERVER
// What the check needs of the server's own certificate beyond what BearSSL's
// X.509 engine judges: whether it has alternative names (without them the
// engine would match the host against the subject's CN, which OpenSSL's check
// never does) and whether its extended key usage, if it has one, allows a
// server (the engine ignores the extension). A small DER reader takes the
// certificate as its bytes arrive and descends only along the way to those
// two extensions: Certificate, tbsCertificate, [3], Extensions, Extension,
// and for the extended key usage its OCTET STRING, SEQUENCE and purposes.
struct LeafReading {
  enum Step { kTag, kLength, kLengthMore, kSkip, kCapture };
  enum Extension { kOtherExtension, kUsageExtension };
  static const unsigned kMaxDepth = 8;
  Step step;
  uint32_t position;               // bytes read so far
  uint32_t ends[kMaxDepth];        // where each open element ends
  unsigned children[kMaxDepth + 1];  // elements begun so far at each depth
  unsigned depth;                  // open elements
  unsigned char tag;               // of the element being read
  unsigned lengthBytes;            // of its long-form length, still to come
  uint32_t left;                   // bytes of its content still to skip or capture
  unsigned char captured[10];      // the start of an OID being captured
  uint32_t capturedLength;         // its whole length
  Extension extension;             // the one being read
  bool malformed;
  bool hasNames;                   // a subjectAltName extension
  bool hasUsage;                   // an extKeyUsage extension
  bool serverUsage;                // with serverAuth among its purposes
};

const unsigned char kSubjectAltNameOid[] = {0x55, 0x1D, 0x11};           // 2.5.29.17
const unsigned char kExtKeyUsageOid[] = {0x55, 0x1D, 0x25};              // 2.5.29.37
const unsigned char kServerAuthOid[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};  // 1.3.6.1.5.5.7.3.1

bool CapturedIs(const LeafReading* reading, const unsigned char* oid, size_t length) {
  return reading->capturedLength == length && memcmp(reading->captured, oid, length) == 0;
}

// A captured OID, read in full: an extension's, or a purpose of the extended
// key usage.
void Captured(LeafReading* reading) {
  if (reading->depth == 5) {
    if (CapturedIs(reading, kSubjectAltNameOid, sizeof kSubjectAltNameOid)) reading->hasNames = true;
    if (CapturedIs(reading, kExtKeyUsageOid, sizeof kExtKeyUsageOid)) reading->extension = LeafReading::kUsageExtension;
  } else if (CapturedIs(reading, kServerAuthOid, sizeof kServerAuthOid)) {
    reading->serverUsage = true;
  }
}

// Closes the open elements that end where the reading is.
void CloseEnded(LeafReading* reading) {
  while (reading->depth > 0 && reading->position == reading->ends[reading->depth - 1]) --reading->depth;
}

// The header of an element has been read (its content is `length` bytes):
// descends into it, captures it or skips it, by where it stands.
void Begin(LeafReading* reading, uint32_t length) {
  unsigned depth = reading->depth;
  unsigned index = reading->children[depth]++;
  unsigned char tag = reading->tag;
  if (depth > 0 && length > reading->ends[depth - 1] - reading->position) {
    reading->malformed = true;
    return;
  }
  bool usage = reading->extension == LeafReading::kUsageExtension;
  bool descend = false, capture = false;
  switch (depth) {
    case 0:  // Certificate
    case 1:  // tbsCertificate, its first element
      descend = tag == 0x30 && index == 0;
      break;
    case 2:  // [3], the extensions
      descend = tag == 0xA3;
      break;
    case 3:  // Extensions
      descend = tag == 0x30;
      break;
    case 4:  // an Extension
      descend = tag == 0x30;
      reading->extension = LeafReading::kOtherExtension;
      break;
    case 5:  // extnID, critical, extnValue
      capture = tag == 0x06;
      descend = tag == 0x04 && usage;
      break;
    case 6:  // the extended key usage's purposes
      descend = tag == 0x30 && usage;
      if (descend) reading->hasUsage = true;
      break;
    case 7:  // one purpose
      capture = tag == 0x06 && usage;
      break;
  }
  reading->left = length;
  reading->step = LeafReading::kSkip;
  if (descend) {
    reading->ends[depth] = reading->position + length;
    reading->children[depth + 1] = 0;
    reading->depth = depth + 1;
    reading->step = LeafReading::kTag;
  } else if (capture) {
    reading->capturedLength = length;
    reading->step = LeafReading::kCapture;
    if (length == 0) Captured(reading);
  }
  if (length == 0) {
    reading->step = LeafReading::kTag;
    CloseEnded(reading);
  }
}

void StartReading(LeafReading* reading) {
  memset(reading, 0, sizeof *reading);
  reading->step = LeafReading::kTag;
}

void Read(LeafReading* reading, const unsigned char* bytes, size_t length) {
  while (length > 0 && !reading->malformed) {
    if (reading->step == LeafReading::kSkip) {
      uint32_t piece = length < reading->left ? static_cast<uint32_t>(length) : reading->left;
      bytes += piece;
      length -= piece;
      reading->position += piece;
      reading->left -= piece;
      if (reading->left == 0) {
        reading->step = LeafReading::kTag;
        CloseEnded(reading);
      }
      continue;
    }
    unsigned char byte = *bytes++;
    --length;
    ++reading->position;
    switch (reading->step) {
      case LeafReading::kTag:
        // A certificate holds nothing past its one outer element, and no
        // tag number above 30; deeper than the way down is never opened.
        if ((reading->depth == 0 && reading->children[0] > 0) || (byte & 0x1F) == 0x1F ||
            reading->depth >= LeafReading::kMaxDepth) {
          reading->malformed = true;
          break;
        }
        reading->tag = byte;
        reading->step = LeafReading::kLength;
        break;
      case LeafReading::kLength:
        if (byte < 0x80) {
          Begin(reading, byte);
        } else {
          reading->lengthBytes = byte & 0x7Fu;
          reading->left = 0;
          reading->step = LeafReading::kLengthMore;
          if (reading->lengthBytes == 0 || reading->lengthBytes > 3) reading->malformed = true;
        }
        break;
      case LeafReading::kLengthMore:
        reading->left = (reading->left << 8) | byte;
        if (--reading->lengthBytes == 0) Begin(reading, reading->left);
        break;
      case LeafReading::kCapture: {
        uint32_t at = reading->capturedLength - reading->left;
        if (at < sizeof reading->captured) reading->captured[at] = byte;
        if (--reading->left == 0) {
          Captured(reading);
          reading->step = LeafReading::kTag;
          CloseEnded(reading);
        }
        break;
      }
      case LeafReading::kSkip:
        break;
    }
  }
}

// The certificate rule of a build that checks the server: BearSSL's X.509
// engine judges the chain against the compiled-in anchors, its dates against
// the device's clock, and the name against the host the call connects to;
// SetUpChecking and the reading above hold it to what OpenSSL's check
// refuses too. BearSSL hands the engine the name it announced, which is none
// for an address; this wrapper gives it the host itself, so an address is
// checked too (and refused: the engine matches host names only).
struct CheckedCertificate {
  const br_x509_class* vtable;  // first: BearSSL hands back a pointer to it
  br_x509_minimal_context minimal;
  const char* host;
  unsigned certificates;  // begun so far in the chain
  LeafReading leaf;
};

CheckedCertificate* CheckOf(const br_x509_class** context) {
  return reinterpret_cast<CheckedCertificate*>(context);
}

const br_x509_class** Inner(const br_x509_class** context) { return &CheckOf(context)->minimal.vtable; }

void CheckedStartChain(const br_x509_class** context, const char* /*announced*/) {
  CheckOf(context)->certificates = 0;
  (*Inner(context))->start_chain(Inner(context), CheckOf(context)->host);
}
void CheckedStartCertificate(const br_x509_class** context, uint32_t length) {
  if (CheckOf(context)->certificates++ == 0) StartReading(&CheckOf(context)->leaf);
  (*Inner(context))->start_cert(Inner(context), length);
}
void CheckedAppend(const br_x509_class** context, const unsigned char* bytes, size_t length) {
  if (CheckOf(context)->certificates == 1) Read(&CheckOf(context)->leaf, bytes, length);
  (*Inner(context))->append(Inner(context), bytes, length);
}
void CheckedEndCertificate(const br_x509_class** context) { (*Inner(context))->end_cert(Inner(context)); }

// The engine's verdict, then the server certificate's names and usage: zero
// accepts the chain.
unsigned CheckedEndChain(const br_x509_class** context) {
  unsigned verdict = (*Inner(context))->end_chain(Inner(context));
  if (verdict != BR_ERR_OK) return verdict;
  const LeafReading& leaf = CheckOf(context)->leaf;
  if (leaf.malformed || leaf.depth != 0) return BR_ERR_X509_UNEXPECTED;
  if (!leaf.hasNames) return BR_ERR_X509_BAD_SERVER_NAME;
  if (leaf.hasUsage && !leaf.serverUsage) return BR_ERR_X509_FORBIDDEN_KEY_USAGE;
  return BR_ERR_OK;
}
const br_x509_pkey* CheckedServerKey(const br_x509_class* const* context, unsigned* usages) {
  const br_x509_class** inner = Inner(const_cast<const br_x509_class**>(context));
  return (*inner)->get_pkey(inner, usages);
}

const br_x509_class kCheckedCertificate = {
    sizeof(CheckedCertificate), CheckedStartChain, CheckedStartCertificate, CheckedAppend, CheckedEndCertificate,
    CheckedEndChain,            CheckedServerKey,
};

void SetUpChecking(CheckedCertificate* check, const char* host) {
  size_t count = 0;
  const br_x509_trust_anchor* anchors = taskclient_trust_anchors(&count);
  br_x509_minimal_context* minimal = &check->minimal;
  br_x509_minimal_init(minimal, &br_sha256_vtable, anchors, count);
  // No SHA-1: a certificate signed with it is refused as unsupported. An
  // anchor's own signature is never checked.
  br_x509_minimal_set_hash(minimal, br_sha224_ID, &br_sha224_vtable);
  br_x509_minimal_set_hash(minimal, br_sha256_ID, &br_sha256_vtable);
  br_x509_minimal_set_hash(minimal, br_sha384_ID, &br_sha384_vtable);
  br_x509_minimal_set_hash(minimal, br_sha512_ID, &br_sha512_vtable);
  br_x509_minimal_set_rsa(minimal, br_rsa_pkcs1_vrfy_get_default());
  br_x509_minimal_set_ecdsa(minimal, br_ec_get_default(), br_ecdsa_vrfy_asn1_get_default());
  // RSA keys of at least 2048 bits (256 bytes), in every certificate. EC keys
  // are on P-256, P-384 or P-521: the engine refuses any other curve.
  br_x509_minimal_set_minrsa(minimal, 256);
#if defined(UNDER_CE)
  // Windows CE's build of BearSSL has no clock of its own: the device's
  // clock, as days since January 1st of year 0 and seconds in the day.
  SYSTEMTIME now;
  FILETIME ticks;
  GetSystemTime(&now);
  if (SystemTimeToFileTime(&now, &ticks)) {
    uint64_t seconds = ((static_cast<uint64_t>(ticks.dwHighDateTime) << 32) | ticks.dwLowDateTime) / 10000000u;
    br_x509_minimal_set_time(minimal, static_cast<uint32_t>(584754u + seconds / 86400u),
                             static_cast<uint32_t>(seconds % 86400u));
  }
#endif
  check->vtable = &kCheckedCertificate;
  check->host = host;
}
#endif

// The certificate rule as an X.509 engine for BearSSL: every chain is
// accepted, nothing in it is judged (issuer, dates, names, usages). The
// server's public key, which the handshake needs to check the server's key
// exchange signature, is taken from the first (end-entity) certificate.
struct AcceptAnyCertificate {
  const br_x509_class* vtable;  // first: BearSSL hands back a pointer to it
  br_x509_decoder_context decoder;
  unsigned certificates;  // seen so far in the chain
};

AcceptAnyCertificate* RuleOf(const br_x509_class** context) {
  return reinterpret_cast<AcceptAnyCertificate*>(context);
}

void StartChain(const br_x509_class** context, const char* /*serverName*/) { RuleOf(context)->certificates = 0; }

void StartCertificate(const br_x509_class** context, uint32_t /*length*/) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) br_x509_decoder_init(&rule->decoder, 0, 0);
}

void AppendCertificate(const br_x509_class** context, const unsigned char* bytes, size_t length) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) br_x509_decoder_push(&rule->decoder, bytes, length);
}

void EndCertificate(const br_x509_class** context) { ++RuleOf(context)->certificates; }

// Zero accepts the chain. Only a chain without a certificate, or whose first
// certificate holds no key BearSSL can read, is refused: there is no key to
// go on with.
unsigned EndChain(const br_x509_class** context) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) return BR_ERR_X509_EMPTY_CHAIN;
  return static_cast<unsigned>(br_x509_decoder_last_error(&rule->decoder));
}

const br_x509_pkey* ServerKey(const br_x509_class* const* context, unsigned* usages) {
  if (usages) *usages = BR_KEYTYPE_KEYX | BR_KEYTYPE_SIGN;
  return br_x509_decoder_get_pkey(&RuleOf(const_cast<const br_x509_class**>(context))->decoder);
}

const br_x509_class kAcceptAnyCertificate = {
    sizeof(AcceptAnyCertificate), StartChain, StartCertificate, AppendCertificate, EndCertificate, EndChain,
    ServerKey,
};

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
Run AfterIo(long result) { return result == io::kIoTimedOut ? kRunStalled : kRunFailed; }

// Sends the record the engine has ready, or part of it.
Run SendRecord(br_ssl_engine_context* engine, intptr_t socket, int timeoutMs) {
  size_t length = 0;
  unsigned char* record = br_ssl_engine_sendrec_buf(engine, &length);
  long sent = io::SendSome(socket, record, length, timeoutMs);
  if (sent <= 0) return sent == io::kIoTimedOut ? kRunStalled : kRunFailed;
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
};

bool BearSslPlatform::SetTlsMode(Connection* connection, const char* serverName) {
  TlsSession* session = reinterpret_cast<TlsSession*>(connection->storage);
  Configure(session);
  connection->session = session;
#if TASKCLIENT_VERIFY_SERVER
  session->host = serverName;
#endif
  if (!SeedIfSystemCannot(EngineOf(session))) return false;
  // Seeds the generator and prepares the ClientHello, with the server name
  // unless it is an address.
  return br_ssl_client_reset(&session->client, IsAddress(serverName) ? 0 : serverName, 0) != 0;
}

bool BearSslPlatform::InstallCertificateRule(Connection* connection) {
  TlsSession* session = SessionOf(connection);
  if (!session) return false;
#if TASKCLIENT_VERIFY_SERVER
  SetUpChecking(&session->check, session->host);
  br_ssl_engine_set_x509(EngineOf(session), &session->check.vtable);
  connection->context = &session->check;
#else
  session->rule.vtable = &kAcceptAnyCertificate;
  session->rule.certificates = 0;
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
    // One attempt at a polite close_notify, without waiting for room.
    if (!(br_ssl_engine_current_state(engine) & BR_SSL_CLOSED)) {
      br_ssl_engine_close(engine);
      if (br_ssl_engine_current_state(engine) & BR_SSL_SENDREC) SendRecord(engine, connection->socket, 0);
    }
  }
  if (connection->socket != kNoSocket) io::CloseStreamSocket(connection->socket);
  connection->session = 0;
  connection->context = 0;
  connection->socket = kNoSocket;
}

}  // namespace

Platform& SystemPlatform() { return TheBackend<BearSslPlatform>(); }

}  // namespace taskclient
