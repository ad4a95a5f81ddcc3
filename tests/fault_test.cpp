// Peer misbehaviour and unusable response paths not covered by the exchange
// tests: closes at the framing's edges, a 100 MB reply, a server that
// trickles a byte a second, a read-only file, a host name that cannot be
// resolved. Each must end with its documented result and file content.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support/descriptors.h"
#include "support/server_test.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

using namespace taskclient;
using namespace testsupport;

namespace {

// Every case must release what it took: after the server has finished with
// every connection, the process holds the descriptors it held before.
class FaultTest : public ServerTest {
 protected:
  void SetUp() override { descriptors = OpenDescriptors(); }
  void TearDown() override {
    server.server().Stop();
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }

  int descriptors = 0;
  int32_t List(const Service& service) { return ListTaskLists(SystemPlatform(), service, T(u"ya29.t"), T(path)); }

};

TEST_F(FaultTest, ClosesAtTheEdgesOfTheFraming) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  struct Row {
    const char* name;
    Reply reply;
  } rows[] = {
      {"closed right after the headers", Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"}, Reply::End::kClose)},
      {"Content-Length larger than what arrives, abrupt close",
       Pieces({"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n", "{\"items\": []}"}, Reply::End::kAbruptClose)},
      {"closed mid-chunk-size line", Pieces({chunked + "4\r\n{\"a\"\r\n1"}, Reply::End::kClose)},
      {"closed between chunk data and its line end", Pieces({chunked + "2\r\n{}"}, Reply::End::kClose)},
      {"closed after the last chunk, before the trailers end", Pieces({chunked + "0\r\n"}, Reply::End::kAbruptClose)},
      {"closed mid-headers of the reply after a 100", Pieces({"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 2"},
                                                             Reply::End::kClose)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    server.SetReply(row.reply);
    WriteFile(file, "stale content that must go, longer than any reply above");
    EXPECT_EQ(List(server.service(2000)), TC_REPLY_CUT_SHORT);
    EXPECT_EQ(ReadFile(file), Joined(row.reply.pieces));  // what arrived, nothing more and nothing changed
  }
}

// A reply far larger than any buffer goes to the file byte for byte (the
// library's memory staying flat is measured by scripts/soak.sh).
TEST_F(FaultTest, HundredMegabyteReplyIsStreamedToTheFile) {
  const size_t kPiece = 1 << 20, kPieces = 100;
  auto pieceByte = [](size_t piece, size_t i) { return static_cast<char>('a' + (piece * 7 + i / 4096) % 26); };
  for (bool chunkedFraming : {false, true}) {
    SCOPED_TRACE(chunkedFraming ? "chunked" : "Content-Length");
    const std::string head = chunkedFraming
                                 ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                 : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPiece * kPieces) + "\r\n\r\n";
    TlsServer big([&](TlsStream& stream) {
      if (!stream.ReadRequest(5000)) return;
      stream.Write(head);
      std::string piece(kPiece, '\0');
      for (size_t p = 0; p < kPieces; ++p) {
        for (size_t i = 0; i < kPiece; ++i) piece[i] = pieceByte(p, i);
        if (chunkedFraming && !stream.Write("100000\r\n")) return;
        if (!stream.Write(piece)) return;
        if (chunkedFraming && !stream.Write("\r\n")) return;
      }
      if (chunkedFraming) stream.Write("0\r\n\r\n");
      stream.AwaitClose(5000);  // the call must end by the framing, not by a close
    });
    Service service = {"127.0.0.1", big.port(), 5000, 5000};
    ASSERT_EQ(List(service), TC_EXCHANGE_COMPLETE);

    // Compare the file with what was sent, a piece at a time.
    std::FILE* in = std::fopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string got(head.size(), '\0');
    ASSERT_EQ(std::fread(got.data(), 1, got.size(), in), head.size());
    EXPECT_EQ(got, head);
    std::string expected(kPiece, '\0');
    got.resize(kPiece);
    size_t mismatches = 0;
    for (size_t p = 0; p < kPieces && mismatches == 0; ++p) {
      for (size_t i = 0; i < kPiece; ++i) expected[i] = pieceByte(p, i);
      if (chunkedFraming) {
        std::string size(8, '\0');
        ASSERT_EQ(std::fread(size.data(), 1, size.size(), in), size.size());
        EXPECT_EQ(size, "100000\r\n");
      }
      ASSERT_EQ(std::fread(got.data(), 1, kPiece, in), kPiece) << "piece " << p;
      if (got != expected) ++mismatches;
      if (chunkedFraming) {
        char end[2];
        ASSERT_EQ(std::fread(end, 1, 2, in), 2u);
        EXPECT_EQ(std::string(end, 2), "\r\n");
      }
    }
    EXPECT_EQ(mismatches, 0u);
    std::string tail(16, '\0');
    tail.resize(std::fread(tail.data(), 1, tail.size(), in));
    EXPECT_EQ(tail, chunkedFraming ? "0\r\n\r\n" : "");
    std::fclose(in);
  }
}

// One byte a second: every byte is progress, so the call goes on until the
// reply ends; once the bytes stop, the receive time limit ends it.
TEST_F(FaultTest, ATricklingServerFinishesOrTimesOut) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
  struct Row {
    const char* name;
    Reply reply;
    int32_t result;
    int minimumMs, maximumMs;
  } rows[] = {
      // head, then "{" and "}" a second apart: done when the last byte lands.
      {"trickles to the end", Pieces({head, "{", "}"}, Reply::End::kHold, 1000), TC_EXCHANGE_COMPLETE, 1900, 3400},
      // head, then "{" a second later, then silence: the 1.5 s limit runs
      // from the last byte.
      {"trickles, then stops", Pieces({head, "{"}, Reply::End::kHold, 1000), TC_REPLY_CUT_SHORT, 2400, 4400},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    server.SetReply(row.reply);
    Service service = server.service(1500);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(List(service), row.result);
    auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_GE(tookMs.count(), row.minimumMs);
    EXPECT_LE(tookMs.count(), row.maximumMs);
    EXPECT_EQ(ReadFile(file), Joined(row.reply.pieces));
  }
}

