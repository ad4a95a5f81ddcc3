// The field reader on arbitrary bodies and paths, fed in pieces of a chosen
// size into a value buffer of a chosen capacity (a heap block of exactly that
// many units), against a reference written apart from it and sharing nothing
// with it: a recursive-descent parser into a tree, with the standard library,
// and a lookup of the path in that tree. Both must give
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

// The reference: the body parsed by recursive descent into a tree of what it
// holds, as far as it is JSON (a node exists from its first byte on; the
// parse stops at the first byte that is not JSON), then the path looked up
// in that tree. Every answer the reader may give is fixed by one byte of the
// body (the ',' or bracket after the value, the bracket that closes what the
// step is searched in, the first byte of a value no step can enter): the
// answer stands when the parse got to that byte, and is "not JSON" when it
// stopped before.
class Reference {
 public:
  Reference(std::string_view body, const std::vector<std::u16string>& steps) : body_(body), steps_(steps) {}

  FieldReader::Verdict Read() {
    Blanks();
    std::unique_ptr<Node> root = Parse(0);
    if (!root) return FieldReader::kMalformed;
    return Look(*root, 0, true, false);
  }
  const std::u16string& value() const { return value_; }
  bool isString() const { return isString_; }

 private:
  enum Kind { kObject, kArray, kString, kNumber, kLiteral, kLoose };
  struct Node;
  struct Member {
    std::u16string name;
    std::unique_ptr<Node> value;
    bool followed = false;  // a ',' or the closing bracket came after the value
  };
  struct Node {
    Kind kind;
    size_t begin;
    bool whole = false;
    size_t end = 0;       // once whole: just past its last byte
    std::u16string text;  // a string's characters
    std::vector<Member> members;  // an object's or array's (no names), in order
    bool closed = false;
  };

  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr uint32_t kNoCode = 0xFFFFFFFFu;

