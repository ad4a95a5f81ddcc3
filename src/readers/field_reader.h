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
//
// The reader is a path matcher over the events of a JsonTokenizer, which
// does all the reading of JSON.
#ifndef TASKCLIENT_READERS_FIELD_READER_H
#define TASKCLIENT_READERS_FIELD_READER_H

#include <stddef.h>

#include "result.h"
#include "platform/platform.h"
#include "portable.h"
#include "readers/file_scan.h"
#include "readers/json_tokenizer.h"

namespace taskclient {

// Nesting levels whose kind (object or array) the reader keeps.
const unsigned long kFieldKindLevels = kJsonKindLevels;
// Segments a path may have.
const size_t kMaxFieldSegments = 128;
// Units of a value ReadField holds back until the value is whole, however
// the file changes between its two readings.
const size_t kFieldStageUnits = 2048;

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
  void LoadSegment(size_t start);
  void NextSegment();
  void Take(unsigned char byte);
  void ValueBegins(JsonTokenizer::Event event, unsigned long level, unsigned long inside);
  void Descend(JsonTokenizer::Event event, unsigned long inside);
  bool Closes(unsigned long level);
  void ValueEnded(unsigned long level);
  void NameCharacter(uint32_t code);
  void Emit(uint32_t code);
  void EmitUnit(uint32_t unit);
  void Decide(Verdict verdict) { verdict_ = verdict; }

  JsonTokenizer tokens_;
  Verdict verdict_;

  // The path: the step the active object or array is searched for.
  const tc_text16* path_;
  size_t segment_;       // where the step begins
  size_t segmentEnd_;    // and ends (its '.' or NUL)
  bool stepsLeft_;       // whether a step is left: false once the value itself is reached
  uint32_t index_;       // the step as an array index
  bool indexStep_;       // the step is digits only
  bool countStep_;       // the step is the last one and "#"

  // Where the path stands in the body.
  unsigned long pathDepth_;   // level of the active object or array (0: none yet)
  bool pathInArray_;          // it is an array
  unsigned long countDepth_;  // level of the array being counted (0: none)
  uint32_t elements_;         // elements of the active array, or of the counted one
  bool wanted_;               // the next value is the path's next step (or the value itself)
  bool naming_;               // a member name of the active object is being read
  bool nameMatches_;          // the name read so far equals the step
  size_t nameAt_;             // units of the step matched

  // The value.
  tc_text16* value_;
  size_t capacity_;
  size_t length_;
  Kind kind_;
  bool inValue_;              // the value itself is being read
  bool rawText_;              // the text read is the value's exact text
  bool valueDone_;            // the value is whole: ',' or a closing bracket decides
};

// Reads the value at `fieldPath` in the JSON body in the file at `bodyPath`
// into `value` (`capacity` units, NUL included). kExchangeComplete with the
// value written whole; kFieldMissing when the path names nothing; kTooLong
// when it does not fit; kBadArgument for a null argument, a capacity under 1,
// a path that is not a dotted path, or a body path with a lone surrogate;
// kReplyCutShort when the body is not JSON where the path needs it;
// kFileOpenFailed when the file cannot be opened. The body is read twice:
// once to measure the value, then to write it. Unless the value is written
// whole, only value[0] is written (0), where capacity allows; for a value of
// more than kFieldStageUnits units that holds only while the file stays as
// it is between the two readings (a longer value is written as it is read
// the second time).
Result ReadField(Platform& platform, const tc_text16* bodyPath, const tc_text16* fieldPath, tc_text16* value,
                 int32_t capacity);

}  // namespace taskclient

#endif
