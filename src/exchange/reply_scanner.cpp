#include "exchange/reply_scanner.h"

#include <string.h>

namespace taskclient {

namespace {

const char kHttpPrefix[] = "HTTP/";
// Lengths beyond this are refused as broken framing; the arithmetic on them
// can then never wrap.
const uint64_t kMaxLength = (static_cast<uint64_t>(1) << 60);

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ReplyScanner::ReplyScanner() { StartMessage(); }

void ReplyScanner::StartMessage() {
  state_ = kStatusPrefix;
  status_ = 0;
  position_ = 0;
  field_ = kOtherField;
  nameLength_ = 0;
  codingLength_ = 0;
  codingSeen_ = false;
  lengthSeen_ = false;
  lengthDigits_ = false;
  lengthDone_ = false;
  lineLength_ = 0;
  length_ = 0;
  remaining_ = 0;
}

bool ReplyScanner::CloseEndsReply() const { return state_ == kUntilClose; }

// Called at the line feed of a header line; false when the line breaks the
// framing.
bool ReplyScanner::EndHeaderLine() {
  if (field_ == kContentLength) {
    if (!lengthDigits_) return false;
    if (lengthSeen_ && lineLength_ != length_) return false;
    lengthSeen_ = true;
    length_ = lineLength_;
  } else if (field_ == kTransferEncoding) {
    if (codingLength_ > 0 && coding_[codingLength_ - 1] == ' ') --codingLength_;
    codingSeen_ = true;
  }
  field_ = kOtherField;
  return true;
}

void ReplyScanner::PushCoding(char c) {
  if (codingLength_ == sizeof coding_) {  // keep the last bytes only
    memmove(coding_, coding_ + 1, sizeof coding_ - 1);
    --codingLength_;
  }
  coding_[codingLength_++] = c;
}

// The message's last transfer coding decides: chunked ends by its framing,
// any other runs until the close.
void ReplyScanner::EndHeaders() {
  if (status_ >= 100 && status_ < 200 && status_ != 101) {
    StartMessage();
    return;
  }
  if (status_ == 204 || status_ == 304) {
    state_ = kDone;
    return;
  }
  if (codingSeen_) {
    static const char kChunked[] = "chunked";
    const unsigned n = sizeof kChunked - 1;
    bool chunked = codingLength_ >= n && memcmp(coding_ + codingLength_ - n, kChunked, n) == 0 &&
                   (codingLength_ == n || coding_[codingLength_ - n - 1] == ',' ||
                    IsBlank(coding_[codingLength_ - n - 1]));
    state_ = chunked ? kChunkSize : kUntilClose;
    remaining_ = 0;
    position_ = 0;
    return;
  }
  if (lengthSeen_) {
    remaining_ = length_;
    state_ = length_ == 0 ? kDone : kBody;
    return;
  }
  state_ = kUntilClose;
}

// One byte of any part but the bulk of a body or chunk. False: framing broken.
bool ReplyScanner::ScanByte(char c) {
  switch (state_) {
    case kStatusPrefix:
      if (c != kHttpPrefix[position_]) return false;
      if (++position_ == sizeof kHttpPrefix - 1) state_ = kStatusVersion;
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
    case kStatusRest:
    case kSkipLine:
      if (c == '\n') state_ = kLineStart;
      return true;
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
      nameLength_ = 0;
      state_ = kHeaderName;
      // fall through
    case kHeaderName:
      if (c == ':') {
        static const char kLength[] = "content-length";
        static const char kCoding[] = "transfer-encoding";
        field_ = kOtherField;
        if (nameLength_ == sizeof kLength - 1 && memcmp(name_, kLength, nameLength_) == 0) {
          field_ = kContentLength;
          lengthDigits_ = false;
          lengthDone_ = false;
          lineLength_ = 0;
        } else if (nameLength_ == sizeof kCoding - 1 && memcmp(name_, kCoding, nameLength_) == 0) {
          field_ = kTransferEncoding;
          codingLength_ = 0;  // a later header line replaces an earlier one's last coding
        }
        state_ = kHeaderValue;
        return true;
      }
      if (c == '\n') {  // a line without a colon: nothing we read
        state_ = kLineStart;
        return true;
      }
      if (c == '\r') return true;
      if (nameLength_ < sizeof name_) name_[nameLength_] = Lower(c);
      if (nameLength_ <= sizeof name_) ++nameLength_;  // longer names match nothing
      return true;
    case kHeaderValue:
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
      if (field_ == kTransferEncoding) {
        // Runs of white space collapse to one blank, so the last coding can
        // be read off the end of the value.
        if (IsBlank(c)) {
          if (codingLength_ == 0 || coding_[codingLength_ - 1] == ' ') return true;
          c = ' ';
        }
        PushCoding(Lower(c));
      }
      return true;
    case kHeadersEndCr:
      if (c != '\n') return false;
      EndHeaders();
      return true;
    case kChunkSize: {
      int digit = HexValue(c);
      if (digit >= 0) {
        if (remaining_ > kMaxLength / 16) return false;
        remaining_ = remaining_ * 16 + static_cast<unsigned>(digit);
        ++position_;
        return true;
      }
      if (position_ == 0) return false;
      if (c == ';' || IsBlank(c)) {
        state_ = kChunkExtension;
        return true;
      }
      if (c == '\r') {
        state_ = kChunkSizeCr;
        return true;
      }
      if (c != '\n') return false;
      state_ = remaining_ == 0 ? kTrailerLineStart : kChunkData;
      return true;
    }
    case kChunkExtension:
      if (c == '\n') state_ = remaining_ == 0 ? kTrailerLineStart : kChunkData;
      return true;
    case kChunkSizeCr:
      if (c != '\n') return false;
      state_ = remaining_ == 0 ? kTrailerLineStart : kChunkData;
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
    case kTrailerEndCr:
      if (c != '\n') return false;
      state_ = kDone;
      return true;
    case kBody:
    case kChunkData:
    case kUntilClose:
    case kDone:
    case kBroken:
      break;
  }
  return true;
}

ReplyScanner::Verdict ReplyScanner::Feed(const char* bytes, size_t length, size_t* consumed) {
  size_t i = 0;
  while (i < length && state_ != kDone && state_ != kBroken) {
    if (state_ == kUntilClose) {
      i = length;
    } else if (state_ == kBody || state_ == kChunkData) {
      size_t available = length - i;
      size_t take = remaining_ < available ? static_cast<size_t>(remaining_) : available;
      remaining_ -= take;
      i += take;
      if (remaining_ == 0) state_ = state_ == kBody ? kDone : kChunkDataEnd;
    } else {
      if (!ScanByte(bytes[i])) {
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
