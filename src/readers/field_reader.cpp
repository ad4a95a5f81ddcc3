#include "readers/field_reader.h"

#include "exchange/arguments.h"

namespace taskclient {

namespace {

const uint32_t kMostElements = 0xFFFFFFFFu;

// The UTF-16 units of `code`: 1 or 2.
int Utf16Units(uint32_t code, uint32_t units[2]) {
  if (code < 0x10000) {
    units[0] = code;
    return 1;
  }
  units[0] = 0xD800 + ((code - 0x10000) >> 10);
  units[1] = 0xDC00 + (code & 0x3FF);
  return 2;
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
    : verdict_(kNeedMore), path_(path), segment_(0), segmentEnd_(0), stepsLeft_(true), index_(0),
      indexStep_(false), countStep_(false), pathDepth_(0), pathInArray_(false), countDepth_(0), elements_(0),
      wanted_(true), naming_(false), nameMatches_(false), nameAt_(0), value_(value), capacity_(capacity),
      length_(0), kind_(kNone), inValue_(false), rawText_(false), valueDone_(false) {
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
  for (size_t i = 0; i < length && verdict_ == kNeedMore; ++i) {
    // A byte that ends a number is taken again, after the number.
    do {
      Take(static_cast<unsigned char>(bytes[i]));
    } while (verdict_ == kNeedMore && !tokens_.taken());
  }
  return verdict_;
}

FieldReader::Verdict FieldReader::End() {
  if (verdict_ == kNeedMore) Decide(kMalformed);
  return verdict_;
}

void FieldReader::EmitUnit(uint32_t unit) {
  if (value_ && length_ < capacity_) value_[length_] = static_cast<tc_text16>(unit);
  ++length_;
}

void FieldReader::Emit(uint32_t code) {
  uint32_t units[2];
  const int count = Utf16Units(code, units);
  for (int i = 0; i < count; ++i) EmitUnit(units[i]);
}

// Pushes one byte and acts on the tokenizer's event. The depth before the
// byte is that of the object or array holding a value that begins, or of the
// one a bracket closes; the depth after it, that of the one holding a value
// that ends.
void FieldReader::Take(unsigned char byte) {
  const unsigned long before = tokens_.depth();
  const JsonTokenizer::Event event = tokens_.Push(byte);
  const bool wasRaw = rawText_;
  switch (event) {
    case JsonTokenizer::kError:
      Decide(kMalformed);
      return;
    case JsonTokenizer::kObjectOpen:
    case JsonTokenizer::kArrayOpen:
    case JsonTokenizer::kStringOpen:
    case JsonTokenizer::kNumberOpen:
    case JsonTokenizer::kLiteralOpen:
      ValueBegins(event, before, tokens_.depth());
      break;
    case JsonTokenizer::kClose:
      if (!Closes(before)) return;
      break;
    case JsonTokenizer::kValueEnd:
      ValueEnded(tokens_.depth());
      break;
    case JsonTokenizer::kComma:
      if (valueDone_) {
        Decide(kFound);
        return;
      }
      break;
    case JsonTokenizer::kNameOpen:
      naming_ = before == pathDepth_;
      nameMatches_ = true;
      nameAt_ = segment_;
      break;
    case JsonTokenizer::kCharacter:
      if (naming_) {
        NameCharacter(tokens_.code());
      } else if (inValue_ && kind_ == kString) {
        Emit(tokens_.code());
      }
      break;
    case JsonTokenizer::kNameEnd:
      if (naming_) {
        naming_ = false;
        wanted_ = nameMatches_ && nameAt_ == segmentEnd_;
        if (wanted_) NextSegment();
      }
      break;
    case JsonTokenizer::kNothing:
      break;
  }
  // The value's exact text: every character, from its first byte to its last.
  if ((wasRaw || rawText_) && tokens_.text() != kNoCharacter) Emit(tokens_.text());
}

void FieldReader::ValueBegins(JsonTokenizer::Event event, unsigned long level, unsigned long inside) {
  if (countDepth_ != 0 && level == countDepth_) {
    if (elements_ != kMostElements) ++elements_;
  } else if (pathDepth_ != 0 && level == pathDepth_ && pathInArray_) {
    wanted_ = elements_ == index_;
    if (wanted_) NextSegment();
    if (elements_ != kMostElements) ++elements_;
  }
  if (!wanted_) return;
  wanted_ = false;
  if (stepsLeft_) {
    Descend(event, inside);
    return;
  }
  inValue_ = true;
  rawText_ = event != JsonTokenizer::kStringOpen;
  switch (event) {
    case JsonTokenizer::kObjectOpen:
      kind_ = kObject;
      break;
    case JsonTokenizer::kArrayOpen:
      kind_ = kArray;
      break;
    case JsonTokenizer::kStringOpen:
      kind_ = kString;
      break;
    case JsonTokenizer::kLiteralOpen:
      kind_ = kLiteral;
      break;
    default:
      kind_ = kNumber;
      break;
  }
}

// The value the next step applies to begins; `inside` is the level within it.
void FieldReader::Descend(JsonTokenizer::Event event, unsigned long inside) {
  const bool array = event == JsonTokenizer::kArrayOpen;
  if (event == JsonTokenizer::kObjectOpen || (array && indexStep_)) {
    pathDepth_ = inside;
    pathInArray_ = array;
    elements_ = 0;
  } else if (array && countStep_) {
    inValue_ = true;
    kind_ = kCount;
    countDepth_ = inside;
    elements_ = 0;
  } else {
    // A string, number or literal has no steps, an array no named ones.
    Decide(kMissing);
  }
}

// An object or array at `level` closes. False once that decides.
bool FieldReader::Closes(unsigned long level) {
  if (valueDone_) {
    Decide(kFound);
    return false;
  }
  if (level == pathDepth_) {
    Decide(kMissing);
    return false;
  }
  if (level == countDepth_) {
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
  ValueEnded(tokens_.depth());
  return true;
}

void FieldReader::ValueEnded(unsigned long level) {
  if (!inValue_ || level != pathDepth_) return;
  inValue_ = false;
  rawText_ = false;
  valueDone_ = true;
  // A whole body that is the value ("#" of an array) has nothing after it.
  if (level == 0) Decide(kFound);
}

void FieldReader::NameCharacter(uint32_t code) {
  uint32_t units[2];
  const int count = Utf16Units(code, units);
  for (int i = 0; i < count; ++i) {
    if (nameMatches_ && nameAt_ < segmentEnd_ && static_cast<uint16_t>(path_[nameAt_]) == units[i]) {
      ++nameAt_;
    } else {
      nameMatches_ = false;
    }
  }
}

namespace {

// Feeds a body file's pieces to a reader until it gives a verdict.
class FieldScan : public PieceReader {
 public:
  explicit FieldScan(FieldReader* reader) : reader_(reader), verdict_(FieldReader::kNeedMore) {}
  virtual bool TakePiece(const char* bytes, size_t length) {
    verdict_ = reader_->Feed(bytes, length);
    return verdict_ == FieldReader::kNeedMore;
  }
  FieldReader::Verdict verdict() const { return verdict_; }

 private:
  FieldReader* reader_;
  FieldReader::Verdict verdict_;
};

// Reads the body file through `reader` until it gives a verdict.
Result Scan(Platform& platform, const tc_text16* bodyPath, FieldReader* reader) {
  File body = {kNoFile};
  if (!platform.OpenFileForReading(bodyPath, &body)) return kFileOpenFailed;
  FieldScan scan(reader);
  const FileScan outcome = ScanFile(platform, &body, &scan);
  platform.CloseFile(&body);
  FieldReader::Verdict verdict = scan.verdict();
  if (outcome == kScanFailed) verdict = FieldReader::kMalformed;
  if (outcome == kScanEnded) verdict = reader->End();
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
  const size_t length = measure.length();
  if (length > static_cast<size_t>(capacity) - 1) return kTooLong;
  // The second reading may find another value if the file has changed: a
  // value that fits the stage is held there until it is known whole.
  tc_text16 stage[kFieldStageUnits];
  const bool staged = length <= kFieldStageUnits;
  FieldReader reader(fieldPath, staged ? stage : value, length);
  result = Scan(platform, bodyPath, &reader);
  if (result == kExchangeComplete && reader.length() == length) {
    for (size_t i = 0; staged && i < length; ++i) value[i] = stage[i];
    value[length] = 0;
    return kExchangeComplete;
  }
  value[0] = 0;
  return result == kExchangeComplete ? kReplyCutShort : result;
}

}  // namespace taskclient
