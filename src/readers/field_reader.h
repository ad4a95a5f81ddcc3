// Reading one value out of a JSON body by a dotted path ("items.3.title"),
// one piece of the body at a time, with a fixed amount of state whatever the
// body's size or nesting.
//
// The path's segments name object members; a segment of digits only indexes
// an array (on an object it is a member name like any other), and "#" as the
// last segment gives an array's length (on an object it is the member "#").
// The first member of a name counts. The value found is given as UTF-16: a
// string unescaped, a number, true, false or null as written, an object or
// array as its exact text.
//
// The body is read as far as the answer needs and no further, and what is
// read must be JSON (RFC 8259, UTF-8): the value is found once it is whole
// and followed by ',' or the closing bracket of its object or array (after
// any blanks); the path names nothing once the object or array that should
// hold the next step has ended without it, or the step meets a string,
// number or literal, or an array with a step that is not an index. Objects
// and arrays nested more than kFieldKindLevels deep are read by their
// brackets only: strings, UTF-8 and the kind of the outermost bracket are
// checked there, not the JSON between.
#ifndef TASKCLIENT_READERS_FIELD_READER_H
#define TASKCLIENT_READERS_FIELD_READER_H

#include <stddef.h>

#include "result.h"
#include "platform/platform.h"
#include "portable.h"

namespace taskclient {

// Nesting levels whose kind (object or array) the reader keeps.
const unsigned long kFieldKindLevels = 256;
// Segments a path may have.
const size_t kMaxFieldSegments = 128;

// kOk for a dotted path: not null, not empty, no empty segment (no leading,
// trailing or doubled dot), no lone surrogate, at most kMaxFieldSegments
// segments; kBadArgument otherwise.
Result CheckFieldPath(const tc_text16* path);

class FieldReader {
 public:
  enum Verdict {
    kNeedMore,   // no answer yet
    kFound,      // the value is whole
    kMissing,    // the path names nothing
    kMalformed   // the body is not JSON where the path needs it
  };
  // What the value found is. kCount: the length of an array ("#").
  enum Kind { kNone, kString, kNumber, kLiteral, kObject, kArray, kCount };

  // `path` has passed CheckFieldPath and outlives the reader. The value's
  // units go to `value`, the first `capacity` of them (no NUL is added);
  // with a null `value` they are only counted.
  FieldReader(const tc_text16* path, tc_text16* value, size_t capacity);

  // Reads the next `length` bytes of the body. Once a verdict other than
  // kNeedMore is given, it is given again for any further bytes.
  Verdict Feed(const char* bytes, size_t length);
  // The body has ended: kMalformed unless a verdict was given.
  Verdict End();

  // The value's length in 16-bit units, counted beyond `capacity` too.
  size_t length() const { return length_; }
  Kind kind() const { return kind_; }

 private:
  enum State {
    kValue,         // a value is next
    kArrayFirst,    // after '[': a value or ']'
    kObjectFirst,   // after '{': a member name or '}'
    kMemberName,    // after ',' in an object: a member name
    kColon,         // after a member name
    kAfterValue,    // after a value in an object or array: ',' or its closing bracket
    kInString,
    kInNumber,
    kInLiteral,
    kBracketsOnly,  // an object or array nested too deep to keep its kind
    kDecided
  };
  enum StringPart { kCharacters, kEscape, kHex, kLowBackslash, kLowU };
  enum NumberPart { kMinus, kZero, kInteger, kPoint, kFraction, kExponentMark, kExponentSign, kExponent };
  enum StringRole { kSkipped, kName, kWanted };

  void LoadSegment(size_t start);
  void NextSegment();
  void Step(unsigned char byte);
  void StartValue(unsigned char byte);
  void Descend(unsigned char byte);
  void Open(unsigned char byte);
  void Close();
  void ValueEnded();
  void BeginString(StringRole role, bool memberName);
  void StringByte(unsigned char byte);
  void StringEnded();
  void TakeCharacter(uint32_t code);
  bool Utf8Byte(unsigned char byte, bool* whole);
  bool NumberByte(unsigned char byte);
  void BracketsOnlyByte(unsigned char byte);
  void Emit(uint32_t code);
  void EmitUnit(uint32_t unit);
  void Decide(Verdict verdict);
  bool InObject() const;
  static bool Blank(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

  const tc_text16* path_;
  size_t segment_;       // where the step the active object or array is searched for begins
  size_t segmentEnd_;    // and ends (its '.' or NUL)
  bool stepsLeft_;       // whether a step is left: false once the value itself is reached
  uint32_t index_;       // the step as an array index
  bool indexStep_;       // the step is digits only
  bool countStep_;       // the step is the last one and "#"

  tc_text16* value_;
  size_t capacity_;
  size_t length_;
  Kind kind_;

  State state_;
  Verdict verdict_;
  unsigned long depth_;            // objects and arrays open
  unsigned char kinds_[kFieldKindLevels / 8];  // bit per level: set for an object
  unsigned long pathDepth_;        // level of the active object or array on the path (0: none yet)
  unsigned long countDepth_;       // level of the array being counted (0: none)
  uint32_t elements_;              // elements of the active array, or of the counted one
  bool wanted_;                    // the next value is the path's next step (or the value itself)
  bool nameMatches_;               // the member name read so far equals the step
  size_t nameAt_;                  // units of the step matched
  bool inValue_;                   // the value itself is being read
  bool rawText_;                   // the bytes read are the value's exact text
  bool valueDone_;                 // the value is whole: ',' or a closing bracket decides

  StringPart stringPart_;
  StringRole stringRole_;
  bool memberName_;                // the string is a member name
  int hexDigits_;
  uint32_t hex_;
  uint32_t high_;                  // a high surrogate waiting for its low half
  int utf8Left_;                   // continuation bytes still due
  uint32_t utf8Code_;
  unsigned char utf8Low_, utf8High_;  // the range of the next continuation byte

  NumberPart numberPart_;
  const char* literal_;            // the literal being read, at its next letter

  unsigned long bracketDepth_;     // within kBracketsOnly
  unsigned char bracketOpen_;      // the bracket that began it
  bool bracketString_, bracketEscape_;
};

// Reads the value at `fieldPath` in the JSON body in the file at `bodyPath`
// into `value` (`capacity` units, NUL included). kExchangeComplete with the
// value written whole; kFieldMissing when the path names nothing; kTooLong
// when it does not fit; kBadArgument for a null argument, a capacity under 1,
// a path that is not a dotted path, or a body path with a lone surrogate;
// kReplyCutShort when the body is not JSON where the path needs it;
// kFileOpenFailed when the file cannot be opened. Unless the value is written
// whole, only value[0] is written (0), where capacity allows.
Result ReadField(Platform& platform, const tc_text16* bodyPath, const tc_text16* fieldPath, tc_text16* value,
                 int32_t capacity);

}  // namespace taskclient

#endif