  int At(size_t i) const { return i < body_.size() ? static_cast<unsigned char>(body_[i]) : -1; }
  int Here() const { return At(at_); }
  void Blanks() {
    while (Here() == ' ' || Here() == '\t' || Here() == '\n' || Here() == '\r') ++at_;
  }
  static void Append(uint32_t code, std::u16string* out) {
    if (code < 0x10000) {
      out->push_back(static_cast<char16_t>(code));
    } else {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 | (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
    }
  }

  // A UTF-8 character from at_, checked against the table of RFC 3629
  // (section 4); kNoCode when the bytes are none.
  uint32_t Character() {
    const int b0 = Here();
    if (b0 < 0x80) return kNoCode;
    struct Form {
      int lead0, lead1, second0, second1, length;
    };
    static const Form kForms[] = {{0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
                                  {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3},
                                  {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
                                  {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4}};
    for (const Form& form : kForms) {
      if (b0 < form.lead0 || b0 > form.lead1) continue;
      if (At(at_ + 1) < form.second0 || At(at_ + 1) > form.second1) return kNoCode;
      for (int k = 2; k < form.length; ++k) {
        if (At(at_ + static_cast<size_t>(k)) < 0x80 || At(at_ + static_cast<size_t>(k)) > 0xBF) return kNoCode;
      }
      uint32_t code = static_cast<uint32_t>(b0) & (form.length == 2 ? 0x1F : form.length == 3 ? 0x0F : 0x07);
      for (int k = 1; k < form.length; ++k) code = code << 6 | (static_cast<uint32_t>(At(at_ + static_cast<size_t>(k))) & 0x3F);
      at_ += static_cast<size_t>(form.length);
      return code;
    }
    return kNoCode;
  }

  // Four hex digits after "\u".
  bool Hex(uint32_t* code) {
    const std::string_view digits = "0123456789abcdefABCDEF";
    *code = 0;
    for (int k = 0; k < 4; ++k) {
      const int c = Here();
      const size_t at = c <= 0 ? std::string_view::npos : digits.find(static_cast<char>(c));
      if (at == std::string_view::npos) return false;
      *code = *code * 16 + static_cast<uint32_t>(at < 16 ? at : at - 6);
      ++at_;
    }
    return true;
  }

  // A string from its opening quote; false where it stops being one.
  bool ParseString(std::u16string* out) {
    ++at_;
    for (;;) {
      const int c = Here();
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        const uint32_t code = Character();
        if (code == kNoCode) return false;
        Append(code, out);
        continue;
      }
      ++at_;
      if (c != '\\') {
        out->push_back(static_cast<char16_t>(c));
        continue;
      }
      const int e = Here();
      ++at_;
      switch (e) {
        case '"': case '\\': case '/': out->push_back(static_cast<char16_t>(e)); continue;
        case 'b': out->push_back(u'\b'); continue;
        case 'f': out->push_back(u'\f'); continue;
        case 'n': out->push_back(u'\n'); continue;
        case 'r': out->push_back(u'\r'); continue;
        case 't': out->push_back(u'\t'); continue;
        case 'u': break;
        default: return false;
      }
      uint32_t unit;
      if (!Hex(&unit)) return false;
      if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
      if (unit < 0xD800 || unit > 0xDBFF) {
        out->push_back(static_cast<char16_t>(unit));
        continue;
      }
      uint32_t second;
      if (Here() != '\\' || At(at_ + 1) != 'u') return false;
      at_ += 2;
      if (!Hex(&second) || second < 0xDC00 || second > 0xDFFF) return false;
      // Both halves kept as they are: together they are the character.
      out->push_back(static_cast<char16_t>(unit));
      out->push_back(static_cast<char16_t>(second));
    }
  }

  size_t Digits() {
    const size_t from = at_;
    while (Here() >= '0' && Here() <= '9') ++at_;
    return at_ - from;
  }

  // A number; false where it stops being one. Its end is where the longest
  // run of number bytes stops.
  bool ParseNumber() {
    if (Here() == '-') ++at_;
    if (Here() == '0') {
      ++at_;
    } else if (Digits() == 0) {
      return false;
    }
    if (Here() == '.') {
      ++at_;
      if (Digits() == 0) return false;
    }
    if (Here() == 'e' || Here() == 'E') {
      ++at_;
      if (Here() == '+' || Here() == '-') ++at_;
      if (Digits() == 0) return false;
    }
    return true;
  }

  // Inside an object or array nested too deep to keep its kind: everything
  // up to a closing bracket of any kind, the brackets in it nested by
  // number. False where it stops being that.
  bool ParseLoose() {
    for (;;) {
      const int c = Here();
      if (c < 0) return false;
      if (c == '}' || c == ']') return true;
      if (c == '{' || c == '[') {
        ++at_;
        if (!ParseLoose()) return false;
        ++at_;
      } else if (c == '"') {
        std::u16string ignored;
        if (!ParseString(&ignored)) return false;
      } else if (c >= 0x80) {
        if (Character() == kNoCode) return false;
      } else {
        ++at_;
      }
    }
  }

  // The value at at_, `open` objects and arrays around it; null when no value
  // begins there. Parsing stops (stopped_) at the first byte that is not JSON.
  std::unique_ptr<Node> Parse(size_t open) {
    const int c = Here();
    auto node = std::make_unique<Node>();
    node->begin = at_;
    if (c == '{' || c == '[') {
      node->kind = c == '{' ? kObject : kArray;
      const int close = c == '{' ? '}' : ']';
      ++at_;
      if (open >= taskclient::kFieldKindLevels) {
        node->kind = kLoose;
        if (!ParseLoose() || Here() != close) return Stop(std::move(node));
        return Whole(std::move(node), ++at_);
      }
      Blanks();
      if (Here() == close) {
        node->closed = true;
        return Whole(std::move(node), ++at_);
      }
      for (;;) {
        Blanks();
        Member member;
        if (node->kind == kObject) {
          if (Here() != '"' || !ParseString(&member.name)) return Stop(std::move(node));
          Blanks();
          if (Here() != ':') {
            node->members.push_back(std::move(member));
            return Stop(std::move(node));
          }
          ++at_;
          Blanks();
        }
        member.value = Parse(open + 1);
        node->members.push_back(std::move(member));
        if (stopped_) return node;
        Blanks();
        if (Here() != ',' && Here() != close) return Stop(std::move(node));
        node->members.back().followed = true;
        if (Here() == close) {
          node->closed = true;
          return Whole(std::move(node), ++at_);
        }
        ++at_;
      }
    }
    if (c == '"') {
      node->kind = kString;
      if (!ParseString(&node->text)) return Stop(std::move(node));
    } else if (c == 't' || c == 'f' || c == 'n') {
      node->kind = kLiteral;
      const std::string_view word = c == 't' ? "true" : c == 'f' ? "false" : "null";
      if (body_.substr(at_, word.size()) != word) return Stop(std::move(node));
      at_ += word.size();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      node->kind = kNumber;
      if (!ParseNumber()) return Stop(std::move(node));
    } else {
      stopped_ = true;
      return nullptr;
    }
    return Whole(std::move(node), at_);
  }

  std::unique_ptr<Node> Whole(std::unique_ptr<Node> node, size_t end) {
    node->whole = true;
    node->end = end;
    return node;
  }

  std::unique_ptr<Node> Stop(std::unique_ptr<Node> node) {
    stopped_ = true;
    return node;
  }

  bool Steppable(const std::u16string& step) const {
    return !step.empty() && step.find_first_not_of(u"0123456789") == std::u16string::npos;
  }

  // `node` is what steps_[step] on applies to (the value itself once they are
  // used up); `followed`: a ',' or bracket came after it; `top`: it is the body.
  FieldReader::Verdict Look(const Node& node, size_t step, bool top, bool followed) {
    if (step == steps_.size()) return Found(node, followed);
    const std::u16string& want = steps_[step];
    if (node.kind == kObject) {
      for (const Member& member : node.members) {
        if (member.name != want) continue;
        if (!member.value) return FieldReader::kMalformed;
        return Look(*member.value, step + 1, false, member.followed);
      }
      return node.closed ? FieldReader::kMissing : FieldReader::kMalformed;
    }
    if (node.kind == kArray && want == u"#" && step + 1 == steps_.size()) {
      if (!node.closed) return FieldReader::kMalformed;
      if (!top && !followed) return FieldReader::kMalformed;
      for (char d : std::to_string(node.members.size())) value_.push_back(static_cast<char16_t>(d));
      return FieldReader::kFound;
    }
    if (node.kind == kArray && Steppable(want)) {
      // The index, unless it is more than any array could hold.
      const size_t first = want.find_first_not_of(u'0');
      const std::u16string digits = first == std::u16string::npos ? u"0" : want.substr(first);
      size_t index = kNone;
      if (digits.size() <= 10) {
        uint64_t n = 0;
        for (char16_t d : digits) n = n * 10 + static_cast<uint64_t>(d - u'0');
        if (n < 0xFFFFFFFFu) index = static_cast<size_t>(n);
      }
      if (index != kNone && index < node.members.size()) {
        const Member& member = node.members[index];
        if (!member.value) return FieldReader::kMalformed;
        return Look(*member.value, step + 1, false, member.followed);
      }
      return node.closed ? FieldReader::kMissing : FieldReader::kMalformed;
    }
    // A string, number or literal, or an array with a step that is no index.
    return FieldReader::kMissing;
  }

  FieldReader::Verdict Found(const Node& node, bool followed) {
    if (!node.whole || !followed) return FieldReader::kMalformed;
    if (node.kind == kString) {
      isString_ = true;
      value_ = node.text;
      return FieldReader::kFound;
    }
    // Its exact text, as UTF-16 (the parse has checked its UTF-8).
    for (at_ = node.begin; at_ < node.end;) {
      if (Here() < 0x80) {
        Append(static_cast<uint32_t>(Here()), &value_);
        ++at_;
      } else {
        Append(Character(), &value_);
      }
    }
    return FieldReader::kFound;
  }

  std::string_view body_;
  const std::vector<std::u16string>& steps_;
  size_t at_ = 0;
  bool stopped_ = false;
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
