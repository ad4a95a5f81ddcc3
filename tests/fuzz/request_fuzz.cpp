// Every operation with arguments of arbitrary length and content (UTF-16
// units of any value, unpaired surrogates and control characters included,
// and now and then a null), over the tests' scripted platform, which captures
// what would be sent instead of sending it and answers with an empty 204. Each call must either refuse (10 for a null or a
// control byte in a token, 11 for an argument over its capacity) with nothing
// sent and no file opened, or send exactly one request that equals the one
// built here from the arguments, is well-formed HTTP/1.1, and whose body
// decodes back to the arguments.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "exchange/request.h"
#include "fuzz_support.h"
#include "support/scripted_platform.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

using namespace taskclient;
using fuzzsupport::Utf8Of;

namespace {

// One argument: its units (with a terminating NUL) or null.
struct Argument {
  bool null = false;
  std::u16string units;
  const tc_text16* get() const { return null ? nullptr : reinterpret_cast<const tc_text16*>(units.c_str()); }
  std::string utf8() const { return Utf8Of(units); }
};

Argument TakeArgument(FuzzedDataProvider& in, bool mayBeNull) {
  Argument a;
  uint8_t mode = in.ConsumeIntegral<uint8_t>();
  if (mayBeNull && mode == 0xFF) {
    a.null = true;
    return a;
  }
  std::string bytes = in.ConsumeRandomLengthString(64);
  std::u16string pattern;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    // Mostly printable ASCII, so that long arguments are common; any unit
    // at all otherwise.
    if (mode & 1) unit = static_cast<char16_t>(0x21 + unit % 0x5E);
    pattern.push_back(unit);
  }
  if (mode & 2) {  // repeated up to a length near the capacities
    size_t target = in.ConsumeIntegralInRange<size_t>(0, 2600);
    while (!pattern.empty() && a.units.size() < target) a.units += pattern;
    if (a.units.size() > target) a.units.resize(target);
  } else {
    a.units = pattern;
  }
  return a;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string Hex(unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{'%', kDigits[c >> 4], kDigits[c & 0x0F]};
}

std::string PathSegment(const std::string& id) {
  static const std::string kEscaped = "\"#/<>?\\^`{|}";
  std::string out;
  for (unsigned char c : id) {
    out += (c <= 0x20 || c >= 0x7F || kEscaped.find(static_cast<char>(c)) != std::string::npos)
               ? Hex(c)
               : std::string(1, static_cast<char>(c));
  }
  return out;
}

std::string QueryValue(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '_' || c == '~';
    out += plain ? std::string(1, static_cast<char>(c)) : Hex(c);
  }
  return out;
}

// Form values are escaped as query values are.
std::string FormValue(const std::string& value) { return QueryValue(value); }

// Whether 16-bit text, as far as its first NUL, holds a surrogate without
// its other half.
bool HasLoneSurrogate(const std::u16string& units) {
  for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
    if (units[i] >= 0xDC00 && units[i] <= 0xDFFF) return true;
    if (units[i] >= 0xD800 && units[i] <= 0xDBFF) {
      if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return true;
      ++i;
    }
  }
  return false;
}

// An id that, with its escaped dots read as dots, is "." or "..".
bool IsDotId(const std::string& id) {
  std::string plain;
  for (size_t i = 0; i < id.size(); ++i) {
    if (id.compare(i, 3, "%2e") == 0 || id.compare(i, 3, "%2E") == 0) {
      plain += '.';
      i += 2;
    } else {
      plain += id[i];
    }
  }
  return plain == "." || plain == "..";
}

