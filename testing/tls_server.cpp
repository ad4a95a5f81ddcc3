#include "testing/tls_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

[[noreturn]] void Fail(const char* what) {
  ERR_print_errors_fp(stderr);
  throw std::runtime_error(what);
}

EVP_PKEY* NewKey(const char* curve = "P-256") {
  EVP_PKEY* key = EVP_EC_gen(curve);
  if (!key) Fail("key generation");
  return key;
}

// A v3 certificate for `key`, named CN=`commonName`, valid from `fromSeconds`
// to `untilSeconds` relative to now; issuer and extensions still to come.
X509* NewCertificate(EVP_PKEY* key, const char* commonName, long fromSeconds, long untilSeconds) {
  static std::atomic<long> serial{static_cast<long>(time(nullptr)) << 8};
  X509* cert = X509_new();
  if (!cert) Fail("certificate");
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), fromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(cert), untilSeconds);
  X509_set_pubkey(cert, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  return cert;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension || X509_add_ext(cert, extension, -1) != 1) Fail("certificate extension");
  X509_EXTENSION_free(extension);
}

// The test CA: made on first use, kept for the process, so that every
// server's certificates chain to the one a client was given as its anchor.
struct TestCa {
  EVP_PKEY* key;
  X509* cert;
  ~TestCa() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

// A CA made before the tests, named by TASKCLIENT_TEST_CA_KEY and
// TASKCLIENT_TEST_CA_CERT (PEM files): a build that compiles its trust
// anchors in needs the CA before the test starts.
bool LoadCa(EVP_PKEY** key, X509** cert) {
  const char* keyFile = std::getenv("TASKCLIENT_TEST_CA_KEY");
  const char* certFile = std::getenv("TASKCLIENT_TEST_CA_CERT");
  if (!keyFile || !certFile) return false;
  FILE* keyIn = std::fopen(keyFile, "r");
  FILE* certIn = std::fopen(certFile, "r");
  *key = keyIn ? PEM_read_PrivateKey(keyIn, nullptr, nullptr, nullptr) : nullptr;
  *cert = certIn ? PEM_read_X509(certIn, nullptr, nullptr, nullptr) : nullptr;
  if (keyIn) std::fclose(keyIn);
  if (certIn) std::fclose(certIn);
  if (!*key || !*cert) Fail("the test CA named by TASKCLIENT_TEST_CA_KEY and TASKCLIENT_TEST_CA_CERT");
  return true;
}

const TestCa& Ca() {
  static const TestCa ca = [] {
    EVP_PKEY* loadedKey = nullptr;
    X509* loadedCert = nullptr;
    if (LoadCa(&loadedKey, &loadedCert)) return TestCa{loadedKey, loadedCert};
    EVP_PKEY* key = NewKey();
    X509* cert = NewCertificate(key, "taskclient test CA", -24 * 3600, 30 * 24 * 3600);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert, cert, NID_subject_key_identifier, "hash");
    if (!X509_sign(cert, key, EVP_sha256())) Fail("CA signing");
    return TestCa{key, cert};
  }();
  return ca;
}

// `weak`: the certificate's own key or signature is below what OpenSSL's
// default security level lets a server present.
SSL_CTX* ServerContext(X509* cert, EVP_PKEY* key, bool weak = false) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context && weak) SSL_CTX_set_security_level(context, 0);
  if (!context || SSL_CTX_use_certificate(context, cert) != 1 || SSL_CTX_use_PrivateKey(context, key) != 1) {
    Fail("server context");
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return context;
}

std::atomic<Certificate> gDefaultCertificate{Certificate::kSelfSigned};