// Root may write any file whatever its mode bits, so the file is made
// immutable, which stops root too.
TEST_F(FaultTest, AReadOnlyFileCostsNoRequest) {
  WriteFile(file, "keep me");
  int handle = open(file.c_str(), O_RDONLY);
  ASSERT_GE(handle, 0);
  int flags = 0;
  bool immutable = ioctl(handle, FS_IOC_GETFLAGS, &flags) == 0 &&
                   (flags |= FS_IMMUTABLE_FL, ioctl(handle, FS_IOC_SETFLAGS, &flags) == 0);
  if (!immutable) {
    close(handle);
    GTEST_SKIP() << "this file system (or this process) cannot make a file immutable, and as root a mode of "
                    "0444 would not stop a write";
  }
  int32_t result = List(server.service());
  flags &= ~FS_IMMUTABLE_FL;
  ioctl(handle, FS_IOC_SETFLAGS, &flags);
  close(handle);

  EXPECT_EQ(result, TC_FILE_OPEN_FAILED);
  EXPECT_EQ(ReadFile(file), "keep me");
  server.server().Stop();  // waits for the server to record what it read
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].substr(0, 1), "!");  // connected, but never asked
}

// A name the resolver refuses before any query (it is not a valid host name,
// so no lookup leaves the machine); the file stays as it was.
TEST_F(FaultTest, AnUnresolvableHostIsReported) {
  WriteFile(file, "keep me");
  for (const char* host : {"no such host!", "bad..name", ""}) {
    SCOPED_TRACE(host);
    Service service = {host, server.server().port(), 1000, 1000};
    EXPECT_EQ(List(service), TC_RESOLVE_FAILED);
    EXPECT_EQ(ReadFile(file), "keep me");
  }
  EXPECT_EQ(server.server().accepted(), 0);
}

}  // namespace