std::string JsonInside(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          out += "\\u00" + Hex(c).substr(1);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

// What the call must do: refuse with one of `allowed`, or send `request`.
struct Expectation {
  std::set<int32_t> refusals;
  std::string method, path, token, contentType, body;
  bool hasToken = false, hasBody = false;
  // Capacities the pieces are built in (bytes, NUL included).
  void Within(const std::string& piece, size_t capacity) {
    if (piece.size() > capacity - 1) refusals.insert(TC_TOO_LONG);
  }
  void Token(const Argument& a) {
    hasToken = true;
    token = a.utf8();
    Within(token, kTokenCapacity);
    for (unsigned char c : token) {
      if (IsControl(c)) refusals.insert(TC_BAD_ARGUMENT);
    }
  }
  std::string Id(const Argument& a, size_t narrowCapacity) {
    std::string id = a.utf8();
    Within(id, narrowCapacity);
    if (IsDotId(id)) refusals.insert(TC_BAD_ARGUMENT);
    return PathSegment(id);
  }
  std::string Request(const char* host) const {
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (hasToken) r += "Authorization: Bearer " + token + "\r\n";
    if (hasBody) r += contentType + "\r\n";
    r += "Accept: */*\r\n";
    if (hasBody) r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
  }
};

// The request must be HTTP/1.1 as a strict server reads it, whatever the
// expectation above says.
void CheckWellFormed(const std::string& request) {
  size_t headEnd = request.find("\r\n\r\n");
  FUZZ_CHECK(headEnd != std::string::npos, request);
  std::string head = request.substr(0, headEnd + 2);
  size_t lineStart = 0, contentLength = std::string::npos;
  bool first = true;
  while (lineStart < head.size()) {
    size_t lineEnd = head.find("\r\n", lineStart);
    std::string line = head.substr(lineStart, lineEnd - lineStart);
    for (unsigned char c : line) FUZZ_CHECK(c != '\r' && c != '\n' && c != 0, line);
    if (first) {
      size_t a = line.find(' '), b = line.rfind(' ');
      FUZZ_CHECK(a != std::string::npos && a < b && line.substr(b) == " HTTP/1.1", line);
      for (unsigned char c : line.substr(a + 1, b - a - 1)) FUZZ_CHECK(c > 0x20 && c < 0x7F, line);
      first = false;
    } else {
      size_t colon = line.find(':');
      FUZZ_CHECK(colon != std::string::npos && colon > 0, line);
      for (unsigned char c : line) FUZZ_CHECK(!IsControl(c), line);
      if (line.compare(0, 16, "Content-Length: ") == 0) contentLength = std::stoul(line.substr(16));
    }
    lineStart = lineEnd + 2;
  }
  size_t bodyLength = request.size() - headEnd - 4;
  FUZZ_CHECK(bodyLength == (contentLength == std::string::npos ? 0 : contentLength), request);
}

// A form body read back field by field gives the values that went in.
void CheckFormBody(const std::string& body, const std::vector<std::pair<std::string, std::string>>& fields) {
  size_t start = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    size_t end = body.find('&', start);
    std::string field = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t equals = field.find('=');
    FUZZ_CHECK(equals != std::string::npos && field.substr(0, equals) == fields[i].first, body);
    std::string value;
    FUZZ_CHECK(fuzzsupport::PercentDecode(field.substr(equals + 1), &value), body);
    FUZZ_CHECK(value == fields[i].second, body);
    FUZZ_CHECK((end == std::string::npos) == (i + 1 == fields.size()), body);
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int operation = in.ConsumeIntegralInRange<int>(0, 8);
  Argument args[6];
  for (Argument& a : args) a = TakeArgument(in, true);
  Argument path;
  path.units = u"/tmp/never-opened";
  if (in.ConsumeIntegral<uint8_t>() == 0xFF) path.null = true;

  const Service service = ApiService();
  testsupport::ScriptedPlatform platform({"HTTP/1.1 204 No Content\r\n\r\n"});
  Expectation e;
  std::vector<std::pair<std::string, std::string>> form;  // for token requests
  std::string title;
  int32_t result = -1;
  int arguments = 0;

  switch (operation) {
    case 0:
      arguments = 1;
      result = ListTaskLists(platform, service, args[0].get(), path.get());
      e.method = "GET";
      e.path = "/tasks/v1/users/@me/lists";
      break;
    case 1:
      arguments = 2;
      result = ListTasks(platform, service, args[0].get(), args[1].get(), path.get());
      e.method = "GET";
      e.path = "/tasks/v1/lists/" + e.Id(args[1], kAddPathCapacity) + "/tasks";
      e.Within(e.path, kPathCapacity);
      break;
    case 2:
      arguments = 3;
      result = AddTask(platform, service, args[0].get(), args[1].get(), args[2].get(),
                       args[3].null ? nullptr : &args, path.get());
      e.method = "POST";
      e.path = "/tasks/v1/lists/" + e.Id(args[1], kAddPathCapacity) + "/tasks";
      e.Within(e.path, kAddPathCapacity);
      title = args[2].utf8();
      e.Within(title, kBodyCapacity);
      e.hasBody = true;
      e.contentType = kJsonContentType;
      e.body = "{ \"title\": \"" + JsonInside(title) + "\" }";
      e.Within(e.body, kAddBodyCapacity);
      break;
    case 3:
    case 8:
      arguments = 3;
      result = operation == 3
                   ? DeleteTask(platform, service, args[0].get(), args[1].get(), args[2].get(), path.get())
                   : CompleteTask(platform, service, args[0].get(), args[1].get(), args[2].get(), path.get());
      e.method = operation == 3 ? "DELETE" : "PATCH";
      e.path = "/tasks/v1/lists/" + e.Id(args[1], kAddPathCapacity) + "/tasks/" + e.Id(args[2], kAddPathCapacity);
      e.Within(e.path, kPathCapacity);
      if (operation == 8) {
        e.hasBody = true;
        e.contentType = kJsonContentType;
        e.body = "{ \"status\": \"completed\" }";
      }
      break;
    case 7: {
      arguments = 3;
      result = ListTasksPage(platform, service, args[0].get(), args[1].get(), args[2].get(), path.get());
      e.method = "GET";
      e.path = "/tasks/v1/lists/" + e.Id(args[1], kAddPathCapacity) +
               "/tasks?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true";
      std::string page = args[2].utf8();
      e.Within(page, kAddPathCapacity);
      if (!page.empty()) e.path += "&pageToken=" + QueryValue(page);
      e.Within(e.path, kAddPathCapacity);
      break;
    }
    case 4:
    case 5:
    case 6: {
      arguments = operation == 6 ? 5 : 3;
      if (operation == 4) {
        result = GetToken(platform, service, args[0].get(), args[1].get(), args[2].get(), path.get());
        form = {{"code", args[0].utf8()},
                {"client_secret", args[1].utf8()},
                {"client_id", args[2].utf8()},
                {"redirect_uri", "urn:ietf:wg:oauth:2.0:oob"},
                {"grant_type", "authorization_code"}};
      } else if (operation == 5) {
        result = RefreshToken(platform, service, args[0].get(), args[1].get(), args[2].get(), path.get());
        form = {{"client_id", args[2].utf8()},
                {"client_secret", args[1].utf8()},
                {"refresh_token", args[0].utf8()},
                {"grant_type", "refresh_token"}};
      } else {
        result = GetTokenPkce(platform, service, args[0].get(), args[1].get(), args[2].get(), args[3].get(),
                              args[4].get(), path.get());
        form = {{"code", args[0].utf8()},         {"client_secret", args[1].utf8()},
                {"client_id", args[2].utf8()},    {"redirect_uri", args[3].utf8()},
                {"grant_type", "authorization_code"}};
        if (!args[4].utf8().empty()) form.push_back({"code_verifier", args[4].utf8()});
      }
      e.method = "POST";
      e.path = "/oauth2/v3/token";
      e.hasBody = true;
      e.contentType = kFormContentType;
      for (int i = 0; i < arguments; ++i) e.Within(args[i].utf8(), kBodyCapacity);
      for (size_t i = 0; i < form.size(); ++i) {
        e.body += (i ? "&" : "") + form[i].first + "=" + FormValue(form[i].second);
      }
      e.Within(e.body, kBodyCapacity);  // only a task's title has the larger add body
      break;
    }
  }
  if (operation <= 3 || operation >= 7) e.Token(args[0]);
  // Text that no conversion carries unchanged is refused, whichever argument.
  for (int i = 0; i < arguments; ++i) {
    if (!args[i].null && HasLoneSurrogate(args[i].units)) e.refusals.insert(TC_BAD_ARGUMENT);
  }

  bool anyNull = path.null;
  for (int i = 0; i < arguments; ++i) anyNull = anyNull || args[i].null;
  const std::string detail = "operation " + std::to_string(operation) + " result " + std::to_string(result);

  if (anyNull) {
    FUZZ_CHECK(result == TC_BAD_ARGUMENT, detail);
  } else if (!e.refusals.empty()) {
    FUZZ_CHECK(e.refusals.count(result) == 1, detail);
  } else {
    FUZZ_CHECK(result == TC_EXCHANGE_COMPLETE, detail);
  }
  if (result != TC_EXCHANGE_COMPLETE) {
    FUZZ_CHECK(platform.sent.empty() && platform.Count("open file") == 0, detail);  // nothing sent, file untouched
    return 0;
  }
  FUZZ_CHECK(platform.sent.size() == 1 && platform.Count("open file") == 1, detail);
  FUZZ_CHECK(platform.Count("start") == 1 && platform.Count("stop") == 1, detail);
  const std::string& request = platform.sent[0];
  FUZZ_CHECK(request.size() < kRequestCapacity, request);
  CheckWellFormed(request);
  FUZZ_CHECK(request == e.Request(service.host), request + "\n---- expected ----\n" + e.Request(service.host));
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  if (!form.empty()) CheckFormBody(body, form);
  if (operation == 2) {
    const std::string head = "{ \"title\": \"", tail = "\" }";
    FUZZ_CHECK(body.compare(0, head.size(), head) == 0 && body.size() >= head.size() + tail.size() &&
                   body.compare(body.size() - tail.size(), tail.size(), tail) == 0,
               body);
    std::string decoded;
    FUZZ_CHECK(fuzzsupport::JsonStringDecode(body.substr(head.size(), body.size() - head.size() - tail.size()),
                                             &decoded),
               body);
    FUZZ_CHECK(decoded == title, body);
  }
  return 0;
}
