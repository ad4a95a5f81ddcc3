#include "readers/json_tokenizer.h"

#include "text/hex.h"

namespace taskclient {

namespace {

const unsigned long kMostLevels = static_cast<unsigned long>(-1);

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

bool IsBlank(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

// Bytes a value begins with.
bool BeginsValue(unsigned char byte) {
  return byte == '{' || byte == '[' || byte == '"' || byte == '-' || IsDigit(byte) || byte == 't' || byte == 'f' ||
         byte == 'n';
}

}  // namespace

JsonTokenizer::JsonTokenizer()
    : mode_(kBetween), expect_(kDocument), depth_(0), taken_(true), text_(kNoCharacter), code_(0), name_(false),
      stringPart_(kCharacters), hexDigits_(0), hex_(0), high_(0), utf8Left_(0), utf8Code_(0), utf8Low_(0x80),
      utf8High_(0xBF), numberPart_(kInteger), literal_(""), bracketDepth_(0), bracketOpen_('[') {
  for (size_t i = 0; i < sizeof kinds_; ++i) kinds_[i] = 0;
}

JsonTokenizer::Event JsonTokenizer::Push(unsigned char byte) {
  taken_ = true;
  text_ = byte < 0x80 ? byte : kNoCharacter;
  switch (mode_) {
    case kBetween:
      return Between(byte);
    case kInString:
      return StringByte(byte);
    case kInNumber:
      return NumberByte(byte);
    case kInLiteral:
      if (byte != static_cast<unsigned char>(*literal_)) return Fail();
      if (*++literal_ != 0) return kNothing;
      AfterValue();
      return kValueEnd;
    case kBracketsOnly:
      return BracketsOnlyByte(byte);
    case kFailed:
      break;
  }
  return kError;
}

JsonTokenizer::Event JsonTokenizer::Fail() {
  mode_ = kFailed;
  return kError;
}

bool JsonTokenizer::InObject() const {
  return depth_ > 0 && (kinds_[(depth_ - 1) / 8] & (1u << ((depth_ - 1) % 8))) != 0;
}

void JsonTokenizer::AfterValue() {
  mode_ = kBetween;
  expect_ = depth_ == 0 ? kAfterDocument : InObject() ? kAfterValueInObject : kAfterValueInArray;
}

// Between tokens: the byte must begin a token of the expected set.
JsonTokenizer::Event JsonTokenizer::Between(unsigned char byte) {
  if (IsBlank(byte)) return kNothing;
  if (byte == '"' && (expect_ & kExpectName) != 0) {
    name_ = true;
    mode_ = kInString;
    return kNameOpen;
  }
  if (BeginsValue(byte) && (expect_ & kExpectValue) != 0) return BeginValue(byte);
  if (byte == ':' && (expect_ & kExpectColon) != 0) {
    expect_ = kAfterColon;
    return kNothing;
  }
  if (byte == ',' && (expect_ & kExpectComma) != 0) {
    expect_ = InObject() ? kAfterCommaInObject : kAfterCommaInArray;
    return kComma;
  }
  if ((byte == '}' || byte == ']') && (expect_ & kExpectCloser) != 0 && (byte == '}') == InObject()) {
    --depth_;
    AfterValue();
    return kClose;
  }
  return Fail();
}

JsonTokenizer::Event JsonTokenizer::BeginValue(unsigned char byte) {
  switch (byte) {
    case '{':
    case '[':
      return Open(byte);
    case '"':
      name_ = false;
      mode_ = kInString;
      return kStringOpen;
    case 't':
    case 'f':
    case 'n':
      literal_ = byte == 't' ? "rue" : byte == 'f' ? "alse" : "ull";
      mode_ = kInLiteral;
      return kLiteralOpen;
    default:
      numberPart_ = byte == '-' ? kMinus : byte == '0' ? kZero : kInteger;
      mode_ = kInNumber;
      return kNumberOpen;
  }
}

JsonTokenizer::Event JsonTokenizer::Open(unsigned char byte) {
  const Event event = byte == '{' ? kObjectOpen : kArrayOpen;
  if (depth_ >= kJsonKindLevels) {
    mode_ = kBracketsOnly;
    bracketDepth_ = 1;
    bracketOpen_ = byte;
    return event;
  }
  const unsigned bit = 1u << (depth_ % 8);
  if (byte == '{') {
    kinds_[depth_ / 8] = static_cast<unsigned char>(kinds_[depth_ / 8] | bit);
  } else {
    kinds_[depth_ / 8] = static_cast<unsigned char>(kinds_[depth_ / 8] & ~bit);
  }
  ++depth_;
  expect_ = byte == '{' ? kAfterObjectOpen : kAfterArrayOpen;
  return event;
}

JsonTokenizer::Event JsonTokenizer::Character(uint32_t code) {
  // Strings within the levels read by brackets only are checked, not reported.
  if (bracketDepth_ > 0) return kNothing;
  code_ = code;
  return kCharacter;
}

JsonTokenizer::Event JsonTokenizer::EndString() {
  if (bracketDepth_ > 0) {
    mode_ = kBracketsOnly;
    return kNothing;
  }
  if (name_) {
    mode_ = kBetween;
    expect_ = kAfterName;
    return kNameEnd;
  }
  AfterValue();
  return kValueEnd;
}

JsonTokenizer::Event JsonTokenizer::StringByte(unsigned char byte) {
  switch (stringPart_) {
    case kCharacters:
      if (utf8Left_ > 0 || byte >= 0x80) {
        bool whole = false;
        if (!Utf8Byte(byte, &whole)) return Fail();
        if (!whole) return kNothing;
        text_ = utf8Code_;
        return Character(utf8Code_);
      }
      if (byte == '"') return EndString();
      if (byte == '\\') {
        stringPart_ = kEscape;
        return kNothing;
      }
      if (byte < 0x20) return Fail();
      return Character(byte);
    case kEscape: {
      static const char kEscapes[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
      if (byte == 'u') {
        stringPart_ = kHex;
        hexDigits_ = 0;
        hex_ = 0;
        return kNothing;
      }
      stringPart_ = kCharacters;
      for (size_t i = 0; i + 1 < sizeof kEscapes; i += 2) {
        if (byte == static_cast<unsigned char>(kEscapes[i])) return Character(static_cast<unsigned char>(kEscapes[i + 1]));
      }
      return Fail();
    }
    case kHex: {
      const int digit = HexValue(byte);
      if (digit < 0) return Fail();
      hex_ = hex_ * 16 + static_cast<uint32_t>(digit);
      if (++hexDigits_ < 4) return kNothing;
      stringPart_ = kCharacters;
      const bool low = hex_ >= 0xDC00 && hex_ <= 0xDFFF;
      if (high_ != 0) {
        // Only the low half of a pair may follow a high one; the pair is
        // joined here and nowhere else.
        if (!low) return Fail();
        const uint32_t code = 0x10000 + ((high_ - 0xD800) << 10) + (hex_ - 0xDC00);
        high_ = 0;
        return Character(code);
      }
      if (hex_ >= 0xD800 && hex_ <= 0xDBFF) {
        high_ = hex_;
        stringPart_ = kLowBackslash;
        return kNothing;
      }
      if (low) return Fail();
      return Character(hex_);
    }
    case kLowBackslash:
      if (byte != '\\') return Fail();
      stringPart_ = kLowU;
      return kNothing;
    case kLowU:
      if (byte != 'u') return Fail();
      stringPart_ = kHex;
      hexDigits_ = 0;
      hex_ = 0;
      return kNothing;
  }
  return Fail();
}

bool JsonTokenizer::Utf8Byte(unsigned char byte, bool* whole) {
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

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)? : the byte after the number
// ends it, and is then read again between tokens.
JsonTokenizer::Event JsonTokenizer::NumberByte(unsigned char byte) {
  const bool digit = IsDigit(byte);
  const bool exponent = byte == 'e' || byte == 'E';
  switch (numberPart_) {
    case kMinus:
      if (!digit) return Fail();
      numberPart_ = byte == '0' ? kZero : kInteger;
      return kNothing;
    case kZero:
    case kInteger:
      if (digit && numberPart_ == kInteger) return kNothing;
      if (byte == '.') {
        numberPart_ = kPoint;
        return kNothing;
      }
      if (exponent) {
        numberPart_ = kExponentMark;
        return kNothing;
      }
      break;
    case kPoint:
      if (!digit) return Fail();
      numberPart_ = kFraction;
      return kNothing;
    case kFraction:
      if (digit) return kNothing;
      if (exponent) {
        numberPart_ = kExponentMark;
        return kNothing;
      }
      break;
    case kExponentMark:
      if (byte == '+' || byte == '-') {
        numberPart_ = kExponentSign;
        return kNothing;
      }
      if (!digit) return Fail();
      numberPart_ = kExponent;
      return kNothing;
    case kExponentSign:
      if (!digit) return Fail();
      numberPart_ = kExponent;
      return kNothing;
    case kExponent:
      if (digit) return kNothing;
      break;
  }
  // The number is whole: this byte belongs to what follows it.
  taken_ = false;
  text_ = kNoCharacter;
  AfterValue();
  return kValueEnd;
}

JsonTokenizer::Event JsonTokenizer::BracketsOnlyByte(unsigned char byte) {
  if (utf8Left_ > 0 || byte >= 0x80) {
    bool whole = false;
    if (!Utf8Byte(byte, &whole)) return Fail();
    if (whole) text_ = utf8Code_;
    return kNothing;
  }
  if (byte == '"') {
    name_ = false;
    mode_ = kInString;
  } else if (byte == '[' || byte == '{') {
    if (bracketDepth_ == kMostLevels) return Fail();
    ++bracketDepth_;
  } else if (byte == ']' || byte == '}') {
    if (--bracketDepth_ > 0) return kNothing;
    if ((bracketOpen_ == '[') != (byte == ']')) return Fail();
    AfterValue();
    return kClose;
  }
  return kNothing;
}

}  // namespace taskclient
