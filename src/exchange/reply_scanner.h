// Finds where an HTTP/1.1 reply ends, one received piece at a time, without
// keeping or changing any byte of it. The answer is the same however the
// reply is split into pieces: the state is a small set of named positions and
// counters, and every piece is read to its end or to the end of the reply.
//
// Framing, in order of precedence:
//   - empty lines where a status line is expected are skipped;
//   - a 1xx reply never has a body: it ends at its empty line, whatever its
//     fields say. 101 (Switching Protocols) ends the whole reply there, since
//     no HTTP reply follows it on the connection; any other 1xx is interim
//     and the final reply follows;
//   - 204 and 304 end at the empty line after the headers;
//   - "Transfer-Encoding: chunked" ends after the zero-size chunk and the
//     trailer section; any other transfer coding runs until the close. A
//     chunk-size line is hex digits, optional blanks, then optional
//     extensions introduced by ';';
//   - "Content-Length: N" ends after N body bytes;
//   - otherwise the reply runs until the server closes the connection.
// Line ends may be CRLF or a bare LF.
//
// A scanner given a BodySink also reports the final reply's body bytes, with
// the chunked framing (sizes, extensions, trailers) left out.
#ifndef TASKCLIENT_EXCHANGE_REPLY_SCANNER_H
#define TASKCLIENT_EXCHANGE_REPLY_SCANNER_H

#include <stddef.h>

#include "portable.h"

namespace taskclient {

// Receives the body bytes of the final reply, in order, as they are scanned.
class BodySink {
 public:
  virtual void TakeBody(const char* bytes, size_t length) = 0;
  // No destructor is declared: a sink is never deleted through this class.
};

class ReplyScanner {
 public:
  enum Verdict {
    kNeedMore,   // the reply goes on
    kComplete,   // the reply ended within this piece
    kMalformed   // the framing is broken; where the reply ends cannot be known
  };

  explicit ReplyScanner(BodySink* body = 0);

  // Scans the next `length` bytes of the reply. On kComplete, `*consumed` is
  // the number of bytes of this piece up to and including the reply's last
  // byte; otherwise it is the number of bytes scanned. Once a verdict other
  // than kNeedMore is given, it is given again for any further bytes.
  Verdict Feed(const char* bytes, size_t length, size_t* consumed);

  // Starts on the next reply of the connection, as a new scanner would.
  void Restart() { StartMessage(); }

  // Whether the server closing the connection now ends the reply properly:
  // true only for a reply whose body is delimited by the close.
  bool CloseEndsReply() const;

  // Whether the final reply's "Connection" field holds "close": the server
  // closes the connection after it.
  bool SaysClose() const { return saysClose_; }

  // The status code of the reply being scanned (0 before it is known).
  int status() const { return status_; }

  // Whether the final reply's head has been scanned to the empty line that
  // ends it: the bytes after it are the body, or belong to no reply.
  bool HeadEnded() const { return state_ >= kChunkSize && state_ != kBroken; }

 private:
  enum State {
    // status line
    kStatusStart,
    kStatusBlankCr,
    kStatusPrefix,
    kStatusVersion,
    kStatusCode,
    kStatusRest,
    // header section
    kLineStart,
    kHeaderName,
    kHeaderValue,
    kSkipLine,
    kHeadersEndCr,
    // chunked body
    kChunkSize,
    kChunkSizeBlank,
    kChunkExtension,
    kChunkSizeCr,
    kChunkDataEnd,
    kChunkDataCr,
    kTrailerLineStart,
    kTrailerLine,
    kTrailerEndCr,
    // bulk bytes and ends
    kBody,
    kChunkData,
    kUntilClose,
    kDone,
    kBroken
  };
  enum Field { kOtherField, kContentLength, kTransferEncoding, kConnection };

  void StartMessage();
  bool ScanStatusByte(char c);
  bool ScanHeaderByte(char c);
  bool ScanHeaderName(char c);
  bool ScanHeaderValue(char c);
  bool ScanChunkByte(char c);
  bool EndHeaderLine();
  void EndHeaders();
  void EndChunkSizeLine();

  BodySink* body_;
  State state_;
  int status_;
  unsigned position_;  // bytes matched within the current token
  Field field_;
  bool mayBeLength_;   // the header name so far matches "content-length"
  bool mayBeCoding_;   // ... "transfer-encoding"
  bool mayBeConnection_;  // ... "connection"
  bool saysClose_;        // a "Connection" field held "close"
  unsigned closeMatched_;  // bytes of "close" the current option matches
  unsigned codingMatched_;  // bytes of "chunked" the value's last coding matches
  bool codingInToken_;      // the previous value byte belonged to a coding
  bool chunked_;            // the last coding named so far is chunked
  bool codingSeen_;
  bool lengthSeen_;
  bool lengthDigits_;
  bool lengthDone_;    // digits ended; only white space may follow
  uint64_t lineLength_;  // Content-Length value on the current line
  uint64_t length_;      // Content-Length of the message
  uint64_t remaining_;   // body or chunk bytes still to come
};

}  // namespace taskclient

#endif
