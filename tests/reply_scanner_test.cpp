// The reply-end scanner must reach the same verdict, at the same byte,
// however the reply is split into receives.
#include "exchange/reply_scanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "readers/reply_reader.h"
#include "testing/text16.h"

#include <filesystem>
#include <string>
#include <vector>

using taskclient::ReplyScanner;
using testsupport::PathText;
using testsupport::T;

namespace {

struct Outcome {
  ReplyScanner::Verdict verdict;
  size_t end;          // offset just past the reply's last byte (complete), else bytes scanned
  bool closeEnds;      // meaningful when the verdict is kNeedMore
  bool saysClose;      // the final reply's "Connection" holds "close"
  bool operator==(const Outcome& o) const {
    return verdict == o.verdict && end == o.end && closeEnds == o.closeEnds && saysClose == o.saysClose;
  }
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "{verdict " << o.verdict << ", end " << o.end << ", closeEnds " << o.closeEnds << ", saysClose "
       << o.saysClose << "}";
}

// Collects the body bytes the scanner reports.
struct Body : taskclient::BodySink {
  std::string bytes;
  void TakeBody(const char* b, size_t n) override { bytes.append(b, n); }
};

// Feeds `bytes` in the given pieces; stops at the first verdict. `body`, if
// given, receives the body bytes reported.
Outcome Scan(const std::string& bytes, const std::vector<size_t>& cuts, std::string* body = nullptr) {
  Body sink;
  ReplyScanner scanner(&sink);
  size_t start = 0;
  std::vector<size_t> bounds = cuts;
  bounds.push_back(bytes.size());
  for (size_t bound : bounds) {
    // Each piece lives in its own allocation so a read past it is caught by
    // the sanitizers.
    std::vector<char> piece(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(bound));
    size_t used = 0;
    ReplyScanner::Verdict verdict = scanner.Feed(piece.data(), piece.size(), &used);
    EXPECT_LE(used, piece.size());
    if (verdict != ReplyScanner::kNeedMore) {
      if (body) *body = sink.bytes;
      return Outcome{verdict, start + used, false, scanner.SaysClose()};
    }
    start = bound;
  }
  if (body) *body = sink.bytes;
  return Outcome{ReplyScanner::kNeedMore, bytes.size(), scanner.CloseEndsReply(), scanner.SaysClose()};
}

struct Case {
  const char* name;
  std::string bytes;
  ReplyScanner::Verdict verdict;
  size_t end;  // for kComplete: where the reply ends; npos = at the end of `bytes`
  bool closeEnds = false;
  const char* body = nullptr;  // the body bytes reported, where the row checks them
  bool saysClose = false;
};

const size_t kAll = std::string::npos;

// A reply that follows another in a file of several.
const char kNextReply[] = "HTTP/1.1 202 Accepted\r\nContent-Length: 3\r\n\r\nabc";

std::vector<Case> Cases() {
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  return {
      {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", ReplyScanner::kComplete, kAll, false,
       "hello"},
      {"content length, bytes after the end", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}EXTRA",
       ReplyScanner::kComplete, 40, false, "{}"},
      {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", ReplyScanner::kComplete, kAll},
      {"header names in any case", "HTTP/1.1 200 OK\r\ncOnTeNt-LeNgTh:   4  \r\n\r\n}}}}", ReplyScanner::kComplete,
       kAll},
      {"zero content length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ReplyScanner::kComplete, kAll},
      {"body not yet complete", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{\"a\": 1}", ReplyScanner::kNeedMore,
       kAll},
      {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", ReplyScanner::kComplete, kAll},
      {"304 has no body", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n", ReplyScanner::kComplete,
       kAll},
      {"interim 100 then final", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n}",
       ReplyScanner::kComplete, kAll},
      {"interim alone", "HTTP/1.1 100 Continue\r\n\r\n", ReplyScanner::kNeedMore, kAll},
      {"interim replies carry no body, whatever their fields",
       "HTTP/1.1 100 Continue\r\nContent-Length: 5\r\n\r\nHTTP/1.1 103 Early Hints\r\nTransfer-Encoding: chunked\r\n"
       "\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}",
       ReplyScanner::kComplete, kAll, false, "{}"},
      {"101 ends the reply at its empty line",
       "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nContent-Length: 5\r\n\r\n\x81\x05hello",
       ReplyScanner::kComplete, 75, false, ""},
      {"101 after an interim reply", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 101 Switching\nTransfer-Encoding: chunked\n\nzz",
       ReplyScanner::kComplete, 76},
      {"empty lines before a status line are skipped",
       "\r\nHTTP/1.1 100 Continue\r\n\r\n\r\n\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n}", ReplyScanner::kComplete,
       kAll, false, "}"},
      {"other bytes where a status line is expected",
       "HTTP/1.1 100 Continue\r\n\r\n\r\nHTTX/1.1 200 OK\r\n\r\n", ReplyScanner::kMalformed, 30},
      {"a lone CR where a status line is expected", "HTTP/1.1 100 Continue\r\n\r\n\rHTTP/1.1 200 OK\r\n\r\n",
       ReplyScanner::kMalformed, 26},
      {"chunked", chunkedHead + "4\r\n{\"a\"\r\n3\r\n: 1\r\n1\r\n}\r\n0\r\n\r\n", ReplyScanner::kComplete, kAll,
       false, "{\"a\": 1}"},
      {"chunked with extension and trailer",
       chunkedHead + "A;name=value\r\n0123456789\r\n0\r\nX-Trailer: yes\r\n\r\n", ReplyScanner::kComplete, kAll,
       false, "0123456789"},
      {"chunk-size line: blanks before an extension",
       chunkedHead + "2 ;name\r\nab\r\n2\t;x\r\ncd\r\n1  \r\ne\r\n0\r\n\r\n", ReplyScanner::kComplete, kAll, false,
       "abcde"},
      {"chunk-size line: no extension after blanks", chunkedHead + "2 erfrferferf\r\nab\r\n0\r\n\r\n",
       ReplyScanner::kMalformed, chunkedHead.size() + 2},
      {"chunk-size line: digits after blanks", chunkedHead + "2 2\r\nab\r\n", ReplyScanner::kMalformed,
       chunkedHead.size() + 2},
      {"chunked, upper-case hex, bare LF", "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\nB\n0123456789A\n0\n\n",
       ReplyScanner::kComplete, kAll, false, "0123456789A"},
      {"chunked wins over length",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       ReplyScanner::kComplete, kAll},
      {"chunked as the last of several codings",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip,  Chunked \r\n\r\n1\r\nx\r\n0\r\n\r\n", ReplyScanner::kComplete,
       kAll},
      {"chunked, stopped mid-trailer", chunkedHead + "1\r\nx\r\n0\r\nX-Trail", ReplyScanner::kNeedMore, kAll},
      {"chunked, stopped mid-size line", chunkedHead + "1\r\nx\r\n1", ReplyScanner::kNeedMore, kAll},
      {"other coding runs until close", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nabc",
       ReplyScanner::kNeedMore, kAll, true},
      {"another coding beside a length runs until close",
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: gzip\r\n\r\nabc", ReplyScanner::kNeedMore, kAll, true},
      {"a coding that is the start of chunked is another",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunk\r\n\r\n0\r\n\r\n", ReplyScanner::kNeedMore, kAll, true},
      {"no length runs until close", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>}</html>",
       ReplyScanner::kNeedMore, kAll, true, "<html>}</html>"},
      {"HTTP/1.0 without length", "HTTP/1.0 200 OK\r\n\r\n{}", ReplyScanner::kNeedMore, kAll, true},
      {"headers not yet complete", "HTTP/1.1 200 OK\r\nContent-Le", ReplyScanner::kNeedMore, kAll},
      {"folded header line ignored", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  more\r\nContent-Length: 1\r\n\r\n}",
       ReplyScanner::kComplete, kAll},
      {"very long header name and value",
       "HTTP/1.1 200 OK\r\n" + std::string(300, 'N') + ": " + std::string(5000, 'v') + "\r\nContent-Length: 1\r\n\r\nz",
       ReplyScanner::kComplete, kAll},
      {"a blank between a length's digits", "HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n\r\nab",
       ReplyScanner::kMalformed, 35},
      {"equal repeated lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nz",
       ReplyScanner::kComplete, kAll},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n", ReplyScanner::kMalformed, 0},
      {"status code not digits", "HTTP/1.1 2x0 OK\r\n\r\n", ReplyScanner::kMalformed, 10},
      {"chunk size not hex", chunkedHead + "zz\r\n", ReplyScanner::kMalformed, chunkedHead.size()},
      {"chunk-size line without digits", chunkedHead + "\r\n0\r\n\r\n", ReplyScanner::kMalformed, chunkedHead.size()},
      {"chunk-size line without digits, bare LF", chunkedHead + "\n", ReplyScanner::kMalformed, chunkedHead.size()},
      {"chunk-size line: an extension without digits", chunkedHead + ";x\r\n", ReplyScanner::kMalformed,
       chunkedHead.size()},
      {"chunk-size line without digits after a chunk", chunkedHead + "1\r\nx\r\n\r\n", ReplyScanner::kMalformed,
       chunkedHead.size() + 6},
      {"chunk data without line end", chunkedHead + "1\r\nxy\r\n", ReplyScanner::kMalformed, chunkedHead.size() + 4},
      {"chunk size overflow", chunkedHead + "FFFFFFFFFFFFFFFFFF\r\n", ReplyScanner::kMalformed,
       chunkedHead.size() + 15},
      {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", ReplyScanner::kMalformed, 34},
      {"length empty", "HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n", ReplyScanner::kMalformed, 34},
      {"differing repeated lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
       ReplyScanner::kMalformed, 54},
      {"length overflow", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n",
       ReplyScanner::kMalformed, 51},
      {"Connection: close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\n}",
       ReplyScanner::kComplete, kAll, false, "}", true},
      {"close among other options", "HTTP/1.1 200 OK\r\nconnection:keep-alive,  CLOSE \r\nContent-Length: 0\r\n\r\n",
       ReplyScanner::kComplete, kAll, false, "", true},
      {"close in another field or option", "HTTP/1.1 200 OK\r\nX-Connection: close\r\nConnection: closed, "
       "close-later\r\nContent-Length: 0\r\n\r\n", ReplyScanner::kComplete, kAll, false, "", false},
      {"close on an interim reply only", "HTTP/1.1 100 Continue\r\nConnection: close\r\n\r\nHTTP/1.1 200 OK\r\n"
       "Content-Length: 0\r\n\r\n", ReplyScanner::kComplete, kAll, false, "", false},
  };
}

TEST(ReplyScanner, SameVerdictAtEverySplit) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Outcome expected{c.verdict, c.end == kAll ? c.bytes.size() : c.end, c.closeEnds, c.saysClose};
    std::string body;
    EXPECT_EQ(Scan(c.bytes, {}, &body), expected) << "whole";
    if (c.body) {
      EXPECT_EQ(body, c.body) << "whole";
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < c.bytes.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(Scan(c.bytes, everyByte, &body), expected) << "byte by byte";
    if (c.body) {
      EXPECT_EQ(body, c.body) << "byte by byte";
    }
    // The first split that goes wrong is reported and ends this row's
    // splits; the other rows still run, so every failing row shows.
    bool same = true;
    for (size_t cut = 0; same && cut <= c.bytes.size(); ++cut) {
      same = Scan(c.bytes, {cut}) == expected;
      EXPECT_TRUE(same) << "split at " << cut << ": " << ::testing::PrintToString(Scan(c.bytes, {cut}));
      for (size_t second = cut; same && c.bytes.size() < 200 && second <= c.bytes.size(); second += 3) {
        same = Scan(c.bytes, {cut, second}) == expected;
        EXPECT_TRUE(same) << "split at " << cut << " and " << second << ": "
                      << ::testing::PrintToString(Scan(c.bytes, {cut, second}));
      }
    }
  }
}

TEST(ReplyScanner, VerdictSticksAfterTheEnd) {
  ReplyScanner scanner;
  std::string reply = "HTTP/1.1 204 No Content\r\n\r\n";
  size_t used = 0;
  ASSERT_EQ(scanner.Feed(reply.data(), reply.size(), &used), ReplyScanner::kComplete);
  EXPECT_EQ(scanner.Feed("more", 4, &used), ReplyScanner::kComplete);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(scanner.status(), 204);
}

TEST(ReplyScanner, EmptyPiecesChangeNothing) {
  ReplyScanner scanner;
  size_t used = 1;
  EXPECT_EQ(scanner.Feed("", 0, &used), ReplyScanner::kNeedMore);
  EXPECT_EQ(used, 0u);
  EXPECT_FALSE(scanner.CloseEndsReply());
}

// The reader of response files shares the framing: every case above, read
// back from a file, gives the final status and body, or 26 where the file
// holds no whole reply.
TEST(ReplyReader, ReadsEveryFramingCaseFromAFile) {
  testsupport::TempDir dir;
  const std::u16string reply = PathText(dir / "reply"), body = PathText(dir / "body");
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir / "reply", c.bytes);
    testsupport::WriteFile(dir / "body", "stale");
    auto read = taskclient::ReadReply(taskclient::SystemPlatform(), T(reply), T(body));
    std::string expectedBody;
    const bool whole = c.verdict == ReplyScanner::kComplete || c.closeEnds;
    Scan(c.bytes, {}, &expectedBody);
    if (whole) {
      EXPECT_EQ(read.result, taskclient::kOk);
      EXPECT_EQ(read.status, std::stoi(c.bytes.substr(c.bytes.rfind("HTTP/1.") + 9, 3)));
    } else {
      EXPECT_EQ(read.result, taskclient::kReplyCutShort);
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "body"), c.body && whole ? std::string(c.body) : expectedBody);
    // The reply after it (index 1): there when this one ends where the file
    // goes on, and none after one cut short, broken or ended by the close.
    const bool endsAtItsEnd = c.verdict == ReplyScanner::kComplete && c.end == kAll;
    testsupport::WriteFile(dir / "reply", endsAtItsEnd ? c.bytes + kNextReply : c.bytes);
    read = taskclient::ReadReplyAt(taskclient::SystemPlatform(), T(reply), 1, T(body));
    if (endsAtItsEnd) {
      EXPECT_EQ(read.result, taskclient::kOk);
      EXPECT_EQ(read.status, 202);
      EXPECT_EQ(testsupport::ReadFile(dir / "body"), "abc");
      EXPECT_EQ(taskclient::ReadReplyAt(taskclient::SystemPlatform(), T(reply), 2, T(body)).result,
                taskclient::kNoSuchReply);
    } else {
      // Bytes after a whole reply that begin no reply: that reply is broken.
      EXPECT_EQ(read.result, c.verdict == ReplyScanner::kComplete ? taskclient::kReplyCutShort
                                                                 : taskclient::kNoSuchReply);
    }
  }
}

