#include "readers/field_reader.h"

#include "exchange/arguments.h"
#include "readers/reply_reader.h"
#include "text/utf8.h"

namespace taskclient {

namespace {

const unsigned long kMostLevels = static_cast<unsigned long>(-1);
const uint32_t kMostElements = 0xFFFFFFFFu;

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

// Bytes a JSON string, number or literal begins with.
bool BeginsScalar(unsigned char byte) {
  return byte == '"' || byte == '-' || IsDigit(byte) || byte == 't' || byte == 'f' || byte == 'n';
}

int HexDigit(unsigned char byte) {
  if (IsDigit(byte)) return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

}  // namespace

Result CheckFieldPath(const tc_text16* path) {
  if (CheckTextArgument(path) != kOk || path[0] == 0) return kBadArgument;
  size_t segments = 1;
  for (size_t i = 0; path[i] != 0; ++i) {
    if (path[i] != '.') continue;
    // A dot must stand between two segments.
    if (i == 0 || path[i - 1] == '.' || path[i + 1] == 0) return kBadArgument;
    ++segments;
  }
  return segments <= kMaxFieldSegments ? kOk : kBadArgument;
}

FieldReader::FieldReader(const tc_text16* path, tc_text16* value, size_t capacity)
    : path_(path), segment_(0), segmentEnd_(0), stepsLeft_(true), index_(0), indexStep_(false),
      countStep_(false), value_(value), capacity_(capacity), length_(0), kind_(kNone), state_(kValue),
      verdict_(kNeedMore), depth_(0), pathDepth_(0), countDepth_(0), elements_(0), wanted_(true),
      nameMatches_(false), nameAt_(0), inValue_(false), rawText_(false), valueDone_(false),
      stringPart_(kCharacters), stringRole_(kSkipped), memberName_(false), hexDigits_(0), hex_(0), high_(0), utf8Left_(0),
      utf8Code_(0), utf8Low_(0x80), utf8High_(0xBF), numberPart_(kInteger), literal_(""), bracketDepth_(0),
      bracketOpen_('['), bracketString_(false), bracketEscape_(false) {
  for (size_t i = 0; i < sizeof kinds_; ++i) kinds_[i] = 0;
  LoadSegment(0);
}

void FieldReader::LoadSegment(size_t start) {
  segment_ = start;
  segmentEnd_ = start;
  indexStep_ = true;
  index_ = 0;
  while (path_[segmentEnd_] != 0 && path_[segmentEnd_] != '.') {
    const tc_text16 unit = path_[segmentEnd_];
    if (unit >= '0' && unit <= '9') {
      const uint32_t digit = static_cast<uint32_t>(unit - '0');
      // An index beyond any array's reach stays beyond it.
      index_ = index_ > (kMostElements - digit) / 10 ? kMostElements : index_ * 10 + digit;
    } else {
      indexStep_ = false;
    }
    ++segmentEnd_;
  }
  countStep_ = segmentEnd_ == start + 1 && path_[start] == '#' && path_[segmentEnd_] == 0;
  stepsLeft_ = true;
}

void FieldReader::NextSegment() {
  if (path_[segmentEnd_] == 0) {
    stepsLeft_ = false;
  } else {
    LoadSegment(segmentEnd_ + 1);
  }
}

FieldReader::Verdict FieldReader::Feed(const char* bytes, size_t length) {
  for (size_t i = 0; i < length && state_ != kDecided; ++i) Step(static_cast<unsigned char>(bytes[i]));
  return verdict_;
}

FieldReader::Verdict FieldReader::End() {
  if (state_ != kDecided) Decide(kMalformed);
  return verdict_;
}

void FieldReader::Decide(Verdict verdict) {
  verdict_ = verdict;
  state_ = kDecided;
}

bool FieldReader::InObject() const {
  return depth_ > 0 && (kinds_[(depth_ - 1) / 8] & (1u << ((depth_ - 1) % 8))) != 0;
}

void FieldReader::EmitUnit(uint32_t unit) {
  if (value_ && length_ < capacity_) value_[length_] = static_cast<tc_text16>(unit);
  ++length_;
}

void FieldReader::Emit(uint32_t code) {
  if (code >= 0x10000) {
    EmitUnit(0xD800 + ((code - 0x10000) >> 10));
    EmitUnit(0xDC00 + (code & 0x3FF));
  } else {
    EmitUnit(code);
  }
}

void FieldReader::Step(unsigned char byte) {
  // A byte that ends a number is read again, in the state after the number.
  for (;;) {
    // The value's exact text: its ASCII bytes as they come (a number's once
    // it is known to hold them), the other characters once decoded.
    if (rawText_ && byte < 0x80 && state_ != kInNumber) EmitUnit(byte);
    switch (state_) {
      case kValue:
        if (!Blank(byte)) StartValue(byte);
        return;
      case kArrayFirst:
        if (Blank(byte)) return;
        if (byte == ']') {
          Close();
        } else {
          state_ = kValue;
          StartValue(byte);
        }
        return;
      case kObjectFirst:
      case kMemberName:
        if (Blank(byte)) return;
        if (byte == '}' && state_ == kObjectFirst) {
          Close();
        } else if (byte == '"') {
          BeginString(depth_ == pathDepth_ ? kName : kSkipped, true);
        } else {
          Decide(kMalformed);
        }
        return;
      case kColon:
        if (Blank(byte)) return;
        if (byte == ':') {
          state_ = kValue;
        } else {
          Decide(kMalformed);
        }
        return;
      case kAfterValue:
        if (Blank(byte)) return;
        if (byte == ',' || byte == (InObject() ? '}' : ']')) {
          if (valueDone_) {
            Decide(kFound);
          } else if (byte == ',') {
            state_ = InObject() ? kMemberName : kValue;
          } else {
            Close();
          }
        } else {
          Decide(kMalformed);
        }
        return;
      case kInString:
        StringByte(byte);
        return;
      case kInNumber:
        if (NumberByte(byte)) {
          if (rawText_) EmitUnit(byte);
          return;
        }
        if (numberPart_ != kZero && numberPart_ != kInteger && numberPart_ != kFraction && numberPart_ != kExponent) {
          Decide(kMalformed);
          return;
        }
        ValueEnded();
        continue;
      case kInLiteral:
        if (byte != static_cast<unsigned char>(*literal_)) {
          Decide(kMalformed);
        } else if (*++literal_ == 0) {
          ValueEnded();
        }
        return;
      case kBracketsOnly:
        BracketsOnlyByte(byte);
        return;
      case kDecided:
        return;
    }
  }
}

void FieldReader::StartValue(unsigned char byte) {
  if (countDepth_ != 0 && depth_ == countDepth_) {
    if (elements_ != kMostElements) ++elements_;
  } else if (pathDepth_ != 0 && depth_ == pathDepth_ && !InObject()) {
    wanted_ = elements_ == index_;
    if (wanted_) NextSegment();
    if (elements_ != kMostElements) ++elements_;
  }
  const bool itself = wanted_ && !stepsLeft_;
  if (wanted_) {
    wanted_ = false;
    if (!itself) {
      Descend(byte);
      return;
    }
    inValue_ = true;
    rawText_ = byte != '"';
    if (rawText_) EmitUnit(byte);
  }
  switch (byte) {
    case '{':
    case '[':
      if (itself) kind_ = byte == '{' ? kObject : kArray;
      Open(byte);
      return;
    case '"':
      if (itself) kind_ = kString;
      BeginString(itself ? kWanted : kSkipped, false);
      return;
    case 't':
    case 'f':
    case 'n':
      if (itself) kind_ = kLiteral;
      literal_ = byte == 't' ? "rue" : byte == 'f' ? "alse" : "ull";
      state_ = kInLiteral;
      return;
    default:
      if (byte != '-' && !IsDigit(byte)) {
        Decide(kMalformed);
        return;
      }
      if (itself) kind_ = kNumber;
      numberPart_ = byte == '-' ? kMinus : byte == '0' ? kZero : kInteger;
      state_ = kInNumber;
      return;
  }
}

void FieldReader::Descend(unsigned char byte) {
  if (byte == '{' || (byte == '[' && indexStep_)) {
    Open(byte);
    pathDepth_ = depth_;
    elements_ = 0;
  } else if (byte == '[' && countStep_) {
    inValue_ = true;
    kind_ = kCount;
    Open(byte);
    countDepth_ = depth_;
    elements_ = 0;
  } else {
    Decide(BeginsScalar(byte) || byte == '[' ? kMissing : kMalformed);
  }
}

void FieldReader::Open(unsigned char byte) {
  if (depth_ >= kFieldKindLevels) {
    state_ = kBracketsOnly;
    bracketDepth_ = 1;
    bracketOpen_ = byte;
    bracketString_ = false;
    bracketEscape_ = false;
    return;
  }
  const unsigned bit = 1u << (depth_ % 8);
  if (byte == '{') {
    kinds_[depth_ / 8] = static_cast<unsigned char>(kinds_[depth_ / 8] | bit);
  } else {
    kinds_[depth_ / 8] = static_cast<unsigned char>(kinds_[depth_ / 8] & ~bit);
  }
  ++depth_;
  state_ = byte == '{' ? kObjectFirst : kArrayFirst;
}

void FieldReader::Close() {
  if (depth_ == pathDepth_) {
    Decide(kMissing);
    return;
  }
  if (depth_ == countDepth_) {
    // The count as decimal digits.
    char digits[12];
    size_t used = 0;
    uint32_t count = elements_;
    do {
      digits[used++] = static_cast<char>('0' + count % 10);
      count /= 10;
    } while (count != 0);
    while (used > 0) EmitUnit(static_cast<unsigned char>(digits[--used]));
    countDepth_ = 0;
  }
  --depth_;
  ValueEnded();
}

void FieldReader::ValueEnded() {
  state_ = kAfterValue;
  if (!inValue_ || depth_ != pathDepth_) return;
  inValue_ = false;
  rawText_ = false;
  valueDone_ = true;
  // A whole body that is the value ("#" of an array) has nothing after it.
  if (depth_ == 0) Decide(kFound);
}

void FieldReader::BeginString(StringRole role, bool memberName) {
  state_ = kInString;
  memberName_ = memberName;
  stringPart_ = kCharacters;
  stringRole_ = role;
  nameMatches_ = true;
  nameAt_ = segment_;
}

void FieldReader::TakeCharacter(uint32_t code) {
  if (stringRole_ == kWanted) {
    Emit(code);
  } else if (stringRole_ == kName) {
    const uint32_t units[2] = {code >= 0x10000 ? 0xD800 + ((code - 0x10000) >> 10) : code,
                               0xDC00 + (code & 0x3FF)};
    for (int i = 0; i < (code >= 0x10000 ? 2 : 1); ++i) {
      if (nameMatches_ && nameAt_ < segmentEnd_ && static_cast<uint16_t>(path_[nameAt_]) == units[i]) {
        ++nameAt_;
      } else {
        nameMatches_ = false;
      }
    }
  }
}

void FieldReader::StringByte(unsigned char byte) {
  switch (stringPart_) {
    case kCharacters:
      if (utf8Left_ > 0 || byte >= 0x80) {
        bool whole = false;
        if (!Utf8Byte(byte, &whole)) {
          Decide(kMalformed);
        } else if (whole) {
          if (rawText_) Emit(utf8Code_);
          TakeCharacter(utf8Code_);
        }
      } else if (byte == '"') {
        StringEnded();
      } else if (byte == '\\') {
        stringPart_ = kEscape;
      } else if (byte < 0x20) {
        Decide(kMalformed);
      } else {
        TakeCharacter(byte);
      }
      return;
    case kEscape: {
      static const char kEscapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
      stringPart_ = kCharacters;
      if (byte == 'u') {
        stringPart_ = kHex;
        hexDigits_ = 0;
        hex_ = 0;
        return;
      }
      for (size_t i = 0; i + 1 < sizeof kEscapes; i += 2) {
        if (byte == static_cast<unsigned char>(kEscapes[i])) {
          TakeCharacter(static_cast<unsigned char>(kEscapes[i + 1]));
          return;
        }
      }
      Decide(kMalformed);
      return;
    }
    case kHex: {
      const int digit = HexDigit(byte);
      if (digit < 0) {
        Decide(kMalformed);
        return;
      }
      hex_ = hex_ * 16 + static_cast<uint32_t>(digit);
      if (++hexDigits_ < 4) return;
      stringPart_ = kCharacters;
      const bool low = hex_ >= 0xDC00 && hex_ <= 0xDFFF;
      if (high_ != 0) {
        // Only the low half of a pair may follow a high one.
        if (!low) {
          Decide(kMalformed);
          return;
        }
        TakeCharacter(0x10000 + ((high_ - 0xD800) << 10) + (hex_ - 0xDC00));
        high_ = 0;
      } else if (hex_ >= 0xD800 && hex_ <= 0xDBFF) {
        high_ = hex_;
        stringPart_ = kLowBackslash;
      } else if (low) {
        Decide(kMalformed);
      } else {
        TakeCharacter(hex_);
      }
      return;
    }
    case kLowBackslash:
      if (byte == '\\') {
        stringPart_ = kLowU;
      } else {
        Decide(kMalformed);
      }
      return;
    case kLowU:
      if (byte == 'u') {
        stringPart_ = kHex;
        hexDigits_ = 0;
        hex_ = 0;
      } else {
        Decide(kMalformed);
      }
      return;
  }
}

void FieldReader::StringEnded() {
  if (stringRole_ == kName) {
    wanted_ = nameMatches_ && nameAt_ == segmentEnd_;
    if (wanted_) NextSegment();
    state_ = kColon;
  } else if (memberName_) {
    state_ = kColon;
  } else {
    ValueEnded();
  }
}

bool FieldReader::Utf8Byte(unsigned char byte, bool* whole) {
  *whole = false;
  if (utf8Left_ == 0) {
    // Lead bytes of the shortest forms of U+0080 to U+10FFFF, surrogates
    // left out: the ranges of the next byte see to that.
    utf8Low_ = 0x80;
    utf8High_ = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
      utf8Left_ = 1;
      utf8Code_ = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      utf8Left_ = 2;
      utf8Code_ = byte & 0x0Fu;
      if (byte == 0xE0) utf8Low_ = 0xA0;
      if (byte == 0xED) utf8High_ = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      utf8Left_ = 3;
      utf8Code_ = byte & 0x07u;
      if (byte == 0xF0) utf8Low_ = 0x90;
      if (byte == 0xF4) utf8High_ = 0x8F;
    } else {
      return false;
    }
    return true;
  }
  if (byte < utf8Low_ || byte > utf8High_) return false;
  utf8Code_ = (utf8Code_ << 6) | (byte & 0x3Fu);
  utf8Low_ = 0x80;
  utf8High_ = 0xBF;
  *whole = --utf8Left_ == 0;
  return true;
}

bool FieldReader::NumberByte(unsigned char byte) {
  const bool digit = IsDigit(byte);
  const bool exponent = byte == 'e' || byte == 'E';
  switch (numberPart_) {
    case kMinus:
      if (!digit) return false;
      numberPart_ = byte == '0' ? kZero : kInteger;
      return true;
    case kZero:
    case kInteger:
      if (digit && numberPart_ == kInteger) return true;
      if (byte == '.') {
        numberPart_ = kPoint;
      } else if (exponent) {
        numberPart_ = kExponentMark;
      } else {
        return false;
      }
      return true;
    case kPoint:
    case kFraction:
      if (digit) {
        numberPart_ = kFraction;
        return true;
      }
      if (numberPart_ == kFraction && exponent) {
        numberPart_ = kExponentMark;
        return true;
      }
      return false;
    case kExponentMark:
      if (byte == '+' || byte == '-') {
        numberPart_ = kExponentSign;
        return true;
      }
      if (!digit) return false;
      numberPart_ = kExponent;
      return true;
    case kExponentSign:
    case kExponent:
      if (!digit) return false;
      numberPart_ = kExponent;
      return true;
  }
  return false;
}

void FieldReader::BracketsOnlyByte(unsigned char byte) {
  if (utf8Left_ > 0 || byte >= 0x80) {
    bool whole = false;
    if (!Utf8Byte(byte, &whole)) {
      Decide(kMalformed);
    } else if (whole && rawText_) {
      Emit(utf8Code_);
    }
    return;
  }
  if (bracketEscape_) {
    bracketEscape_ = false;
  } else if (bracketString_) {
    bracketEscape_ = byte == '\\';
    bracketString_ = byte != '"';
  } else if (byte == '"') {
    bracketString_ = true;
  } else if (byte == '[' || byte == '{') {
    if (bracketDepth_ == kMostLevels) {
      Decide(kMalformed);
    } else {
      ++bracketDepth_;
    }
  } else if (byte == ']' || byte == '}') {
    if (--bracketDepth_ > 0) return;
    if ((bracketOpen_ == '[') != (byte == ']')) {
      Decide(kMalformed);
    } else {
      ValueEnded();
    }
  }
}

namespace {

// Reads the body file through `reader` until it gives a verdict.
Result Scan(Platform& platform, const tc_text16* bodyPath, FieldReader* reader) {
  File body = {kNoFile};
  if (!platform.OpenFileForReading(bodyPath, &body)) return kFileOpenFailed;
  char piece[kReadPieceCapacity];
  FieldReader::Verdict verdict = FieldReader::kNeedMore;
  while (verdict == FieldReader::kNeedMore) {
    const long got = platform.ReadFile(&body, piece, sizeof piece);
    if (got < 0) {
      verdict = FieldReader::kMalformed;
    } else {
      verdict = got == 0 ? reader->End() : reader->Feed(piece, static_cast<size_t>(got));
    }
  }
  platform.CloseFile(&body);
  if (verdict == FieldReader::kFound) return kExchangeComplete;
  return verdict == FieldReader::kMissing ? kFieldMissing : kReplyCutShort;
}

}  // namespace

Result ReadField(Platform& platform, const tc_text16* bodyPath, const tc_text16* fieldPath, tc_text16* value,
                 int32_t capacity) {
  if (!value || capacity < 1) return kBadArgument;
  value[0] = 0;
  if (CheckTextArgument(bodyPath) != kOk || CheckFieldPath(fieldPath) != kOk) return kBadArgument;
  // The value is measured first, so that the caller's buffer is written only
  // with a whole value.
  FieldReader measure(fieldPath, 0, 0);
  Result result = Scan(platform, bodyPath, &measure);
  if (result != kExchangeComplete) return result;
  const size_t room = static_cast<size_t>(capacity) - 1;
  if (measure.length() > room) return kTooLong;
  FieldReader reader(fieldPath, value, room);
  result = Scan(platform, bodyPath, &reader);
  if (result == kExchangeComplete && reader.length() == measure.length()) {
    value[reader.length()] = 0;
    return kExchangeComplete;
  }
  // The file changed between the two readings.
  value[0] = 0;
  return result == kExchangeComplete ? kReplyCutShort : result;
}

}  // namespace taskclient