// A certificate between the test CA and a server's: a CA, or (`ca` false) a
// server's own certificate that goes on to issue another.
X509* NewIssuer(EVP_PKEY* key, bool ca) {
  const TestCa& root = Ca();
  X509* cert = NewCertificate(key, ca ? "taskclient test intermediate" : "issuer.example", -3600, 24 * 3600);
  X509_set_issuer_name(cert, X509_get_subject_name(root.cert));
  AddExtension(cert, root.cert, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(cert, root.cert, NID_key_usage, ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  if (!ca) AddExtension(cert, root.cert, NID_ext_key_usage, "serverAuth");
  if (!ca) AddExtension(cert, root.cert, NID_subject_alt_name, "DNS:issuer.example");
  AddExtension(cert, cert, NID_subject_key_identifier, "hash");
  AddExtension(cert, root.cert, NID_authority_key_identifier, "keyid:always");
  if (!X509_sign(cert, root.key, EVP_sha256())) Fail("intermediate signing");
  return cert;
}

}  // namespace

SSL_CTX* MakeSelfSignedServerContext() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) Fail("key generation");
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  if (!X509_sign(cert, key, EVP_sha256())) Fail("certificate signing");
  return ServerContext(cert, key);
}

SSL_CTX* MakeServerContext(Certificate certificate) {
  using C = Certificate;
  if (certificate == C::kSelfSigned) return MakeSelfSignedServerContext();
  const long hour = 3600, day = 24 * hour;
  long from = -hour, until = day;
  if (certificate == C::kExpired) from = -2 * day, until = -day;
  if (certificate == C::kNotYetValid) from = day, until = 2 * day;
  const char* wildcard = certificate == C::kWildcard            ? "*.googleapis.com"
                         : certificate == C::kWildcardPrefixed   ? "w*.googleapis.com"
                         : certificate == C::kWildcardSuffixed   ? "*w.googleapis.com"
                         : certificate == C::kWildcardOverLabels ? "*.com"
                         : certificate == C::kWildcardInnerLabel ? "www.*.com"
                                                                 : nullptr;
  const std::string names = wildcard                          ? std::string("DNS:") + wildcard
                            : certificate == C::kOtherName ? "DNS:other.example"
                                                           : "DNS:www.googleapis.com,DNS:localhost,IP:127.0.0.1";
  const char* commonName = wildcard                        ? wildcard
                           : certificate == C::kOtherName ? "other.example"
                           : certificate == C::kCnOnly    ? "localhost"
                                                          : "www.googleapis.com";
  // Issued by the test CA, or by a certificate of its between them.
  const TestCa& ca = Ca();
  X509* issuer = ca.cert;
  EVP_PKEY* issuerKey = ca.key;
  X509* middle = nullptr;
  if (certificate == C::kViaIntermediate || certificate == C::kMissingIntermediate ||
      certificate == C::kEcP224Issuer || certificate == C::kLeafAsIssuer) {
    issuerKey = NewKey(certificate == C::kEcP224Issuer ? "P-224" : "P-256");
    issuer = middle = NewIssuer(issuerKey, certificate != C::kLeafAsIssuer);
  }
  EVP_PKEY* key = certificate == C::kRsa1024 ? EVP_RSA_gen(1024) : NewKey();
  if (!key) Fail("key generation");
  X509* cert = NewCertificate(key, commonName, from, until);
  X509_set_issuer_name(cert, X509_get_subject_name(issuer));
  AddExtension(cert, issuer, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert, issuer, NID_key_usage, "critical,digitalSignature");
  if (certificate != C::kNoExtendedUsage) {
    AddExtension(cert, issuer, NID_ext_key_usage, certificate == C::kClientAuthOnly ? "clientAuth" : "serverAuth");
  }
  if (certificate != C::kCnOnly) AddExtension(cert, issuer, NID_subject_alt_name, names.c_str());
  AddExtension(cert, issuer, NID_authority_key_identifier, "keyid:always");
  if (!X509_sign(cert, issuerKey, certificate == C::kSha1Signed ? EVP_sha1() : EVP_sha256())) {
    Fail("certificate signing");
  }
  if (middle) EVP_PKEY_free(issuerKey);
  SSL_CTX* context = ServerContext(cert, key, certificate == C::kSha1Signed || certificate == C::kRsa1024);
  if (middle && certificate == C::kMissingIntermediate) X509_free(middle);
  if (middle && certificate != C::kMissingIntermediate && SSL_CTX_add0_chain_cert(context, middle) != 1) {
    Fail("server chain");
  }
  return context;
}

std::string TestCaPem() {
  BIO* memory = BIO_new(BIO_s_mem());
  if (!memory || PEM_write_bio_X509(memory, Ca().cert) != 1) Fail("CA PEM");
  char* bytes = nullptr;
  long length = BIO_get_mem_data(memory, &bytes);
  std::string pem(bytes, static_cast<size_t>(length));
  BIO_free(memory);
  return pem;
}

