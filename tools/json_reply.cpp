#include "json_reply.h"

#include "exchange/reply_scanner.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace tools {

namespace {

const int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document(std::string* error) {
    JsonValue value;
    SkipSpace();
    bool ok = Value(&value, 0);
    if (ok) {
      SkipSpace();
      if (at_ != text_.size()) ok = Fail("bytes after the value");
    }
    if (ok) return value;
    if (error) *error = why_ + " at byte " + std::to_string(at_);
    return std::nullopt;
  }

 private:
  bool Fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }
  bool More() const { return at_ < text_.size(); }
  char Peek() const { return More() ? text_[at_] : '\0'; }
  void SkipSpace() {
    while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++at_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("unknown literal");
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue* value, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    switch (Peek()) {
      case '{': return Object(value, depth);
      case '[': return Array(value, depth);
      case '"': value->type = JsonValue::Type::kString; return String(&value->text);
      case 't': value->type = JsonValue::Type::kBool; value->text = "true"; return Literal("true");
      case 'f': value->type = JsonValue::Type::kBool; value->text = "false"; return Literal("false");
      case 'n': value->type = JsonValue::Type::kNull; return Literal("null");
      default: return Number(value);
    }
  }

  bool Object(JsonValue* value, int depth) {
    value->type = JsonValue::Type::kObject;
    ++at_;
    SkipSpace();
    if (Peek() == '}') return ++at_, true;
    for (;;) {
      std::string name;
      if (Peek() != '"') return Fail("expected a member name");
      if (!String(&name)) return false;
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++at_;
      SkipSpace();
      JsonValue member;
      if (!Value(&member, depth + 1)) return false;
      value->members.emplace_back(std::move(name), std::move(member));
      SkipSpace();
      if (Peek() == '}') return ++at_, true;
      if (Peek() != ',') return Fail("expected ',' or '}'");
      ++at_;
      SkipSpace();
    }
  }

  bool Array(JsonValue* value, int depth) {
    value->type = JsonValue::Type::kArray;
    ++at_;
    SkipSpace();
    if (Peek() == ']') return ++at_, true;
    for (;;) {
      JsonValue element;
      if (!Value(&element, depth + 1)) return false;
      value->elements.push_back(std::move(element));
      SkipSpace();
      if (Peek() == ']') return ++at_, true;
      if (Peek() != ',') return Fail("expected ',' or ']'");
      ++at_;
      SkipSpace();
    }
  }

  bool Number(JsonValue* value) {
    size_t start = at_;
    auto digits = [&] {
      size_t from = at_;
      while (More() && std::isdigit(static_cast<unsigned char>(Peek()))) ++at_;
      return at_ > from;
    };
    if (Peek() == '-') ++at_;
    if (Peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return Fail("expected a value");
    }
    if (Peek() == '.') {
      ++at_;
      if (!digits()) return Fail("expected digits after '.'");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!digits()) return Fail("expected exponent digits");
    }
    value->type = JsonValue::Type::kNumber;
    value->text = std::string(text_.substr(start, at_ - start));
    return true;
  }

  bool Hex4(uint32_t* code) {
    if (text_.size() - at_ < 4) return Fail("short \\u escape");
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                              : -1;
      if (digit < 0) return Fail("bad hex digit in \\u escape");
      *code = *code * 16 + static_cast<uint32_t>(digit);
    }
    return true;
  }

  static void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string* out) {
    ++at_;  // the opening quote
    for (;;) {
      if (!More()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("raw control character in a string");
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (!More()) return Fail("unterminated escape");
      char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': *out += e; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          uint32_t code;
          if (!Hex4(&code)) return false;
          if (code >= 0xDC00 && code <= 0xDFFF) return Fail("lone low surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            uint32_t low;
            if (text_.substr(at_, 2) != "\\u") return Fail("high surrogate without its pair");
            at_ += 2;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("high surrogate without its pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(code, out);
          break;
        }
        default: return Fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
  std::string why_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& member : members) {
    if (member.first == name) return &member.second;
  }
  return nullptr;
}

const JsonValue* JsonValue::At(std::string_view path) const {
  const JsonValue* value = this;
  while (value && !path.empty()) {
    size_t dot = path.find('.');
    std::string_view step = path.substr(0, dot);
    path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
    if (value->type == Type::kArray) {
      if (step.empty() || step.find_first_not_of("0123456789") != std::string_view::npos) return nullptr;
      size_t index = std::stoul(std::string(step));
      value = index < value->elements.size() ? &value->elements[index] : nullptr;
    } else {
      value = value->Find(step);
    }
  }
  return value;
}

std::vector<const JsonValue*> JsonValue::All(std::string_view path) const {
  if (path.empty()) return {this};
  size_t dot = path.find('.');
  std::string_view step = path.substr(0, dot);
  std::string_view rest = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
  std::vector<const JsonValue*> found;
  if (step != "*") {
    const JsonValue* next = At(step);
    return next ? next->All(rest) : found;
  }
  if (type != Type::kArray) return found;
  for (const JsonValue& element : elements) {
    std::vector<const JsonValue*> more = element.All(rest);
    found.insert(found.end(), more.begin(), more.end());
  }
  return found;
}

std::string JsonValue::ToString() const {
  switch (type) {
    case Type::kNull: return "null";
    case Type::kBool:
    case Type::kNumber:
    case Type::kString: return text;
    case Type::kArray: {
      std::string out = "[";
      for (size_t i = 0; i < elements.size(); ++i) {
        if (i) out += ",";
        out += elements[i].type == Type::kString ? JsonQuote(elements[i].text) : elements[i].ToString();
      }
      return out + "]";
    }
    case Type::kObject: {
      std::string out = "{";
      for (size_t i = 0; i < members.size(); ++i) {
        if (i) out += ",";
        const JsonValue& member = members[i].second;
        out += JsonQuote(members[i].first) + ":" +
               (member.type == Type::kString ? JsonQuote(member.text) : member.ToString());
      }
      return out + "}";
    }
  }
  return std::string();
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  return Parser(text).Document(error);
}

std::string JsonQuote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::optional<Reply> ReadReply(std::string_view raw, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<Reply> {
    if (error) *error = why;
    return std::nullopt;
  };
  // The library's own scanner says where the final reply's head begins and
  // ends, where the reply ends and what its body is, so the tools read a
  // reply exactly as the exchange does (either line end included).
  struct Body : taskclient::BodySink {
    std::string bytes;
    int pieces = 0;
    void TakeBody(const char* b, size_t n) override {
      bytes.append(b, n);
      ++pieces;
    }
  } body;
  taskclient::ReplyScanner scanner(&body);
  // Byte by byte through the head: an interim reply has ended where the
  // scanner forgets its status, and the final head where the scanner says so.
  size_t headStart = 0, scanned = 0;
  auto verdict = taskclient::ReplyScanner::kNeedMore;
  while (scanned < raw.size() && !scanner.HeadEnded() && verdict == taskclient::ReplyScanner::kNeedMore) {
    const int status = scanner.status();
    size_t one = 0;
    verdict = scanner.Feed(raw.data() + scanned, 1, &one);
    scanned += one;
    if (status != 0 && scanner.status() == 0) headStart = scanned;
  }
  const size_t headEnd = scanned;
  if (verdict == taskclient::ReplyScanner::kNeedMore && scanned < raw.size()) {
    size_t rest = 0;
    verdict = scanner.Feed(raw.data() + scanned, raw.size() - scanned, &rest);
  }
  if (verdict == taskclient::ReplyScanner::kMalformed) return fail("the reply's framing is broken");
  if (!scanner.HeadEnded()) return fail("the reply's head is incomplete");
  if (verdict == taskclient::ReplyScanner::kNeedMore && !scanner.CloseEndsReply()) {
    return fail("the reply is cut short");
  }

  // The head's lines, as the scanner delimited them: blank lines before the
  // status line, the status line, header lines (a folded continuation
  // carries nothing), the empty line.
  Reply reply;
  reply.head = std::string(raw.substr(0, headEnd));
  reply.status = scanner.status();
  std::string_view head = raw.substr(headStart, headEnd - headStart);
  bool statusSeen = false;
  while (!head.empty()) {
    const size_t lineEnd = head.find('\n');
    std::string_view line = head.substr(0, lineEnd);
    head.remove_prefix(lineEnd == std::string_view::npos ? head.size() : lineEnd + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!statusSeen) {
      statusSeen = !line.empty();
      reply.statusLine = std::string(line);
      continue;
    }
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (line.front() == ' ' || line.front() == '\t' || colon == std::string_view::npos) continue;
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    reply.headers[name] = std::string(value);
  }
  auto encoding = reply.headers.find("transfer-encoding");
  reply.chunked = encoding != reply.headers.end() && encoding->second.find("chunked") != std::string::npos;
  reply.body = std::move(body.bytes);
  reply.chunks = reply.chunked ? body.pieces : 0;
  return reply;
}

}  // namespace tools
