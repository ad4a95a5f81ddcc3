// A push tokenizer for JSON (RFC 8259, UTF-8): fed one byte at a time, it
// answers with one event per byte and keeps no token, only where it stands.
// What may come next between tokens is a set of token classes (the grammar as
// a short table of named sets, in the way of jsmn), checked in one place; the
// inside of a string, number or literal has small states of its own.
//
// Objects and arrays nested more than kJsonKindLevels deep are read by their
// brackets only: any bracket opens or closes a level there and other bytes
// are passed over, except that strings are read as everywhere else (their
// escapes and UTF-8 checked), bytes from 0x80 up must be UTF-8, and the
// bracket that closes the outermost of them must match the one that opened it.
#ifndef TASKCLIENT_READERS_JSON_TOKENIZER_H
#define TASKCLIENT_READERS_JSON_TOKENIZER_H

#include <stddef.h>

#include "portable.h"

namespace taskclient {

// Nesting levels whose kind (object or array) the tokenizer keeps.
const unsigned long kJsonKindLevels = 256;
// JsonTokenizer::text() when the byte completes no character.
const uint32_t kNoCharacter = 0xFFFFFFFFu;

class JsonTokenizer {
 public:
  enum Event {
    kNothing,       // a blank, a ':' or a byte within a token
    kObjectOpen,    // '{' begins a value
    kArrayOpen,     // '[' begins a value
    kStringOpen,    // '"' begins a string value
    kNumberOpen,    // '-' or a digit begins a number
    kLiteralOpen,   // 't', 'f' or 'n' begins true, false or null
    kClose,         // '}' or ']' ends the innermost object or array
    kValueEnd,      // a string, number or literal ended; a number ends at the
                    // byte after it, which is not taken (see taken())
    kNameOpen,      // '"' begins a member name
    kNameEnd,       // '"' ends it
    kCharacter,     // a string's or name's next character: code()
    kComma,         // ',' between two members or elements
    kError          // the bytes are not JSON; every later byte gives it too
  };

  JsonTokenizer();

  // Reads the next byte. When taken() is then false, the same byte must be
  // pushed again.
  Event Push(unsigned char byte);
  bool taken() const { return taken_; }
  // The character of the text the byte just taken completes (an ASCII byte,
  // or the last byte of a UTF-8 sequence), or kNoCharacter.
  uint32_t text() const { return text_; }
  // The character of a kCharacter event, escapes undone and surrogate pairs
  // joined.
  uint32_t code() const { return code_; }
  // Objects and arrays open, counted up to the last level whose kind is kept.
  unsigned long depth() const { return depth_; }

 private:
  // The token classes that may come next, between tokens.
  enum Expect {
    kExpectValue = 1,   // any value
    kExpectName = 2,    // a member name
    kExpectColon = 4,
    kExpectComma = 8,
    kExpectCloser = 16  // the innermost object's '}' or array's ']'
  };
  enum Set {
    kDocument = kExpectValue,                     // nothing read yet
    kAfterObjectOpen = kExpectName | kExpectCloser,
    kAfterName = kExpectColon,
    kAfterColon = kExpectValue,
    kAfterValueInObject = kExpectComma | kExpectCloser,
    kAfterCommaInObject = kExpectName,
    kAfterArrayOpen = kExpectValue | kExpectCloser,
    kAfterValueInArray = kExpectComma | kExpectCloser,
    kAfterCommaInArray = kExpectValue,
    kAfterDocument = 0                      // the outermost value has ended
  };
  enum Mode { kBetween, kInString, kInNumber, kInLiteral, kBracketsOnly, kFailed };
  enum StringPart { kCharacters, kEscape, kHex, kLowBackslash, kLowU };
  enum NumberPart { kMinus, kZero, kInteger, kPoint, kFraction, kExponentMark, kExponentSign, kExponent };

  Event Between(unsigned char byte);
  Event BeginValue(unsigned char byte);
  Event Open(unsigned char byte);
  Event CloseLevel(unsigned char byte);
  Event StringByte(unsigned char byte);
  Event EndString();
  Event Character(uint32_t code);
  Event NumberByte(unsigned char byte);
  Event BracketsOnlyByte(unsigned char byte);
  bool Utf8Byte(unsigned char byte, bool* whole);
  void AfterValue();
  bool InObject() const;
  Event Fail();

  Mode mode_;
  unsigned expect_;                // a Set, while between tokens
  unsigned long depth_;
  unsigned char kinds_[kJsonKindLevels / 8];  // bit per level: set for an object
  bool taken_;
  uint32_t text_;
  uint32_t code_;

  bool name_;                      // the string is a member name
  StringPart stringPart_;
  int hexDigits_;
  uint32_t hex_;
  uint32_t high_;                  // a high surrogate waiting for its low half
  int utf8Left_;                   // continuation bytes still due
  uint32_t utf8Code_;
  unsigned char utf8Low_, utf8High_;  // the range of the next continuation byte

  NumberPart numberPart_;
  const char* literal_;            // the literal being read, at its next letter

  unsigned long bracketDepth_;     // levels open within kBracketsOnly
  unsigned char bracketOpen_;      // the bracket that began them
};

}  // namespace taskclient

#endif
