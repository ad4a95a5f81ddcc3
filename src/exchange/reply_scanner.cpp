#include "exchange/reply_scanner.h"

#include "text/hex.h"

namespace taskclient {

namespace {

const char kHttpPrefix[] = "HTTP/";
const char kLengthName[] = "content-length";
const char kCodingName[] = "transfer-encoding";
const char kChunked[] = "chunked";
const char kConnectionName[] = "connection";
const char kClose[] = "close";
const unsigned kNoMatch = ~0u;

// Lengths beyond this are refused as broken framing; the arithmetic on them
// can then never wrap.
const uint64_t kMaxLength = (static_cast<uint64_t>(1) << 60);

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether `c` (lower case) continues `literal` at `position`.
template <size_t N>
bool Continues(const char (&literal)[N], unsigned position, char c) {
  return position < N - 1 && literal[position] == c;
}

}  // namespace

ReplyScanner::ReplyScanner(BodySink* body) : body_(body) { StartMessage(); }

void ReplyScanner::StartMessage() {
  state_ = kStatusStart;
  status_ = 0;
  position_ = 0;
  field_ = kOtherField;
  mayBeLength_ = false;
  mayBeCoding_ = false;
  mayBeConnection_ = false;
  saysClose_ = false;
  closeMatched_ = kNoMatch;
  codingMatched_ = kNoMatch;
  codingInToken_ = false;
  chunked_ = false;
  codingSeen_ = false;
  lengthSeen_ = false;
  lengthDigits_ = false;
  lengthDone_ = false;
  lineLength_ = 0;
  length_ = 0;
  remaining_ = 0;
}

bool ReplyScanner::CloseEndsReply() const { return state_ == kUntilClose; }

// The status line: "HTTP/", a version, a space, three digits, then anything
// to the line's end. Empty lines before it are skipped.
bool ReplyScanner::ScanStatusByte(char c) {
  switch (state_) {
    case kStatusStart:
      if (c == '\n') return true;
      if (c == '\r') {
        state_ = kStatusBlankCr;
        return true;
      }
      state_ = kStatusPrefix;
      position_ = 0;
      // fall through
    case kStatusPrefix:
      if (c != kHttpPrefix[position_]) return false;
      if (++position_ == sizeof kHttpPrefix - 1) state_ = kStatusVersion;
      return true;
    case kStatusBlankCr:
      if (c != '\n') return false;
      state_ = kStatusStart;
      return true;
    case kStatusVersion:
      if (c == ' ') {
        state_ = kStatusCode;
        position_ = 0;
        return true;
      }
      return c != '\n' && c != '\r';
    case kStatusCode:
      if (position_ < 3) {
        if (c < '0' || c > '9') return false;
        status_ = status_ * 10 + (c - '0');
        ++position_;
        return true;
      }
      if (c == '\n') {
        state_ = kLineStart;
        return true;
      }
      if (c != ' ' && c != '\r') return false;
      state_ = kStatusRest;
      return true;
    default:  // kStatusRest
      if (c == '\n') state_ = kLineStart;
      return true;
  }
}

// Header lines up to the empty line that ends them.
bool ReplyScanner::ScanHeaderByte(char c) {
  switch (state_) {
    case kLineStart:
      if (c == '\n') {
        EndHeaders();
        return true;
      }
      if (c == '\r') {
        state_ = kHeadersEndCr;
        return true;
      }
      if (IsBlank(c)) {  // an obsolete folded continuation: carries nothing we read
        state_ = kSkipLine;
        return true;
      }
      state_ = kHeaderName;
      position_ = 0;
      mayBeLength_ = true;
      mayBeCoding_ = true;
      mayBeConnection_ = true;
      return ScanHeaderName(c);
    case kHeaderName:
      return ScanHeaderName(c);
    case kHeaderValue:
      return ScanHeaderValue(c);
    case kHeadersEndCr:
      if (c != '\n') return false;
      EndHeaders();
      return true;
    default:  // kSkipLine
      if (c == '\n') state_ = kLineStart;
      return true;
  }
}

// The name is matched against the two names read, byte by byte in place.
bool ReplyScanner::ScanHeaderName(char c) {
  if (c == ':') {
    field_ = kOtherField;
    if (mayBeLength_ && position_ == sizeof kLengthName - 1) {
      field_ = kContentLength;
      lengthDigits_ = false;
      lengthDone_ = false;
      lineLength_ = 0;
    } else if (mayBeCoding_ && position_ == sizeof kCodingName - 1) {
      field_ = kTransferEncoding;
      codingMatched_ = kNoMatch;  // a later header line replaces an earlier one's last coding
      codingInToken_ = false;
    } else if (mayBeConnection_ && position_ == sizeof kConnectionName - 1) {
      field_ = kConnection;
      closeMatched_ = 0;
    }
    state_ = kHeaderValue;
    return true;
  }
  if (c == '\n') {  // a line without a colon: nothing we read
    state_ = kLineStart;
    return true;
  }
  if (c == '\r') return true;
  char lower = Lower(c);
  mayBeLength_ = mayBeLength_ && Continues(kLengthName, position_, lower);
  mayBeCoding_ = mayBeCoding_ && Continues(kCodingName, position_, lower);
  mayBeConnection_ = mayBeConnection_ && Continues(kConnectionName, position_, lower);
  if (mayBeLength_ || mayBeCoding_ || mayBeConnection_) ++position_;
  return true;
}

bool ReplyScanner::ScanHeaderValue(char c) {
  if (c == '\n') {
    if (!EndHeaderLine()) return false;
    state_ = kLineStart;
    return true;
  }
  if (c == '\r') return true;
  if (field_ == kContentLength) {
    if (c >= '0' && c <= '9' && !lengthDone_) {
      if (lineLength_ > kMaxLength / 10) return false;
      lineLength_ = lineLength_ * 10 + static_cast<unsigned>(c - '0');
      lengthDigits_ = true;
      return true;
    }
    if (IsBlank(c)) {
      if (lengthDigits_) lengthDone_ = true;
      return true;
    }
    return false;
  }
  if (field_ == kConnection) {
    // Options are separated by commas or white space; "close" among them
    // says the server closes after this reply.
    if (c == ',' || IsBlank(c)) {
      if (closeMatched_ == sizeof kClose - 1) saysClose_ = true;
      closeMatched_ = 0;
    } else if (closeMatched_ != kNoMatch && Continues(kClose, closeMatched_, Lower(c))) {
      ++closeMatched_;
    } else {
      closeMatched_ = kNoMatch;
    }
    return true;
  }
  if (field_ == kTransferEncoding) {
    // Codings are separated by commas or white space; only whether the last
    // one is "chunked" matters.
    if (c == ',') {
      codingInToken_ = false;
      codingMatched_ = kNoMatch;
    } else if (IsBlank(c)) {
      codingInToken_ = false;
    } else {
      if (!codingInToken_) codingMatched_ = 0;
      codingInToken_ = true;
      if (codingMatched_ != kNoMatch && Continues(kChunked, codingMatched_, Lower(c))) {
        ++codingMatched_;
      } else {
        codingMatched_ = kNoMatch;
      }
    }
  }
  return true;
}

// Called at the line feed of a header line; false when the line breaks the
// framing.
bool ReplyScanner::EndHeaderLine() {
  if (field_ == kContentLength) {
    if (!lengthDigits_) return false;
    if (lengthSeen_ && lineLength_ != length_) return false;
    lengthSeen_ = true;
    length_ = lineLength_;
  } else if (field_ == kTransferEncoding) {
    chunked_ = codingMatched_ == sizeof kChunked - 1;
    codingSeen_ = true;
  } else if (field_ == kConnection && closeMatched_ == sizeof kClose - 1) {
    saysClose_ = true;
  }
  field_ = kOtherField;
  return true;
}

// The message's last transfer coding decides: chunked ends by its framing,
// any other runs until the close.
void ReplyScanner::EndHeaders() {
  if (status_ == 101) {
    state_ = kDone;
    return;
  }
  if (status_ >= 100 && status_ < 200) {
    StartMessage();
    return;
  }
  if (status_ == 204 || status_ == 304) {
    state_ = kDone;
    return;
  }
  remaining_ = 0;
  position_ = 0;
  if (codingSeen_) {
    state_ = chunked_ ? kChunkSize : kUntilClose;
  } else if (lengthSeen_) {
    remaining_ = length_;
    state_ = length_ == 0 ? kDone : kBody;
  } else {
    state_ = kUntilClose;
  }
}

void ReplyScanner::EndChunkSizeLine() { state_ = remaining_ == 0 ? kTrailerLineStart : kChunkData; }

// Chunk-size lines, the line end after each chunk's data, and the trailer.
bool ReplyScanner::ScanChunkByte(char c) {
  switch (state_) {
    case kChunkSize: {
      int digit = HexValue(static_cast<unsigned char>(c));
      if (digit >= 0) {
        if (remaining_ > kMaxLength / 16) return false;
        remaining_ = remaining_ * 16 + static_cast<unsigned>(digit);
        ++position_;
        return true;
      }
      if (position_ == 0) return false;
      state_ = kChunkSizeBlank;
    }
      // fall through
    case kChunkSizeBlank:
      // After the digits: blanks, then an extension, or the line's end.
      if (IsBlank(c)) return true;
      if (c == ';') {
        state_ = kChunkExtension;
        return true;
      }
      if (c == '\r') {
        state_ = kChunkSizeCr;
        return true;
      }
      if (c != '\n') return false;
      EndChunkSizeLine();
      return true;
    case kChunkExtension:
      if (c == '\n') EndChunkSizeLine();
      return true;
    case kChunkSizeCr:
      if (c != '\n') return false;
      EndChunkSizeLine();
      return true;
    case kChunkDataEnd:
      if (c == '\r') {
        state_ = kChunkDataCr;
        return true;
      }
      if (c != '\n') return false;
      // fall through
    case kChunkDataCr:
      if (c != '\n') return false;
      state_ = kChunkSize;
      position_ = 0;
      remaining_ = 0;
      return true;
    case kTrailerLineStart:
      if (c == '\n') {
        state_ = kDone;
        return true;
      }
      state_ = c == '\r' ? kTrailerEndCr : kTrailerLine;
      return true;
    case kTrailerLine:
      if (c == '\n') state_ = kTrailerLineStart;
      return true;
    default:  // kTrailerEndCr
      if (c != '\n') return false;
      state_ = kDone;
      return true;
  }
}

ReplyScanner::Verdict ReplyScanner::Feed(const char* bytes, size_t length, size_t* consumed) {
  size_t i = 0;
  while (i < length && state_ != kDone && state_ != kBroken) {
    if (state_ == kUntilClose) {
      if (body_) body_->TakeBody(bytes + i, length - i);
      i = length;
    } else if (state_ == kBody || state_ == kChunkData) {
      size_t available = length - i;
      size_t take = remaining_ < available ? static_cast<size_t>(remaining_) : available;
      if (body_) body_->TakeBody(bytes + i, take);
      remaining_ -= take;
      i += take;
      if (remaining_ == 0) state_ = state_ == kBody ? kDone : kChunkDataEnd;
    } else {
      bool framed;
      if (state_ <= kStatusRest) {
        framed = ScanStatusByte(bytes[i]);
      } else if (state_ <= kHeadersEndCr) {
        framed = ScanHeaderByte(bytes[i]);
      } else {
        framed = ScanChunkByte(bytes[i]);
      }
      if (!framed) {
        state_ = kBroken;
        break;
      }
      ++i;
    }
  }
  *consumed = i;
  if (state_ == kDone) return kComplete;
  if (state_ == kBroken) return kMalformed;
  return kNeedMore;
}

}  // namespace taskclient
