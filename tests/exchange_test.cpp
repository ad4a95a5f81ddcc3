// The exchange against a real TLS server on 127.0.0.1: how the reply's end is
// found, what the response file holds, which result each failure gives, and
// which certificates a call accepts.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "exchange/exchange.h"
#include "support/descriptors.h"
#include "support/server_test.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

using namespace taskclient;
using namespace testsupport;

namespace {

#if TASKCLIENT_VERIFY_SERVER
// A build that checks certificates reads its trust anchors once per process,
// when the first call makes its TLS context. Before any test runs, the test
// CA becomes the only anchor (SSL_CERT_DIR names a folder without hashed
// links, so the system's store is not read) and every test server presents a
// certificate the CA issued for 127.0.0.1, so the other tests run unchanged.
class TestCaAnchor : public ::testing::Environment {
 public:
  void SetUp() override {
    testsupport::WriteTestCaPem(dir_ / "ca.pem");
    setenv("SSL_CERT_FILE", (dir_ / "ca.pem").c_str(), 1);
    setenv("SSL_CERT_DIR", dir_.path().c_str(), 1);
    testsupport::SetDefaultServerCertificate(Certificate::kApiHost);
  }

 private:
  testsupport::TempDir dir_;
};
::testing::Environment* const kTestCaAnchor = ::testing::AddGlobalTestEnvironment(new TestCaAnchor);
#endif

// The system's platform, except that every host resolves to the addresses
// given, IPv6 and IPv4, in their order: a host with several addresses,
// which the machine's own resolver may not have.
class ResolvingTo : public Platform {
 public:
  explicit ResolvingTo(const char* addresses) : addresses_(addresses) {}

  bool Resolve(const char*, AddressList* list) override {
    list->count = 0;
    std::istringstream words(addresses_);
    for (std::string word; words >> word && list->count < kMaxAddresses;) {
      Address& address = list->entries[list->count++];
      address.family = word.find(':') == std::string::npos ? kIpv4 : kIpv6;
      EXPECT_EQ(inet_pton(address.family == kIpv6 ? AF_INET6 : AF_INET, word.c_str(), address.bytes), 1) << word;
    }
    return list->count > 0;
  }
  bool StartNetworking() override { return system_.StartNetworking(); }
  void StopNetworking() override { system_.StopNetworking(); }
  bool OpenSocket(Connection* c, int family) override { return system_.OpenSocket(c, family); }
  bool SetTlsMode(Connection* c, const char* name) override { return system_.SetTlsMode(c, name); }
  bool InstallCertificateRule(Connection* c) override { return system_.InstallCertificateRule(c); }
  bool Connect(Connection* c, const Address& a, uint16_t port, int ms) override {
    return system_.Connect(c, a, port, ms);
  }
  bool CertificateRefused(const Connection* c) override { return system_.CertificateRefused(c); }
  uint32_t Milliseconds() override { return system_.Milliseconds(); }
  bool Send(Connection* c, const char* bytes, size_t n, int ms) override { return system_.Send(c, bytes, n, ms); }
  long Receive(Connection* c, const char** bytes, int ms) override { return system_.Receive(c, bytes, ms); }
  void CloseSocket(Connection* c) override { system_.CloseSocket(c); }
  bool OpenFileForWriting(const tc_text16* path, File* f) override { return system_.OpenFileForWriting(path, f); }
  BodyFileOpening OpenBodyFile(const tc_text16* path, const File* source, File* f) override {
    return system_.OpenBodyFile(path, source, f);
  }
  bool WriteToFile(File* f, const char* bytes, size_t n) override {
    return system_.WriteToFile(f, bytes, n);
  }
  bool OpenFileForReading(const tc_text16* path, File* f) override {
    return system_.OpenFileForReading(path, f);
  }
  long ReadFile(File* f, char* buffer, size_t n) override { return system_.ReadFile(f, buffer, n); }
  bool CloseFile(File* f) override { return system_.CloseFile(f); }
  bool Narrow(const tc_text16* text, char* out, size_t n, size_t* length) override {
    return system_.Narrow(text, out, n, length);
  }