// A file of replies back to back, as a sequence of requests leaves it: each
// reply by its index, with the interim replies before it skipped.
TEST(ReplyReader, ReadsTheReplyAtAnIndex) {
  testsupport::TempDir dir;
  const std::u16string reply = PathText(dir / "reply"), body = PathText(dir / "body");
  const std::string interimAndLength = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n{}";
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nxyz\r\n0\r\n\r\n";
  const std::string large = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'l');
  const std::string untilClose = "HTTP/1.0 200 OK\r\n\r\n" + std::string(kNextReply);
  const std::string cutShort = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nab";
  const std::string three = interimAndLength + chunked + kNextReply;
  struct Row {
    const char* why;
    std::string file;
    int32_t index;
    int32_t result;  // the status, or the code
    std::string body;
  } rows[] = {
      {"the first, after an interim reply", three, 0, 201, "{}"},
      {"the second, chunked", three, 1, 200, "xyz"},
      {"the third, by its length", three, 2, 202, "abc"},
      {"past the last", three, 3, TC_NO_SUCH_REPLY, ""},
      {"far past the last", three, INT32_MAX, TC_NO_SUCH_REPLY, ""},
      {"a negative index", three, -1, TC_BAD_ARGUMENT, "stale"},
      {"empty lines between replies", chunked + "\r\n\r\n" + kNextReply, 1, 202, "abc"},
      {"only empty lines after the last", chunked + "\r\n\n", 1, TC_NO_SUCH_REPLY, ""},
      {"after a reply longer than a read", large + chunked, 1, 200, "xyz"},
      {"the close ends the second", chunked + untilClose, 1, 200, kNextReply},
      {"nothing after one the close ends", chunked + untilClose, 2, TC_NO_SUCH_REPLY, ""},
      {"the one asked for cut short", chunked + cutShort, 1, TC_REPLY_CUT_SHORT, "ab"},
      {"one after a reply cut short", chunked + cutShort, 2, TC_NO_SUCH_REPLY, ""},
      {"an empty file", "", 0, TC_REPLY_CUT_SHORT, ""},
      {"an empty file, past its end", "", 1, TC_NO_SUCH_REPLY, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    testsupport::WriteFile(dir / "reply", row.file);
    testsupport::WriteFile(dir / "body", "stale");
    const taskclient::ReplyRead read = taskclient::ReadReplyAt(taskclient::SystemPlatform(), T(reply), row.index, T(body));
    EXPECT_EQ(read.result == taskclient::kOk ? read.status : static_cast<int32_t>(read.result), row.result);
    EXPECT_EQ(testsupport::ReadFile(dir / "body"), row.body);
  }
}