void WriteTestCaPem(const std::filesystem::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << TestCaPem();
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

void SetDefaultServerCertificate(Certificate certificate) { gDefaultCertificate = certificate; }

namespace {

bool WaitReadable(int socket, int timeoutMs) {
  pollfd entry{socket, POLLIN, 0};
  for (;;) {
    int ready = poll(&entry, 1, timeoutMs);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

int TlsStream::ReadSome(char* buffer, int capacity, int timeoutMs) {
  if (closed_) return -1;
  for (;;) {
    if (SSL_pending(session_) == 0 && !WaitReadable(socket_, timeoutMs)) return -2;
    int got = SSL_read(session_, buffer, capacity);
    if (got > 0) return got;
    int error = SSL_get_error(session_, got);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) continue;
    ERR_clear_error();
    return got == 0 ? 0 : -1;
  }
}

std::optional<HttpRequest> TlsStream::ReadRequest(int timeoutMs, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<HttpRequest> {
    if (error) *error = why;
    return std::nullopt;
  };
  HttpRequest request;
  std::string& raw = request.raw;
  raw.swap(buffered_);
  size_t headEnd;
  char buffer[16384];
  while ((headEnd = raw.find("\r\n\r\n")) == std::string::npos) {
    if (raw.find("\n\n") != std::string::npos) return fail("bare LF line ends");
    int got = ReadSome(buffer, sizeof buffer, timeoutMs);
    if (got <= 0) return fail(raw.empty() ? "no request" : "request head incomplete");
    raw.append(buffer, static_cast<size_t>(got));
  }
  std::string head = raw.substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  size_t firstSpace = requestLine.find(' ');
  size_t lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string::npos || lastSpace == firstSpace || requestLine.substr(lastSpace + 1) != "HTTP/1.1") {
    return fail("malformed request line");
  }
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  size_t position = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (position < head.size()) {
    size_t end = head.find("\r\n", position);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(position, end - position);
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) return fail("bare line end");
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return fail("malformed header line");
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    request.headers[Lower(line.substr(0, colon))] = value;
    position = end + 2;
  }
  size_t bodyLength = 0;
  auto length = request.headers.find("content-length");
  if (length != request.headers.end()) {
    if (length->second.empty() || length->second.find_first_not_of("0123456789") != std::string::npos) {
      return fail("malformed Content-Length");
    }
    bodyLength = std::stoul(length->second);
  }
  size_t bodyStart = headEnd + 4;
  while (raw.size() < bodyStart + bodyLength) {
    int got = ReadSome(buffer, sizeof buffer, timeoutMs);
    if (got <= 0) return fail("body shorter than Content-Length");
    raw.append(buffer, static_cast<size_t>(got));
  }
  // Bytes past this request belong to whatever the client sends next.
  buffered_ = raw.substr(bodyStart + bodyLength);
  raw.resize(bodyStart + bodyLength);
  request.body = raw.substr(bodyStart);
  return request;
}

std::string TlsStream::ReadPending(int timeoutMs) {
  std::string pending;
  pending.swap(buffered_);
  char buffer[4096];
  int got;
  while ((got = ReadSome(buffer, sizeof buffer, timeoutMs)) > 0) pending.append(buffer, static_cast<size_t>(got));
  return pending;
}

bool TlsStream::MoreArrives(int timeoutMs) {
  if (!buffered_.empty()) return true;
  char buffer[4096];
  int got = ReadSome(buffer, sizeof buffer, timeoutMs);
  if (got <= 0) return false;
  buffered_.append(buffer, static_cast<size_t>(got));
  return true;
}

bool TlsStream::Write(std::string_view bytes) {
  if (closed_) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    int chunk = static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20));
    int wrote = SSL_write(session_, bytes.data() + done, chunk);
    if (wrote <= 0) {
      ERR_clear_error();
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

void TlsStream::AwaitClose(int timeoutMs) {
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!closed_) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) return;
    int got = ReadSome(buffer, sizeof buffer, std::min(left, 100));
    if (got == 0 || got == -1) return;
  }
}