 private:
  std::string addresses_;
  Platform& system_ = SystemPlatform();
};

class ExchangeTest : public ServerTest {
 protected:
  int32_t List(int timeoutMs = 5000) {
    return ListTaskLists(SystemPlatform(), server.service(timeoutMs), T(token), T(path));
  }

  std::u16string token = u"ya29.token";
};

struct ReplyCase {
  const char* name;
  Reply reply;
  int32_t result;
  bool waits = false;  // the call must wait for the time limit; any other ends at once
};

TEST_F(ExchangeTest, FindsTheEndOfEveryKindOfReply) {
  const std::string json = "{\n \"kind\": \"tasks#taskLists\",\n \"items\": [{\"id\": \"a\"}]\n}\n";
  const std::string withLength = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                 std::to_string(json.size()) + "\r\n\r\n" + json;
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n{\"items\": [{\"a\":\r\n" +
                              std::string("5\r\n 1}]}\r\n0\r\n\r\n");
  // An inner brace ends the first piece: only the framing may end the reply.
  const std::string inner = "{\"a\": {\"b\": 1}";
  const std::string innerRest = ", \"c\": {\"d\": 2}, \"e\": \"long tail of the reply\"}";
  const std::string innerHead =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(inner.size() + innerRest.size()) + "\r\n\r\n";

  const ReplyCase cases[] = {
      {"content length, one piece", Respond(withLength), TC_EXCHANGE_COMPLETE},
      {"content length, many pieces", Pieces(Split(withLength, 7), Reply::End::kHold, 2), TC_EXCHANGE_COMPLETE},
      {"chunked, many pieces", Pieces(Split(chunked, 5), Reply::End::kHold, 2), TC_EXCHANGE_COMPLETE},
      {"inner brace before a split", Pieces({innerHead + inner, innerRest}, Reply::End::kHold), TC_EXCHANGE_COMPLETE},
      {"204 without body, connection kept", Pieces({"HTTP/1.1 204 No Content\r\nServer: x\r\n\r\n"}, Reply::End::kHold),
       TC_EXCHANGE_COMPLETE},
      {"interim 100 first", Pieces({"HTTP/1.1 100 Continue\r\n\r\n", withLength}, Reply::End::kHold),
       TC_EXCHANGE_COMPLETE},
      {"error reply", Respond("HTTP/1.1 401 Unauthorized\r\nContent-Length: 13\r\n\r\n{\"error\": 1}\n"),
       TC_EXCHANGE_COMPLETE},
      {"HTML until close", Pieces({"HTTP/1.1 502 Bad Gateway\r\n\r\n<html>", "<p>no brace</p></html>"}),
       TC_EXCHANGE_COMPLETE},
      {"until close_notify", Pieces({"HTTP/1.0 200 OK\r\n\r\n{}"}, Reply::End::kClose), TC_EXCHANGE_COMPLETE},
      // Without close_notify the close may be anyone's on the path: the reply
      // may have been cut short, whatever arrived.
      {"until a close without close_notify", Pieces({"HTTP/1.0 200 OK\r\n\r\n{}"}, Reply::End::kAbruptClose),
       TC_REPLY_CUT_SHORT},
      {"content length, then a close without close_notify",
       Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"}, Reply::End::kAbruptClose), TC_EXCHANGE_COMPLETE},
      {"chunked, then a close without close_notify",
       Pieces({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"}, Reply::End::kAbruptClose),
       TC_EXCHANGE_COMPLETE},
      {"closed before any byte", Pieces({}), TC_REPLY_CUT_SHORT},
      {"closed mid-headers", Pieces({"HTTP/1.1 200 OK\r\nContent-Len"}), TC_REPLY_CUT_SHORT},
      {"closed mid-body", Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"a\": 1}"}), TC_REPLY_CUT_SHORT},
      {"closed mid-chunk", Pieces({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n20\r\n{\"a\"}"}),
       TC_REPLY_CUT_SHORT},
      {"closed mid-trailer", Pieces({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX-T: 1\r\n"}),
       TC_REPLY_CUT_SHORT},
      {"silent until the time limit", Pieces({}, Reply::End::kHold), TC_REPLY_CUT_SHORT, true},
      {"stalls mid-body", Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{}"}, Reply::End::kHold),
       TC_REPLY_CUT_SHORT, true},
      {"chunk size not hex", Pieces({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n"}, Reply::End::kHold),
       TC_REPLY_CUT_SHORT},
      {"chunk size with text after blanks",
       Pieces({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2 erfrferferf\r\nab\r\n"}, Reply::End::kHold),
       TC_REPLY_CUT_SHORT},
      {"not HTTP, connection kept", Pieces({"SSH-2.0-OpenSSH_9.2\r\n"}, Reply::End::kHold), TC_REPLY_CUT_SHORT},
      {"101 ends the call at its empty line",
       Pieces({"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nContent-Length: 40\r\n\r\n"},
              Reply::End::kHold),
       TC_EXCHANGE_COMPLETE},
      {"empty line after 100 Continue", Pieces({"HTTP/1.1 100 Continue\r\n\r\n\r\n", withLength}, Reply::End::kHold),
       TC_EXCHANGE_COMPLETE},
  };
  // The rows that end at once come first: the slowest of them (connection and
  // handshake included) sets how far past its limit a waiting call may end.
  const auto limit = std::chrono::milliseconds(1000);
  std::chrono::steady_clock::duration slowestAtOnce{};
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    server.SetReply(c.reply);
    WriteFile(file, "stale content that must go");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(List(static_cast<int>(limit.count())), c.result);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(ReadFile(file), Joined(c.reply.pieces));
    // Only a silent or stalled server may make the call wait for its time
    // limit: a complete or malformed reply ends the call at once, and a
    // waiting call ends once the limit has passed, within half a limit.
    if (c.waits) {
      EXPECT_GE(took, limit * 9 / 10);
      EXPECT_LT(took, limit * 3 / 2 + slowestAtOnce) << "waited past its time limit";
    } else {
      EXPECT_LT(took, limit * 9 / 10);
      slowestAtOnce = std::max(slowestAtOnce, took);
    }
  }
}

TEST_F(ExchangeTest, FailuresBeforeTheRequestLeaveTheFileAlone) {
  WriteFile(file, "keep me");

  // Garbage instead of a TLS handshake.
  server.server().SetRawHandler([](int socket) {
    const char garbage[] = "HTTP/1.1 400 Bad Request\r\n\r\nthis is no TLS";
    (void)!write(socket, garbage, sizeof garbage - 1);
    return false;
  });
  EXPECT_EQ(List(), TC_CONNECT_FAILED);
  EXPECT_EQ(ReadFile(file), "keep me");

  // A handshake that never gets an answer.
  server.server().SetRawHandler([](int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    return false;
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(List(200), TC_CONNECT_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(750));
  EXPECT_EQ(ReadFile(file), "keep me");

  // A handshake flight trickling in a byte every 100 ms: no wait is long,
  // but the connect's time limit covers the handshake as a whole. The flight
  // is a ServerHello record announced 16 KiB long, which never completes.
  server.server().SetRawHandler([](int socket) {
    const std::string head("\x16\x03\x03\x40\x00\x02\x00\x3f\xfc\x03\x03", 11);
    for (size_t i = 0; i < 40; ++i) {
      char byte = i < head.size() ? head[i] : '\x2a';
      if (send(socket, &byte, 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  });
  started = std::chrono::steady_clock::now();
  EXPECT_EQ(List(1000), TC_CONNECT_FAILED);
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::milliseconds(2000)) << "the handshake ran past the connect's time limit";
  EXPECT_EQ(ReadFile(file), "keep me");

  // Nothing listening on the port.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  Service closed = {"127.0.0.1", ntohs(address.sin_port), 1000, 1000};
  EXPECT_EQ(ListTaskLists(SystemPlatform(), closed, T(token), T(path)), TC_CONNECT_FAILED);
  EXPECT_EQ(ReadFile(file), "keep me");
}

// A host's addresses are tried in the resolver's order, IPv6 and IPv4, until
// one answers; only when every one refuses is the result 24. By default
// every certificate is accepted. A build with TASKCLIENT_VERIFY_SERVER
// accepts only one its anchor (the test CA here) issued, directly or through
// intermediate CAs the server sends, in date, naming the host the call was
// given in its alternative names: "localhost" is checked against the DNS
// names, "127.0.0.1" against the address names (the test certificates name no
// IPv6 address). A DNS name's left-most label may be "*", which stands for
// one whole label: never for part of one (w*, *w), for two, or past the
// left-most label. No signature in the chain may use SHA-1, no key be RSA under
// 2048 bits or EC under 256, and an extended key usage, if there is one, must
// allow a server. A refused certificate gives 29, costs no request and leaves
// the file alone.
TEST_F(ExchangeTest, CertificatesAreCheckedOnlyInABuildThatChecksThem) {
  const int32_t refused = TASKCLIENT_VERIFY_SERVER ? TC_CERT_REFUSED : TC_EXCHANGE_COMPLETE;
  const int32_t accepted = TC_EXCHANGE_COMPLETE;
#if defined(TASKCLIENT_TLS_BEARSSL)
  // BearSSL's X.509 engine matches host names only: reached by its address,
  // even the right server cannot show it is the one asked for.
  const int32_t byAddress = refused;
#else
  const int32_t byAddress = accepted;
#endif
  struct Case {
    const char* name;
    Certificate certificate;
    const char* host;
    int32_t result;
    const char* resolvesTo = nullptr;  // the host's addresses, when not the system's answer
    bool serverOnIpv6 = false;         // the server listens on ::1 only, not on 127.0.0.1
  } const cases[] = {
      {"issued for the host, by name", Certificate::kApiHost, "localhost", accepted},
      {"issued for the host, by address", Certificate::kApiHost, "127.0.0.1", byAddress},
      {"self-signed", Certificate::kSelfSigned, "localhost", refused},
      {"issued for another name", Certificate::kOtherName, "localhost", refused},
      {"issued for another name, by address", Certificate::kOtherName, "127.0.0.1", refused},
      {"expired", Certificate::kExpired, "localhost", refused},
      {"not yet valid", Certificate::kNotYetValid, "127.0.0.1", refused},
      {"signed with SHA-1", Certificate::kSha1Signed, "localhost", refused},
      {"an RSA key of 1024 bits", Certificate::kRsa1024, "localhost", refused},
      {"for client authentication only", Certificate::kClientAuthOnly, "localhost", refused},
      {"without extended key usage", Certificate::kNoExtendedUsage, "localhost", accepted},
      {"the name in the subject CN only", Certificate::kCnOnly, "localhost", refused},
      {"through an intermediate the server sends", Certificate::kViaIntermediate, "localhost", accepted},
      {"through an intermediate the server leaves out", Certificate::kMissingIntermediate, "localhost", refused},
      {"through an intermediate with a P-224 key", Certificate::kEcP224Issuer, "localhost", refused},
      {"issued by a server's own certificate", Certificate::kLeafAsIssuer, "localhost", refused},
      // Nothing listens on ::1 or 127.0.0.2 at the server's port: they refuse.
      {"by name, the first addresses refusing", Certificate::kApiHost, "localhost", accepted,
       "::1 127.0.0.2 127.0.0.1"},
      {"by name, every address refusing", Certificate::kApiHost, "localhost", TC_CONNECT_FAILED, "::1 127.0.0.2"},
      {"IPv6 only, by address", Certificate::kApiHost, "::1", refused, nullptr, true},
      {"by name, IPv4 refusing, then IPv6", Certificate::kApiHost, "localhost", accepted, "127.0.0.2 ::1", true},
      // A wildcard stands for the whole left-most label, and for one label only.
      {"a wildcard for the host", Certificate::kWildcard, "www.googleapis.com", accepted, "127.0.0.1"},
      {"a partial wildcard, w*", Certificate::kWildcardPrefixed, "www.googleapis.com", refused, "127.0.0.1"},
      {"a partial wildcard, *w", Certificate::kWildcardSuffixed, "www.googleapis.com", refused, "127.0.0.1"},
      {"a wildcard over two labels", Certificate::kWildcardOverLabels, "www.googleapis.com", refused, "127.0.0.1"},
      {"a wildcard past the left-most label", Certificate::kWildcardInnerLabel, "www.googleapis.com", refused,
       "127.0.0.1"},
  };
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
  server.SetReply(Respond(reply));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ScriptedServer> ipv6;
    if (c.serverOnIpv6) {
      try {
        ipv6.reset(new ScriptedServer(Respond(reply), true));
      } catch (const std::exception& error) {
        std::cout << "[  SKIPPED ] " << c.name << ": " << error.what() << " on ::1\n";
        continue;
      }
    }
    ScriptedServer& target = ipv6 ? *ipv6 : server;
    target.server().UseCertificate(c.certificate);
    testsupport::WriteFile(file, "keep me");
    size_t requests = target.Requests().size();
    Service service = target.service();
    service.host = c.host;
    ResolvingTo resolving(c.resolvesTo ? c.resolvesTo : "");
    Platform& platform = c.resolvesTo ? static_cast<Platform&>(resolving) : SystemPlatform();
    EXPECT_EQ(ListTaskLists(platform, service, T(token), T(path)), c.result);
    bool completed = c.result == TC_EXCHANGE_COMPLETE;
    EXPECT_EQ(ReadFile(file), completed ? reply : "keep me");
    EXPECT_EQ(target.Requests().size(), requests + (completed ? 1 : 0));
  }
}

// The host's addresses as the system's resolver gives them, from a hosts
// file: the test runs itself again in a private network and mount namespace
// (unshare; as root, or where user namespaces are allowed), where
// www.googleapis.com is ::1, 127.0.0.5 and 127.0.0.6, and the server listens
// on 127.0.0.6 only: the first two refuse. The resolver sorts by the prefix
// an address shares with the source address, 127.0.0.1: 127.0.0.5 and
// 127.0.0.6 share as many bits with it, so they keep the file's order, and
// ::1 goes first where IPv6 is up, last where it is not.
TEST(RealResolverTest, EveryAddressOfTheHostIsTriedInTurn) {
  const char* inside = getenv("TASKCLIENT_PRIVATE_NETWORK");
  if (!inside) {
    TempDir dir;
    const std::string started = (dir / "started").string();
    const bool root = geteuid() == 0;
    std::vector<std::string> words = {"unshare", "--net", "--mount", "--",
                                      std::filesystem::read_symlink("/proc/self/exe").string(),
                                      "--gtest_filter=RealResolverTest.*", "--gtest_brief=1"};
    if (!root) words.insert(words.begin() + 1, {"--user", "--map-root-user"});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::cout.flush();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("TASKCLIENT_PRIVATE_NETWORK", started.c_str(), 1);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (!root && !std::filesystem::exists(started)) GTEST_SKIP() << "no private namespace without root here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run in the private namespace failed";
    return;
  }
  WriteFile(inside, "");
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << strerror(errno);
  const int control = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq loopback{};
  std::snprintf(loopback.ifr_name, sizeof loopback.ifr_name, "lo");
  ASSERT_EQ(ioctl(control, SIOCGIFFLAGS, &loopback), 0) << strerror(errno);
  loopback.ifr_flags |= IFF_UP;
  ASSERT_EQ(ioctl(control, SIOCSIFFLAGS, &loopback), 0) << strerror(errno);
  close(control);
  TempDir dir;
  WriteFile(dir / "hosts",
            "127.0.0.1 localhost\n::1 www.googleapis.com\n127.0.0.5 www.googleapis.com\n"
            "127.0.0.6 www.googleapis.com\n");
  ASSERT_EQ(mount((dir / "hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0) << strerror(errno);

  // The server's address must not be the resolver's first answer.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  ASSERT_EQ(getaddrinfo("www.googleapis.com", nullptr, &hints, &found), 0);
  std::string order;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    char text[INET6_ADDRSTRLEN] = "";
    const void* bytes = entry->ai_family == AF_INET6
                            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr)
                            : &reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr;
    inet_ntop(entry->ai_family, bytes, text, sizeof text);
    order += std::string(order.empty() ? "" : " ") + text;
  }
  freeaddrinfo(found);
  ASSERT_NE(order.substr(0, 9), "127.0.0.6") << order;
  std::cout << "www.googleapis.com resolves to " << order << "\n";

  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
  ScriptedServer server(Respond(reply), false, "127.0.0.6");
  Service service = server.service();
  service.host = "www.googleapis.com";
  const std::filesystem::path file = dir / "reply.bin";
  EXPECT_EQ(ListTaskLists(SystemPlatform(), service, T(u"ya29.token"), T(PathText(file))), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(ReadFile(file), reply);
  EXPECT_EQ(server.Requests().size(), 1u);

  // 127.0.0.5 silent: a listener whose queue of connections is full drops
  // every further SYN. The address costs its share of the connect budget and
  // the call still reaches 127.0.0.6 within the budget.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(service.port);
  inet_pton(AF_INET, "127.0.0.5", &at.sin_addr);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << strerror(errno);
  ASSERT_EQ(listen(silent, 0), 0);
  std::vector<int> queued;
  for (int i = 0; i < 2; ++i) {
    queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(queued.back(), reinterpret_cast<sockaddr*>(&at), sizeof at);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  service.connectTimeoutMs = 4000;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(ListTaskLists(SystemPlatform(), service, T(u"ya29.token"), T(PathText(file))), TC_EXCHANGE_COMPLETE);
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(ReadFile(file), reply);
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_LT(took, std::chrono::milliseconds(4000));
  for (int socket : queued) close(socket);
  close(silent);
}

// Only a regular file or a character device is a response file: a folder,
// a FIFO (with a reader or without, where an open would wait for one) or a
// socket is refused at once.
TEST_F(ExchangeTest, AFileThatCannotBeOpenedCostsNoRequest) {
  WriteFile(file, "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "read fifo").c_str(), 0600), 0);
  const int reader = open((dir / "read fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir / "socket").c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::filesystem::path unopenable[] = {dir / "missing" / "reply.bin", dir.path(), dir / "fifo",
                                              dir / "read fifo", dir / "socket"};
  for (const auto& target : unopenable) {
    SCOPED_TRACE(target.string());
    EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), T(PathText(target))),
              TC_FILE_OPEN_FAILED);
  }
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), T(u"")), TC_FILE_OPEN_FAILED);
  close(reader);
  close(listener);
  // The server saw a connection for each but never a request. It records
  // each connection once the client has gone, which may be after the call
  // returned: stopping it waits for every record.
  server.server().Stop();
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), std::size(unopenable) + 1);
  for (const std::string& request : requests) EXPECT_EQ(request.substr(0, 1), "!");
}

TEST_F(ExchangeTest, AFileThatCannotBeWrittenIsReported) {
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), T(u"/dev/full")), TC_FILE_WRITE_FAILED);
  // A character device is a file like any other: the reply goes to it.
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), T(u"/dev/null")), TC_EXCHANGE_COMPLETE);
}

TEST_F(ExchangeTest, APeerThatGoesAwayRaisesNoSignal) {
  // The server closes at once without reading: the send or the receive
  // fails, and the process lives on with SIGPIPE at its default.
  Reply reply = Pieces({}, Reply::End::kAbruptClose, 0);
  reply.readRequest = false;
  server.SetReply(reply);
  for (int i = 0; i < 20; ++i) {
    int32_t result = List();
    EXPECT_TRUE(result == TC_SEND_FAILED || result == TC_REPLY_CUT_SHORT) << result;
  }
}

TEST_F(ExchangeTest, ReleasesEveryDescriptor) {
  List();  // OpenSSL's one-time set-up happens here
  while (server.server().finished() < server.server().accepted()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  int before = OpenDescriptors();
  server.SetReply(Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", "{}{}"}));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(List(), TC_EXCHANGE_COMPLETE);
  server.SetReply(Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n"}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(List(), TC_REPLY_CUT_SHORT);
  EXPECT_EQ(ListTaskLists(SystemPlatform(), server.service(), T(token), T(u"/dev/full")), TC_FILE_WRITE_FAILED);
  server.server().Stop();  // the server's own sockets are closed too
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
