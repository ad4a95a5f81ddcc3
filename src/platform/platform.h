// The operations the exchange needs from the platform it runs on. The core
// calls nothing else: sockets, TLS, files and the conversion to the system's
// code page all come through here. A build's platform is one TLS backend (tls/) over its
// system's OS layer (os/); tests plug in a scripted one.
#ifndef TASKCLIENT_PLATFORM_PLATFORM_H
#define TASKCLIENT_PLATFORM_PLATFORM_H

#include <stddef.h>

#include "portable.h"
#include "taskclient.h"

namespace taskclient {

// What Connection::socket and File::handle hold while nothing is held:
// before the platform has made one, after it failed to, and after release.
const intptr_t kNoSocket = -1;
const intptr_t kNoFile = -1;

// Bytes of storage the core lends the platform for one call, aligned for any
// type: the platform delivers received bytes in it and, where it supplies TLS
// itself, keeps the session's state and record buffer there. A build whose
// platform needs more room sets TASKCLIENT_CONNECTION_STORAGE.
#ifndef TASKCLIENT_CONNECTION_STORAGE
#define TASKCLIENT_CONNECTION_STORAGE 20000
#endif
const size_t kConnectionStorage = TASKCLIENT_CONNECTION_STORAGE;

// What the call keeps of its TLS session between its connections, in the
// call's own storage: the platform marks it held as a connection closes with
// a session the next one may resume, offers that session as it sets up the
// next connection, and forgets it (ForgetResumption) before the call
// returns. Nothing of it outlives the call. Where the session's parameters
// live is the platform's affair: in an object of its TLS library (`handle`),
// or in the connection's storage, which the call keeps for all its
// connections.
struct Resumption {
  bool held;     // the platform left something to resume
  void* handle;  // the platform's own record of it, or null
};

// A connection as the platform keeps it. The core only passes it around.
struct Connection {
  intptr_t socket;
  void* session;  // the platform's TLS session, where the platform supplies TLS itself
  void* context;  // the platform's TLS configuration for that session
  char* storage;  // kConnectionStorage bytes, the call's own
  // Null, or the call's record of its TLS session: SetTlsMode offers what it
  // holds to the handshake, CloseSocket replaces it with what the closing
  // session leaves to resume.
  Resumption* resumption;
};

struct File {
  intptr_t handle;
};

// An address a host resolved to: its family (kIpv4 or kIpv6) and its bytes in
// network order, the first 4 of them for IPv4.
enum { kIpv4 = 4, kIpv6 = 6 };
struct Address {
  int family;
  unsigned char bytes[16];
};

// The addresses one lookup keeps, in the resolver's order: the first
// kMaxAddresses, enough for any host the library talks to. Filled by the
// platform in the core's own storage, so the core holds no system type.
const size_t kMaxAddresses = 8;
struct AddressList {
  size_t count;
  Address entries[kMaxAddresses];
};

// Outcome of a receive that did not deliver bytes.
enum {
  kReceiveClosed = 0,     // the peer ended the TLS session with close_notify
                          // (a TCP close without it is kReceiveFailed)
  kReceiveFailed = -1,    // the connection broke
  kReceiveTimedOut = -2   // nothing arrived within the time allowed
};

class Platform {
 public:
  // Networking for the duration of one call. Stop is called exactly once for
  // every successful Start.
  virtual bool StartNetworking() = 0;
  virtual void StopNetworking() = 0;

  // Resolves `host` to its addresses, IPv6 and IPv4, in the order the
  // system's resolver gives them, as many as the list holds. False when
  // there is none.
  virtual bool Resolve(const char* host, AddressList* addresses) = 0;

  // Creates a stream socket for an address of `family`; on failure the
  // socket stays kNoSocket.
  virtual bool OpenSocket(Connection* connection, int family) = 0;
  // Puts the socket in TLS mode; `serverName` is the name the handshake
  // announces.
  virtual bool SetTlsMode(Connection* connection, const char* serverName) = 0;
  // Installs the certificate rule of this build: by default one that accepts
  // every certificate; with TASKCLIENT_VERIFY_SERVER, the platform's own
  // check of the chain and of the name given to SetTlsMode.
  virtual bool InstallCertificateRule(Connection* connection) = 0;
  // TCP connect to `address` and TLS handshake, both within `timeoutMs` in
  // all, however the time is spread over the two.
  virtual bool Connect(Connection* connection, const Address& address, uint16_t port, int timeoutMs) = 0;
  // After Connect failed: whether the TLS library refused the server's
  // certificate, as against any other failure. Only a platform that checks
  // certificates can say yes.
  virtual bool CertificateRefused(const Connection* /*connection*/) { return false; }
  // Milliseconds on a clock that only goes forward, wrapping around at 2^32:
  // the core measures the time connecting takes on it.
  virtual uint32_t Milliseconds() = 0;
  // Sends all `length` bytes, or fails.
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs) = 0;
  // Receives the next bytes of the reply into room of the platform's own
  // choosing within the connection's storage and points `*bytes` at them.
  // Returns their count (> 0) or one of kReceive*. The bytes stay valid until
  // the next call on the connection.
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs) = 0;
  // Releases the socket and its TLS session and sets the socket to kNoSocket.
  // Called for any connection whose socket is not kNoSocket, after any step.
  virtual void CloseSocket(Connection* connection) = 0;
  // Releases what `resumption` holds and empties it. Called once at the end
  // of every call that lent its connections one, after the last CloseSocket.
  // A platform that resumes nothing keeps nothing in it.
  virtual void ForgetResumption(Resumption* resumption) {
    resumption->held = false;
    resumption->handle = 0;
  }

  // Creates or empties the file at the 16-bit `path`, for binary writing; on
  // failure the handle stays kNoFile. The open never waits, and a path that
  // names no regular file or character device (a FIFO, a socket, a pipe, a
  // directory) fails.
  virtual bool OpenFileForWriting(const tc_text16* path, File* file) = 0;
  // As OpenFileForWriting, for a file written from `source` while it is read:
  // unless the file at `path` is `source` itself, under any name, which is
  // then left as it was and reported as kFileIsSource.
  enum BodyFileOpening { kFileOpened, kFileIsSource, kFileNotOpened };
  virtual BodyFileOpening OpenBodyFile(const tc_text16* path, const File* source, File* file) = 0;
  virtual bool WriteToFile(File* file, const char* bytes, size_t length) = 0;
  // Opens the file at the 16-bit `path` for binary reading, on the same terms
  // as OpenFileForWriting; on failure the handle stays kNoFile.
  virtual bool OpenFileForReading(const tc_text16* path, File* file) = 0;
  // Reads up to `capacity` bytes: their count, 0 at the end of the file, or
  // -1 when reading failed.
  virtual long ReadFile(File* file, char* buffer, size_t capacity) = 0;
  // Releases the file and sets the handle to kNoFile. False when data could
  // not be brought to the file.
  virtual bool CloseFile(File* file) = 0;

  // Converts NUL-terminated 16-bit text to the system's narrow text (its code
  // page; UTF-8 where that is the system's) with a terminating NUL: the
  // arguments the six original functions take go to the service as the
  // system has them. Returns false, leaving `output` empty, when the result
  // does not fit `capacity` bytes (NUL included). `*length` excludes the NUL.
  // Text that must be UTF-8 (JSON) is converted by the core itself.
  virtual bool Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length) = 0;

  // No destructor is declared: a platform object is trivially destroyed, so
  // the one a library build holds needs no code at load or unload.
};

// The platform this build runs on.
Platform& SystemPlatform();

}  // namespace taskclient

#endif
