// The field reader on arbitrary bodies and paths, fed in pieces of a chosen
// size into a value buffer of a chosen capacity (a heap block of exactly that
// many units), against a reference written apart from it: a recursive-descent
// JSON reader over the whole body with the standard library. Both must give
// the same answer (found, missing, not JSON, or a path refused), the same
// value and length, and the reader must write nothing past the capacity.
//
// Input: byte 0 the piece size (0: the whole body at once), byte 1 the
// capacity, then the path in UTF-8 up to a line end (a byte that is no UTF-8
// becomes a lone surrogate), then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "readers/field_reader.h"
#include "fuzz_support.h"

namespace {

using taskclient::FieldReader;

class Reference {
 public:
  Reference(std::string_view body, const std::vector<std::u16string>& steps) : body_(body), steps_(steps) {}

  FieldReader::Verdict Read() {
    SkipBlanks();
    Descend(0, 0, 0);
    return verdict_;
  }
  const std::u16string& value() const { return value_; }
  bool isString() const { return isString_; }

 private:
  bool Decide(FieldReader::Verdict verdict) {
    verdict_ = verdict;
    return false;
  }
  bool Malformed() { return Decide(FieldReader::kMalformed); }
  int Peek() const { return at_ < body_.size() ? static_cast<unsigned char>(body_[at_]) : -1; }
  void SkipBlanks() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++at_;
  }
  static bool BeginsScalar(int c) {
    return c == '"' || c == '-' || (c >= '0' && c <= '9') || c == 't' || c == 'f' || c == 'n';
  }
  static void Put(uint32_t code, std::u16string* out) {
    if (code >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
  }

  // One whole UTF-8 character at at_ (a byte from 0x80 up), strictly.
  bool Utf8(uint32_t* code) {
    const unsigned char lead = static_cast<unsigned char>(body_[at_]);
    size_t extra;
    uint32_t smallest;
    if (lead >= 0xC0 && lead < 0xE0) {
      extra = 1, smallest = 0x80, *code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      extra = 2, smallest = 0x800, *code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF8) {
      extra = 3, smallest = 0x10000, *code = lead & 0x07;
    } else {
      return false;
    }
    if (body_.size() - at_ <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(body_[at_ + k]);
      if ((next & 0xC0) != 0x80) return false;
      *code = (*code << 6) | (next & 0x3F);
    }
    if (*code < smallest || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return false;
    at_ += extra + 1;
    return true;
  }

  bool Hex4(uint32_t* code) {
    *code = 0;
    for (int i = 0; i < 4; ++i, ++at_) {
      const int c = Peek();
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      *code = *code * 16 + static_cast<uint32_t>(digit);
    }
    return true;
  }

  // A string at its opening quote, decoded into `out`.
  bool String(std::u16string* out) {
    ++at_;
    for (;;) {
      const int c = Peek();
      if (c < 0) return Malformed();
      if (c >= 0x80) {
        uint32_t code;
        if (!Utf8(&code)) return Malformed();
        Put(code, out);
        continue;
      }
      ++at_;
      if (c == '"') return true;
      if (c < 0x20) return Malformed();
      if (c != '\\') {
        out->push_back(static_cast<char16_t>(c));
        continue;
      }
      const int e = Peek();
      ++at_;
      const std::string_view simple = "\"\"\\\\//b\bf\fn\nr\rt\t";
      bool done = false;
      for (size_t i = 0; i < simple.size() && !done; i += 2) {
        if (e == simple[i]) out->push_back(static_cast<char16_t>(simple[i + 1])), done = true;
      }
      if (done) continue;
      uint32_t code, low;
      if (e != 'u' || !Hex4(&code) || (code >= 0xDC00 && code <= 0xDFFF)) return Malformed();
      if (code >= 0xD800 && code <= 0xDBFF) {
        if (Peek() != '\\') return Malformed();
        ++at_;
        if (Peek() != 'u') return Malformed();
        ++at_;
        if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return Malformed();
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      }
      Put(code, out);
    }
  }

  bool Number() {
    auto digits = [this] {
      const size_t from = at_;
      while (Peek() >= '0' && Peek() <= '9') ++at_;
      return at_ > from;
    };
    if (Peek() == '-') ++at_;
    if (Peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return Malformed();
    }
    if (Peek() == '.') {
      ++at_;
      if (!digits()) return Malformed();
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!digits()) return Malformed();
    }
    return true;
  }

  // Nested deeper than the levels whose kind is kept: brackets by number,
  // strings by their quotes and backslashes, UTF-8 checked.
  bool BracketsOnly() {
    const int open = Peek();
    ++at_;
    size_t depth = 1;
    bool inString = false, escape = false;
    for (;;) {
      const int c = Peek();
      if (c < 0) return Malformed();
      if (c >= 0x80) {
        uint32_t code;
        if (!Utf8(&code)) return Malformed();
        continue;
      }
      ++at_;
      if (escape) {
        escape = false;
      } else if (inString) {
        escape = c == '\\';
        inString = c != '"';
      } else if (c == '"') {
        inString = true;
      } else if (c == '[' || c == '{') {
        ++depth;
      } else if ((c == ']' || c == '}') && --depth == 0) {
        return (open == '[') == (c == ']') ? true : Malformed();
      }
    }
  }

  // Any value, checked; `depth` objects and arrays are open around it.
  bool Skip(size_t depth) {
    const int c = Peek();
    if (c == '{' || c == '[') {
      if (depth >= taskclient::kFieldKindLevels) return BracketsOnly();
      const int close = c == '{' ? '}' : ']';
      ++at_;
      SkipBlanks();
      if (Peek() == close) return ++at_, true;
      for (;;) {
        SkipBlanks();
        if (c == '{') {
          std::u16string name;
          if (Peek() != '"' || !String(&name)) return Malformed();
          SkipBlanks();
          if (Peek() != ':') return Malformed();
          ++at_;
          SkipBlanks();
        }
        if (!Skip(depth + 1)) return false;
        SkipBlanks();
        if (Peek() == close) return ++at_, true;
        if (Peek() != ',') return Malformed();
        ++at_;
      }
    }
    if (c == '"') {
      std::u16string ignored;
      return String(&ignored);
    }
    for (const char* literal : {"true", "false", "null"}) {
      if (c == literal[0]) {
        const std::string_view word = literal;
        if (body_.substr(at_, word.size()) != word) return Malformed();
        at_ += word.size();
        return true;
      }
    }
    return Number();
  }

  // After the value: ',' or the closing bracket of what holds it.
  bool ValueEnded(size_t depth, int close) {
    if (depth == 0) return Decide(FieldReader::kFound);
    SkipBlanks();
    return Peek() == ',' || Peek() == close ? Decide(FieldReader::kFound) : Malformed();
  }

  // The value that steps_[step] on leads into or is.
  bool Member(size_t step, size_t depth, int close) {
    if (step < steps_.size()) return Descend(step, depth, close);
    const size_t start = at_;
    if (Peek() == '"') {
      isString_ = true;
      if (!String(&value_)) return false;
    } else {
      if (!Skip(depth)) return false;
      for (size_t i = start; i < at_;) {
        uint32_t code = static_cast<unsigned char>(body_[i]);
        if (code >= 0x80) {
          const size_t end = at_;
          at_ = i;
          Utf8(&code);
          i = at_;
          at_ = end;
        } else {
          ++i;
        }
        Put(code, &value_);
      }
    }
    return ValueEnded(depth, close);
  }

  // The value steps_[step] applies to.
  bool Descend(size_t step, size_t depth, int close) {
    const std::u16string& want = steps_[step];
    const int c = Peek();
    const bool index = want.find_first_not_of(u"0123456789") == std::u16string::npos;
    if (c == '{') {
      ++at_;
      SkipBlanks();
      if (Peek() == '}') return Decide(FieldReader::kMissing);
      for (;;) {
        SkipBlanks();
        std::u16string name;
        if (Peek() != '"' || !String(&name)) return Malformed();
        SkipBlanks();
        if (Peek() != ':') return Malformed();
        ++at_;
        SkipBlanks();
        if (name == want) return Member(step + 1, depth + 1, '}');
        if (!Skip(depth + 1)) return false;
        SkipBlanks();
        if (Peek() == '}') return Decide(FieldReader::kMissing);
        if (Peek() != ',') return Malformed();
        ++at_;
      }
    }
    if (c == '[' && (index || (want == u"#" && step + 1 == steps_.size()))) {
      uint64_t wanted = 0;
      for (char16_t d : want) wanted = std::min<uint64_t>(wanted * 10 + (d - u'0'), 0xFFFFFFFFu);
      ++at_;
      SkipBlanks();
      uint64_t count = 0;
      if (Peek() != ']') {
        for (;; ++count) {
          SkipBlanks();
          if (index && count == wanted) return Member(step + 1, depth + 1, ']');
          if (!Skip(depth + 1)) return false;
          SkipBlanks();
          if (Peek() == ']') break;
          if (Peek() != ',') return Malformed();
          ++at_;
        }
        ++count;
      }
      if (index) return Decide(FieldReader::kMissing);
      ++at_;
      for (char digit : std::to_string(count)) value_.push_back(static_cast<char16_t>(digit));
      return ValueEnded(depth, close);
    }
    return Decide(c == '[' || BeginsScalar(c) ? FieldReader::kMissing : FieldReader::kMalformed);
  }

  std::string_view body_;
  size_t at_ = 0;
  const std::vector<std::u16string>& steps_;
  FieldReader::Verdict verdict_ = FieldReader::kNeedMore;
  std::u16string value_;
  bool isString_ = false;
};

// UTF-8 to UTF-16; a byte that begins no whole character becomes a lone
// low surrogate.
std::u16string PathOf(std::string_view bytes) {
  std::u16string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : 9;
    uint32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
    bool whole = extra <= 3 && bytes.size() - i > extra;
    for (size_t k = 1; whole && k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      whole = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (!whole || code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 | c));
      ++i;
      continue;
    }
    i += extra + 1;
    if (code >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

// The path's steps, or none when it is not a dotted path.
bool Steps(const std::u16string& path, std::vector<std::u16string>* steps) {
  for (size_t i = 0; i < path.size(); ++i) {
    const bool high = path[i] >= 0xD800 && path[i] <= 0xDBFF, low = path[i] >= 0xDC00 && path[i] <= 0xDFFF;
    if (high && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      return false;
    }
  }
  size_t from = 0;
  for (;;) {
    const size_t dot = path.find(u'.', from);
    steps->push_back(path.substr(from, dot == std::u16string::npos ? std::u16string::npos : dot - from));
    if (steps->back().empty()) return false;
    if (dot == std::u16string::npos) break;
    from = dot + 1;
  }
  return steps->size() <= taskclient::kMaxFieldSegments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t piece = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t lineEnd = rest.find('\n');
  if (lineEnd == std::string_view::npos) return 0;
  const std::u16string path = PathOf(rest.substr(0, lineEnd));
  const std::string body(rest.substr(lineEnd + 1));
  const std::string detail = std::string(rest.substr(0, lineEnd)) + " | " + body;

  std::vector<std::u16string> steps;
  const bool dotted = Steps(path, &steps);
  const tc_text16* path16 = reinterpret_cast<const tc_text16*>(path.c_str());
  FUZZ_CHECK((taskclient::CheckFieldPath(path16) == taskclient::kOk) == dotted, detail);
  if (!dotted) return 0;

  Reference reference(body, steps);
  const FieldReader::Verdict expected = reference.Read();
  const std::u16string& value = reference.value();
  const size_t capacity = data[1] < value.size() ? data[1] : value.size();
  std::unique_ptr<tc_text16[]> buffer(new tc_text16[capacity ? capacity : 1]);
  FieldReader reader(path16, buffer.get(), capacity);
  FieldReader::Verdict verdict = FieldReader::kNeedMore;
  for (size_t at = 0; at < body.size() && verdict == FieldReader::kNeedMore;) {
    // Each piece a heap block of its own, so a read past it is caught.
    const size_t length = piece == 0 ? body.size() - at : std::min(piece, body.size() - at);
    std::unique_ptr<char[]> bytes(new char[length]);
    std::copy(body.begin() + static_cast<long>(at), body.begin() + static_cast<long>(at + length), bytes.get());
    verdict = reader.Feed(bytes.get(), length);
    at += length;
  }
  if (verdict == FieldReader::kNeedMore) verdict = reader.End();
  FUZZ_CHECK(verdict == expected, detail);
  if (verdict != FieldReader::kFound) return 0;
  FUZZ_CHECK(reader.length() == value.size(), detail);
  FUZZ_CHECK(std::u16string(reinterpret_cast<const char16_t*>(buffer.get()), capacity) == value.substr(0, capacity),
             detail);
  FUZZ_CHECK((reader.kind() == FieldReader::kString) == reference.isString(), detail);
  return 0;
}