TEST(ReplyReader, RefusesWhatItCannotRead) {
  testsupport::TempDir dir;
  const std::u16string reply = PathText(dir / "reply"), body = PathText(dir / "body");
  const std::u16string missing = PathText(dir / "missing"), noFolder = PathText(dir / "no" / "body");
  const std::u16string full = u"/dev/full", null = u"/dev/null", folder = PathText(dir.path());
  const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
  testsupport::WriteFile(dir / "reply", whole);
  std::filesystem::create_hard_link(dir / "reply", dir / "link");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::u16string link = PathText(dir / "link"), fifo = PathText(dir / "fifo");
  const std::u16string lone = PathText(dir / "body") + std::u16string(1, char16_t(0xD800));
  struct Row {
    const char* why;
    const tc_text16* reply;
    const tc_text16* body;
    taskclient::Result result;
  } rows[] = {
      {"null reply path", nullptr, T(body), taskclient::kBadArgument},
      {"null body path", T(reply), nullptr, taskclient::kBadArgument},
      {"missing reply", T(missing), T(body), taskclient::kFileOpenFailed},
      {"body in a missing folder", T(reply), T(noFolder), taskclient::kFileOpenFailed},
      {"body cannot be written", T(reply), T(full), taskclient::kFileWriteFailed},
      {"body to a character device", T(reply), T(null), taskclient::kOk},
      // Neither file may block the call or read as empty.
      {"reply is a folder", T(folder), T(body), taskclient::kFileOpenFailed},
      {"reply is a FIFO", T(fifo), T(body), taskclient::kFileOpenFailed},
      {"body is a FIFO", T(reply), T(fifo), taskclient::kFileOpenFailed},
      // Writing the body over the reply would destroy both: nothing changes.
      {"body is the reply", T(reply), T(reply), taskclient::kBadArgument},
      {"body is the reply under another name", T(reply), T(link), taskclient::kBadArgument},
      {"lone surrogate in the body path", T(reply), T(lone), taskclient::kBadArgument},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(taskclient::ReadReply(taskclient::SystemPlatform(), row.reply, row.body).result, row.result);
    EXPECT_EQ(testsupport::ReadFile(dir / "reply"), whole);
  }
  // A status outside 100-599 is no HTTP reply the reader can report.
  testsupport::WriteFile(dir / "reply", "HTTP/1.1 999 Odd\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(taskclient::ReadReply(taskclient::SystemPlatform(), T(reply), T(body)).result, taskclient::kReplyCutShort);
  // Any size: a chunked listing far beyond one read.
  std::string listing = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", expected;
  for (int i = 0; i < 3000; ++i) {
    std::string item = "{\"id\": \"" + std::to_string(i) + "\", \"title\": \"" + std::string(40, 't') + "\"},";
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", item.size());
    listing += size + item + "\r\n";
    expected += item;
  }
  testsupport::WriteFile(dir / "reply", listing + "0\r\n\r\n");
  auto read = taskclient::ReadReply(taskclient::SystemPlatform(), T(reply), T(body));
  EXPECT_EQ(read.result, taskclient::kOk);
  EXPECT_EQ(read.status, 200);
  EXPECT_EQ(testsupport::ReadFile(dir / "body"), expected);
  // The reply after it, found past the many reads that listing takes.
  testsupport::WriteFile(dir / "reply", listing + "0\r\n\r\n" + kNextReply);
  read = taskclient::ReadReplyAt(taskclient::SystemPlatform(), T(reply), 1, T(body));
  EXPECT_EQ(read.result, taskclient::kOk);
  EXPECT_EQ(read.status, 202);
  EXPECT_EQ(testsupport::ReadFile(dir / "body"), "abc");
}

}  // namespace
