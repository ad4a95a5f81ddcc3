// The reply-end scanner on arbitrary bytes, split at arbitrary points. The
// first input byte chooses the splits; the rest is the reply. Each piece is
// copied into a heap block of exactly its size, so a read past a piece is
// caught. The verdict, the offset where it fell, whether a close would end
// the reply and the status code must be the same for the one-piece run, a
// byte-by-byte run, a run in pieces of a chosen size and a run cut at two
// chosen points; a verdict, once given, must stick.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "exchange/reply_scanner.h"
#include "fuzz_support.h"

using taskclient::ReplyScanner;

namespace {

struct Outcome {
  ReplyScanner::Verdict verdict;
  size_t end;  // offset just past the byte that decided, or everything on kNeedMore
  bool closeEnds;
  int status;
  bool operator==(const Outcome& o) const {
    return verdict == o.verdict && end == o.end && closeEnds == o.closeEnds && status == o.status;
  }
};

std::string Describe(const Outcome& o) {
  return "verdict " + std::to_string(o.verdict) + " end " + std::to_string(o.end) + " closeEnds " +
         std::to_string(o.closeEnds) + " status " + std::to_string(o.status);
}

// Feeds `reply` cut at `bounds` (ascending, each <= size).
Outcome Scan(const uint8_t* reply, size_t size, const std::vector<size_t>& bounds) {
  ReplyScanner scanner;
  size_t start = 0;
  std::vector<size_t> all = bounds;
  all.push_back(size);
  for (size_t bound : all) {
    if (bound < start) continue;
    size_t length = bound - start;
    std::unique_ptr<char[]> piece(new char[length > 0 ? length : 1]);
    if (length > 0) std::memcpy(piece.get(), reply + start, length);
    size_t used = ~static_cast<size_t>(0);
    ReplyScanner::Verdict verdict = scanner.Feed(piece.get(), length, &used);
    FUZZ_CHECK(used <= length, "consumed more than the piece");
    if (verdict != ReplyScanner::kNeedMore) {
      FUZZ_CHECK(verdict == ReplyScanner::kComplete || verdict == ReplyScanner::kMalformed, "unknown verdict");
      // The verdict sticks and takes nothing more.
      size_t again = 1;
      FUZZ_CHECK(scanner.Feed("HTTP/1.1 200 OK\r\n\r\n", 19, &again) == verdict, "verdict changed");
      FUZZ_CHECK(again == 0, "bytes taken after the verdict");
      FUZZ_CHECK(!scanner.CloseEndsReply(), "a decided reply still waits for the close");
      return Outcome{verdict, start + used, false, scanner.status()};
    }
    FUZZ_CHECK(used == length, "a piece without a verdict was not read to its end");
    start = bound;
  }
  return Outcome{ReplyScanner::kNeedMore, size, scanner.CloseEndsReply(), scanner.status()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned control = data[0];
  const uint8_t* reply = data + 1;
  const size_t length = size - 1;

  const Outcome whole = Scan(reply, length, {});
  FUZZ_CHECK(whole.status >= 0 && whole.status <= 999, Describe(whole));

  std::vector<size_t> everyByte;
  for (size_t i = 1; i < length; ++i) everyByte.push_back(i);
  Outcome bytewise = Scan(reply, length, everyByte);
  FUZZ_CHECK(bytewise == whole, Describe(whole) + " / byte by byte: " + Describe(bytewise));

  std::vector<size_t> stride;
  const size_t step = (control & 0x1F) + 2;
  for (size_t i = step; i < length; i += step) stride.push_back(i);
  Outcome strided = Scan(reply, length, stride);
  FUZZ_CHECK(strided == whole, Describe(whole) + " / pieces of " + std::to_string(step) + ": " + Describe(strided));

  // Two cuts, one of them possibly giving an empty piece.
  size_t first = length * (control >> 4) / 16;
  size_t second = first + (length - first) * (control & 0x0F) / 16;
  Outcome cut = Scan(reply, length, {first, second});
  FUZZ_CHECK(cut == whole, Describe(whole) + " / cut at " + std::to_string(first) + "," + std::to_string(second) +
                               ": " + Describe(cut));
  return 0;
}
