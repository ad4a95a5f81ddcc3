// Finds where an HTTP/1.1 reply ends, one received piece at a time, without
// keeping or changing any byte of it. The answer is the same however the
// reply is split into pieces: the state is a small set of named positions and
// counters, and every piece is read to its end or to the end of the reply.
//
// Framing, in order of precedence:
//   - 1xx replies (but 101) are interim: they end at their empty line and the
//     final reply follows;
//   - 204 and 304 end at the empty line after the headers;
//   - "Transfer-Encoding: chunked" ends after the zero-size chunk and the
//     trailer section; any other transfer coding runs until the close;
//   - "Content-Length: N" ends after N body bytes;
//   - otherwise the reply runs until the server closes the connection.
// Line ends may be CRLF or a bare LF.
#ifndef TASKCLIENT_EXCHANGE_REPLY_SCANNER_H
#define TASKCLIENT_EXCHANGE_REPLY_SCANNER_H

#include <stddef.h>
#include <stdint.h>

namespace taskclient {

class ReplyScanner {
 public:
  enum Verdict {
    kNeedMore,   // the reply goes on
    kComplete,   // the reply ended within this piece
    kMalformed,  // the framing is broken; where the reply ends cannot be known
  };

  ReplyScanner();

  // Scans the next `length` bytes of the reply. On kComplete, `*consumed` is
  // the number of bytes of this piece up to and including the reply's last
  // byte; otherwise it is the number of bytes scanned. Once a verdict other
  // than kNeedMore is given, it is given again for any further bytes.
  Verdict Feed(const char* bytes, size_t length, size_t* consumed);

  // Whether the server closing the connection now ends the reply properly:
  // true only for a reply whose body is delimited by the close.
  bool CloseEndsReply() const;

  // The status code of the reply being scanned (0 before it is known).
  int status() const { return status_; }

 private:
  enum State {
    kStatusPrefix,
    kStatusVersion,
    kStatusCode,
    kStatusRest,
    kLineStart,
    kHeaderName,
    kHeaderValue,
    kSkipLine,
    kHeadersEndCr,
    kBody,
    kChunkSize,
    kChunkExtension,
    kChunkSizeCr,
    kChunkData,
    kChunkDataEnd,
    kChunkDataCr,
    kTrailerLineStart,
    kTrailerLine,
    kTrailerEndCr,
    kUntilClose,
    kDone,
    kBroken,
  };
  enum Field { kOtherField, kContentLength, kTransferEncoding };

  void StartMessage();
  bool EndHeaderLine();
  void PushCoding(char c);
  void EndHeaders();
  bool ScanByte(char c);

  State state_;
  int status_;
  unsigned position_;  // bytes matched within the current token
  Field field_;
  char name_[20];
  unsigned nameLength_;
  char coding_[24];    // last bytes of the Transfer-Encoding value, lower case
  unsigned codingLength_;
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