void TlsStream::Close(bool abrupt) {
  if (closed_) return;
  closed_ = true;
  if (!abrupt) SSL_shutdown(session_);
  shutdown(socket_, SHUT_RDWR);
}

int ListenOnLoopback(uint16_t port, int backlog, uint16_t* boundPort, bool ipv6, const char* ipv4) {
  int listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) throw std::runtime_error(std::string("cannot make a socket: ") + strerror(errno));
  int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_storage address{};
  socklen_t size;
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    v6->sin6_addr = in6addr_loopback;
    size = sizeof *v6;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ipv4 && (inet_pton(AF_INET, ipv4, &v4->sin_addr) != 1 || (ntohl(v4->sin_addr.s_addr) >> 24) != 127)) {
      close(listener);
      throw std::runtime_error(std::string("not a loopback address: ") + ipv4);
    }
    size = sizeof *v4;
  }
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, backlog) != 0) {
    int error = errno;
    close(listener);
    throw std::runtime_error(std::string("cannot listen: ") + strerror(error));
  }
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  *boundPort = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  return listener;
}

TlsServer::TlsServer(Handler handler, uint16_t port, bool ipv6, const char* ipv4) : handler_(std::move(handler)) {
  context_ = MakeServerContext(gDefaultCertificate);
  listener_ = ListenOnLoopback(port, 128, &port_, ipv6, ipv4);
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsServer::~TlsServer() {
  Stop();
  close(listener_);
  close(wakeRead_);
  close(wakeWrite_);
  SSL_CTX_free(context_);
}

void TlsServer::SetRawHandler(RawHandler raw) {
  std::lock_guard<std::mutex> lock(rawMutex_);
  raw_ = std::move(raw);
}

void TlsServer::UseCertificate(Certificate certificate) {
  SSL_CTX* made = MakeServerContext(certificate);
  std::lock_guard<std::mutex> lock(contextMutex_);
  std::swap(made, context_);
  SSL_CTX_free(made);  // sessions made from it hold their own reference
}

void TlsServer::Stop() {
  if (stopping_.exchange(true)) return;
  char wake = 1;
  (void)!write(wakeWrite_, &wake, 1);
  acceptor_.join();
  // Joined without the lock: each connection thread takes it as it ends.
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
  std::lock_guard<std::mutex> lock(threadsMutex_);
  done_.clear();
}

void TlsServer::AcceptLoop() {
  for (;;) {
    pollfd entries[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents) return;
    int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    ++accepted_;
    std::lock_guard<std::mutex> lock(threadsMutex_);
    JoinFinished();  // a long run of connections must not pile up ended threads
    threads_.emplace_back([this, socket] { Serve(socket); });
  }
}

void TlsServer::JoinFinished() {
  for (std::thread::id id : done_) {
    auto ended = std::find_if(threads_.begin(), threads_.end(), [id](const std::thread& t) { return t.get_id() == id; });
    if (ended == threads_.end()) continue;
    ended->join();
    threads_.erase(ended);
  }
  done_.clear();
}

void TlsServer::Serve(int socket) {
  ServeConnection(socket);
  std::lock_guard<std::mutex> lock(threadsMutex_);
  done_.push_back(std::this_thread::get_id());
}

void TlsServer::ServeConnection(int socket) {
  // A client that goes away must not end the test process through SIGPIPE;
  // the signal is blocked in server threads only, so the code under test
  // still runs with the default disposition.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  RawHandler raw;
  {
    std::lock_guard<std::mutex> lock(rawMutex_);
    raw = raw_;
  }
  if (raw && !raw(socket)) {
    close(socket);
    ++finished_;
    return;
  }
  // A client that never finishes its handshake must not hold the thread.
  timeval limit{10, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  SSL* session;
  {
    std::lock_guard<std::mutex> lock(contextMutex_);
    session = SSL_new(context_);
  }
  SSL_set_fd(session, socket);
  if (SSL_accept(session) == 1) {
    TlsStream stream(socket, session);
    handler_(stream);
    stream.Close();
  }
  ERR_clear_error();
  SSL_free(session);
  close(socket);
  ++finished_;
}

}  // namespace testsupport
