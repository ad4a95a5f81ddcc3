// The local stand-in for the task service. Requests are read strictly by the
// shared TLS server (CRLF line ends, a body of exactly Content-Length bytes);
// a request that breaks those rules gets 400 and the connection is closed, so
// a malformed request fails loudly. Each route below is one method, one path
// pattern and one handler: adding an operation is adding a line to kRoutes
// and its handler.
#include "local_service.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "signin.h"
#include "response_file.h"
#include "testing/tls_server.h"

namespace tools {

namespace {

using testsupport::HttpRequest;
using testsupport::TlsStream;

const char kOutOfBandRedirect[] = "urn:ietf:wg:oauth:2.0:oob";
const size_t kDefaultPage = 20;  // tasks per page when maxResults is not given
const size_t kLargestPage = 100;
const size_t kDefaultListsPage = 1000;  // task lists per page: the service's default is also its largest
const size_t kLargestListsPage = 1000;
const size_t kLongestTitle = 1024;  // characters
const size_t kLongestNotes = 8192;
// Ranks leave room between siblings, so placing a task changes only its own
// position; the group is spread out again only when two neighbours touch.
const uint64_t kFirstRank = uint64_t(1) << 60;
const uint64_t kRankGap = uint64_t(1) << 32;

struct Task {
  std::string id;
  std::string title;
  std::string notes;
  std::string status = "needsAction";  // or "completed"
  std::string due;        // midnight UTC of the due date; empty: none
  std::string updated;
  std::string etag;       // changes with every change to the task
  std::string parent;     // the parent task's id; empty at the top level
  uint64_t rank = 0;      // order among its siblings, shown as "position"
  std::string completed;  // when it was completed; empty while it needs action
  bool hidden = false;    // completed and cleared away
};

// An authorization code the service issued, and what its exchange must show.
struct IssuedCode {
  std::string redirectUri;    // the token request must name the same one
  std::string codeChallenge;  // S256; empty: the code was issued without PKCE
};

// Where a page token leads: a list, and how many of its listed tasks came before.
struct PageStart {
  std::string listId;
  size_t offset;
};

struct TaskList {
  std::string id;
  std::string title;
  std::string updated;
  std::string etag;
  std::vector<Task> tasks;  // in no particular order: parent and rank give the listed one
};

// A request once its target is split: the path's segments with their
// percent-escapes decoded, the query's fields, and what the route captured.
struct Call {
  const HttpRequest& http;
  std::vector<std::string> segments;
  std::map<std::string, std::string> query;
  std::map<std::string, std::string> captured;  // "{list}" -> the list id, ...
};

struct Response {
  int status = 200;
  std::string body;  // JSON; empty: no body at all (204)
  std::vector<std::pair<std::string, std::string>> extraHeaders;
  bool close = false;  // end the connection after this reply
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Decodes %XX escapes (and '+' as a space where `plusIsSpace`). Returns false
// on a broken escape.
bool PercentDecode(const std::string& text, bool plusIsSpace, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+' && plusIsSpace) {
      *out += ' ';
    } else if (c != '%') {
      *out += c;
    } else {
      if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
        return false;
      }
      *out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return true;
}

// "a=1&b=2" as a form or a query string. False on a broken escape.
bool ParseFields(const std::string& text, std::map<std::string, std::string>* fields) {
  size_t position = 0;
  while (position < text.size()) {
    size_t end = std::min(text.find('&', position), text.size());
    std::string field = text.substr(position, end - position);
    size_t equals = field.find('=');
    std::string name, value;
    if (!PercentDecode(field.substr(0, equals), true, &name)) return false;
    if (equals != std::string::npos && !PercentDecode(field.substr(equals + 1), true, &value)) return false;
    if (!name.empty()) fields->emplace(name, value);
    position = end + 1;
  }
  return true;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

// A loopback redirect as installed applications use them: "http://", then
// 127.0.0.1, [::1] or localhost, an optional port, an optional path; no
// query, no fragment.
bool IsLoopbackRedirect(const std::string& uri) {
  const std::string scheme = "http://";
  if (uri.compare(0, scheme.size(), scheme) != 0) return false;
  const std::string rest = uri.substr(scheme.size());
  if (rest.find_first_of("?#") != std::string::npos) return false;
  const std::string authority = rest.substr(0, rest.find('/'));
  std::string host = authority;
  const size_t bracket = authority.find(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {  // a port follows
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !IsDigits(port)) return false;
    const long number = std::stol(port);
    if (number < 1 || number > 65535) return false;
    host = authority.substr(0, colon);
  }
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

std::string HttpDate() {
  char text[64];
  std::time_t now = std::time(nullptr);
  std::tm parts;
  gmtime_r(&now, &parts);
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::string Rfc3339Now() {
  char text[64];
  std::time_t now = std::time(nullptr);
  std::tm parts;
  gmtime_r(&now, &parts);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
  return text;
}

// Characters, not bytes, of UTF-8 text: the service's length limits count them.
size_t Utf8Length(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

// Reads an RFC 3339 timestamp ("2026-03-01T09:30:00.000Z", any fraction, "Z"
// or an offset) and gives its date as written. False for anything else.
bool TimestampDate(const std::string& text, std::string* date) {
  auto number = [&](size_t at, size_t digits, int* value) {
    if (at + digits > text.size()) return false;
    *value = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      *value = *value * 10 + (text[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second, offsetHours, offsetMinutes;
  if (!number(0, 4, &year) || text.size() < 20 || text[4] != '-' || !number(5, 2, &month) || text[7] != '-' ||
      !number(8, 2, &day) || (text[10] != 'T' && text[10] != 't') || !number(11, 2, &hour) || text[13] != ':' ||
      !number(14, 2, &minute) || text[16] != ':' || !number(17, 2, &second)) {
    return false;
  }
  size_t at = 19;
  if (text[at] == '.') {
    const size_t digits = ++at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == digits) return false;
  }
  if (at + 1 == text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && number(at + 1, 2, &offsetHours) &&
             text[at + 3] == ':' && number(at + 4, 2, &offsetMinutes) && offsetHours < 24 && offsetMinutes < 60) {
    at += 6;
  } else {
    return false;
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap) || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  *date = text.substr(0, 10);
  return true;
}

// The service's error body for the task paths.
Response ApiError(int status, const std::string& statusName, const std::string& reason, const std::string& message) {
  Response response;
  response.status = status;
  response.body = "{\n  \"error\": {\n    \"code\": " + std::to_string(status) + ",\n    \"message\": " +
                  JsonQuote(message) + ",\n    \"errors\": [\n      {\n        \"message\": " + JsonQuote(message) +
                  ",\n        \"domain\": \"global\",\n        \"reason\": " + JsonQuote(reason) +
                  "\n      }\n    ],\n    \"status\": " + JsonQuote(statusName) + "\n  }\n}\n";
  return response;
}

Response NotFound() { return ApiError(404, "NOT_FOUND", "notFound", "Requested entity was not found."); }

Response BadRequest(const std::string& message) { return ApiError(400, "INVALID_ARGUMENT", "invalid", message); }

// What the service answers when it turns a request away for load rather than
// for anything in it: rate limits (429, or 403 as its older front ends did)
// and passing backend failures (500, 503).
bool IsServiceFailure(int status) { return status == 403 || status == 429 || status == 500 || status == 503; }

Response ServiceFailure(int status) {
  switch (status) {
    case 403: return ApiError(403, "PERMISSION_DENIED", "rateLimitExceeded", "Rate Limit Exceeded");
    case 500: return ApiError(500, "INTERNAL", "backendError", "Internal error encountered.");
    case 503: return ApiError(503, "UNAVAILABLE", "backendError", "The service is currently unavailable.");
    default:
      return ApiError(429, "RESOURCE_EXHAUSTED", "rateLimitExceeded",
                      "Quota exceeded for quota metric 'Queries' and limit 'Queries per minute per user' of service "
                      "'tasks.googleapis.com' for consumer 'project_number:0'.");
  }
}

Response Unauthenticated() {
  Response response = ApiError(
      401, "UNAUTHENTICATED", "authError",
      "Request had invalid authentication credentials. Expected OAuth 2 access token, login cookie or other valid "
      "authentication credential.");
  response.extraHeaders.emplace_back("WWW-Authenticate",
                                     "Bearer realm=\"https://accounts.google.com/\", error=\"invalid_token\"");
  return response;
}

// The token path's own error form.
Response TokenError(int status, const std::string& error, const std::string& description) {
  Response response;
  response.status = status;
  response.body = "{\n  \"error\": " + JsonQuote(error) + ",\n  \"error_description\": " + JsonQuote(description) +
                  "\n}";
  return response;
}

}  // namespace

struct LocalService::Impl {
  using Handler = Response (Impl::*)(Call&);
  struct Route {
    const char* method;
    const char* pattern;  // segments; "{name}" captures one
    bool bearer;          // needs a valid access token
    Handler handler;
  };
  static const Route kRoutes[];

  LocalServiceOptions options;
  std::mutex mutex;  // guards everything below
  std::mt19937_64 random{std::random_device{}()};
  std::map<std::string, IssuedCode> authorizationCodes;
  std::map<std::string, PageStart> pageTokens;
  std::set<std::string> refreshTokens;
  std::set<std::string> accessTokens;
  std::vector<TaskList> lists;  // the first is the default list, "@default"
  uint64_t revision = 0;        // counts changes; every etag is a different count
  int failuresLeft = 0;         // task requests still to be turned away
  int failureStatus = 429;
  std::string firstCode;
  std::atomic<uint16_t> port{0};
  std::unique_ptr<testsupport::TlsServer> server;

  explicit Impl(LocalServiceOptions given) : options(std::move(given)) {
    revision = random() % 1000000000;
    if (options.failRequests > 0) FailNext(options.failRequests, options.failStatus);
    lists.push_back(NewList("My Tasks"));
    lists.push_back(NewList("Groceries"));
    for (const char* title : {"Water the plants", "Call the bank"}) lists[0].tasks.push_back(NewTask(title));
    // More tasks than one page holds. Every twelfth is completed; the first
    // five of those were cleared away in the service's own apps, so they are
    // hidden as well.
    lists.push_back(NewList("Backlog"));
    for (int i = 1; i <= options.backlogTasks; ++i) {
      char title[32];
      std::snprintf(title, sizeof title, "Backlog item %03d", i);
      Task task = NewTask(title);
      if (i % 12 == 0) {
        task.status = "completed";
        task.completed = task.updated;
        task.hidden = i <= 60;
      }
      lists.back().tasks.push_back(task);
    }
    for (TaskList& list : lists) {
      for (size_t i = 0; i < list.tasks.size(); ++i) list.tasks[i].rank = kFirstRank + i * kRankGap;
    }
    firstCode = options.authorizationCode.empty() ? MakeCode() : options.authorizationCode;
    authorizationCodes[firstCode] = IssuedCode{kOutOfBandRedirect, ""};
  }

  void FailNext(int count, int status) {
    if (count < 0 || !IsServiceFailure(status)) {
      throw std::invalid_argument("the local service fails requests with 403, 429, 500 or 503, not " +
                                  std::to_string(status));
    }
    failuresLeft = count;
    failureStatus = status;
  }

  std::string MakeId(size_t length) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string id;
    for (size_t i = 0; i < length; ++i) id += kAlphabet[random() % 64];
    return id;
  }
  // Like the service's, a code carries a '/', which the form must escape.
  std::string MakeCode() { return "4/0A" + MakeId(40); }

  // Marks a task or a list changed: a new time and a new etag.
  template <typename Resource>
  void Touch(Resource* resource) {
    resource->updated = Rfc3339Now();
    resource->etag = Base64Url(std::to_string(++revision));
  }
  Task NewTask(const std::string& title) {
    Task task;
    task.id = MakeId(22);
    task.title = title;
    Touch(&task);
    return task;
  }
  TaskList NewList(const std::string& title) {
    TaskList list;
    list.id = MakeId(32);
    list.title = title;
    Touch(&list);
    return list;
  }

  std::string SelfLink(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port.load()) + path;
  }

  // Members in the service's order; those it leaves out when empty are left out.
  std::string TaskJson(const TaskList& list, const Task& task, const std::string& indent) const {
    const std::string in = indent + "  ";
    auto member = [&](const char* name, const std::string& json) { return ",\n" + in + "\"" + name + "\": " + json; };
    char position[32];
    std::snprintf(position, sizeof position, "%020llu", static_cast<unsigned long long>(task.rank));
    std::string json = indent + "{\n" + in + "\"kind\": \"tasks#task\"" + member("id", JsonQuote(task.id)) +
                       member("etag", JsonQuote("\"" + task.etag + "\"")) + member("title", JsonQuote(task.title)) +
                       member("updated", JsonQuote(task.updated)) +
                       member("selfLink", JsonQuote(SelfLink("/tasks/v1/lists/" + list.id + "/tasks/" + task.id)));
    if (!task.parent.empty()) json += member("parent", JsonQuote(task.parent));
    json += member("position", JsonQuote(position));
    if (!task.notes.empty()) json += member("notes", JsonQuote(task.notes));
    json += member("status", JsonQuote(task.status));
    if (!task.due.empty()) json += member("due", JsonQuote(task.due));
    if (!task.completed.empty()) json += member("completed", JsonQuote(task.completed));
    if (task.hidden) json += member("hidden", "true");
    return json + "\n" + indent + "}";
  }

  std::string ListJson(const TaskList& list, const std::string& indent) const {
    const std::string in = indent + "  ";
    return indent + "{\n" + in + "\"kind\": \"tasks#taskList\",\n" + in + "\"id\": " + JsonQuote(list.id) + ",\n" +
           in + "\"etag\": " + JsonQuote("\"" + list.etag + "\"") + ",\n" + in + "\"title\": " +
           JsonQuote(list.title) + ",\n" + in + "\"updated\": " + JsonQuote(list.updated) + ",\n" + in +
           "\"selfLink\": " + JsonQuote(SelfLink("/tasks/v1/users/@me/lists/" + list.id)) + "\n" + indent + "}";
  }

  // A listing; like the service's, it has no "items" at all when empty.
  static std::string Collection(const char* kind, const std::vector<std::string>& items,
                                const std::string& nextPageToken = "") {
    std::string body = std::string("{\n  \"kind\": \"") + kind + "\",\n  \"etag\": \"\\\"local\\\"\"";
    if (!nextPageToken.empty()) body += ",\n  \"nextPageToken\": " + JsonQuote(nextPageToken);
    if (items.empty()) return body + "\n}\n";
    body += ",\n  \"items\": [";
    for (size_t i = 0; i < items.size(); ++i) body += (i ? ",\n" : "\n") + items[i];
    return body + "\n  ]\n}\n";
  }

  static Response Json(const std::string& body) {
    Response response;
    response.body = body + "\n";
    return response;
  }

  static Response NoContent() {
    Response response;
    response.status = 204;
    return response;
  }

  TaskList* FindList(const std::string& id) {
    if (id == "@default") return &lists.front();
    for (auto& list : lists) {
      if (list.id == id) return &list;
    }
    return nullptr;
  }

  static Task* FindTask(TaskList* list, const std::string& id) {
    for (Task& task : list->tasks) {
      if (task.id == id) return &task;
    }
    return nullptr;
  }

  // True when `id` is `ancestor` or lies anywhere below it.
  static bool IsWithin(TaskList* list, std::string id, const std::string& ancestor) {
    for (size_t steps = 0; !id.empty() && steps <= list->tasks.size(); ++steps) {
      if (id == ancestor) return true;
      const Task* task = FindTask(list, id);
      if (!task) return false;
      id = task->parent;
    }
    return false;
  }

  // A task and every task below it.
  // Takes the tasks named in `ids` out of the list.
  static void EraseTasks(TaskList* list, const std::set<std::string>& ids) {
    list->tasks.erase(std::remove_if(list->tasks.begin(), list->tasks.end(),
                                     [&](const Task& each) { return ids.count(each.id) != 0; }),
                      list->tasks.end());
  }

  static std::set<std::string> Subtree(TaskList* list, const std::string& id) {
    std::set<std::string> ids;
    for (const Task& task : list->tasks) {
      if (IsWithin(list, task.id, id)) ids.insert(task.id);
    }
    return ids;
  }

  // The tasks as the service lists them: each parent followed by its
  // subtasks, siblings in the order of their positions.
  static std::vector<Task*> Ordered(TaskList* list) {
    std::vector<Task*> byRank;
    for (Task& task : list->tasks) byRank.push_back(&task);
    std::stable_sort(byRank.begin(), byRank.end(), [](const Task* a, const Task* b) { return a->rank < b->rank; });
    std::vector<Task*> ordered;
    std::function<void(const std::string&)> visit = [&](const std::string& parent) {
      for (Task* task : byRank) {
        if (task->parent != parent) continue;
        ordered.push_back(task);
        visit(task->id);
      }
    };
    visit("");
    return ordered;
  }

  // Why `parent` and `previous` cannot take `moving` (null: a new task) in
  // `list`; empty when they can. Both must be visible tasks of the list, the
  // previous one a child of that parent, and a task that is both completed
  // and hidden stays at the top of the top level.
  static std::string PlaceProblem(TaskList* list, const Task* moving, const std::string& parent,
                                  const std::string& previous) {
    const bool clearedAway = moving && moving->hidden && moving->status == "completed";
    if (!parent.empty()) {
      const Task* found = FindTask(list, parent);
      if (!found || found->hidden) return "Invalid parent task: " + parent + ".";
      if (moving && IsWithin(list, parent, moving->id)) return "A task cannot go below itself.";
      if (clearedAway) return "A completed hidden task cannot be a subtask.";
    }
    if (!previous.empty()) {
      const Task* found = FindTask(list, previous);
      if (!found || found->hidden || found->parent != parent || (moving && found->id == moving->id)) {
        return "Invalid previous task: " + previous + ".";
      }
      if (clearedAway) return "A completed hidden task can only go first.";
    }
    return "";
  }

  // Puts `task` among the children of `parent` just after `previous` (first
  // when empty). Only its own position changes unless its new neighbours
  // leave no room between them: then the siblings are spread out again.
  void Place(TaskList* list, Task* task, const std::string& parent, const std::string& previous) {
    task->parent = parent;
    std::vector<Task*> siblings;
    for (Task& other : list->tasks) {
      if (&other != task && other.parent == parent) siblings.push_back(&other);
    }
    std::sort(siblings.begin(), siblings.end(), [](const Task* a, const Task* b) { return a->rank < b->rank; });
    size_t at = 0;
    while (!previous.empty() && at < siblings.size() && siblings[at++]->id != previous) {
    }
    const uint64_t low = at > 0 ? siblings[at - 1]->rank : 0;
    const bool last = at == siblings.size();
    const uint64_t high = last ? 0 : siblings[at]->rank;
    if (siblings.empty()) {
      task->rank = kFirstRank;
    } else if (last && low <= UINT64_MAX - kRankGap) {
      task->rank = low + kRankGap;
    } else if (!last && at == 0 && high > kRankGap) {
      task->rank = high - kRankGap;
    } else if (!last && high - low > 1) {
      task->rank = low + (high - low) / 2;
    } else {
      siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(at), task);
      for (size_t i = 0; i < siblings.size(); ++i) {
        siblings[i]->rank = kFirstRank + i * kRankGap;
        if (siblings[i] != task) Touch(siblings[i]);
      }
    }
  }

  static std::string QueryValue(const Call& call, const char* name) {
    auto found = call.query.find(name);
    return found == call.query.end() ? std::string() : found->second;
  }

  // maxResults as the service reads it: a positive number, above `largest`
  // taken as `largest`.
  static std::optional<Response> ReadPageSize(const Call& call, size_t fallback, size_t largest, size_t* size) {
    *size = fallback;
    auto maxResults = call.query.find("maxResults");
    if (maxResults == call.query.end()) return std::nullopt;
    const std::string& text = maxResults->second;
    if (text.empty() || text.size() > 9 || !IsDigits(text) || std::stol(text) < 1) {
      return BadRequest("Invalid value at 'max_results' (TYPE_INT32), \"" + text + "\"");
    }
    *size = std::min(static_cast<size_t>(std::stol(text)), largest);
    return std::nullopt;
  }

  // Where pageToken leads in the listing `listing` (a list's id; empty for
  // the task lists themselves): 0 without one.
  std::optional<Response> ReadPageToken(const Call& call, const std::string& listing, size_t* offset) const {
    *offset = 0;
    const std::string token = QueryValue(call, "pageToken");
    if (token.empty()) return std::nullopt;
    auto start = pageTokens.find(token);
    if (start == pageTokens.end() || start->second.listId != listing) return BadRequest("Invalid page token.");
    *offset = start->second.offset;
    return std::nullopt;
  }

  // --- The routes -----------------------------------------------------------

  Response Token(Call& call) {
    auto type = call.http.headers.find("content-type");
    if (type == call.http.headers.end() || Lower(type->second).find("application/x-www-form-urlencoded") != 0) {
      return TokenError(400, "invalid_request", "Content-Type must be application/x-www-form-urlencoded.");
    }
    std::map<std::string, std::string> form;
    if (!ParseFields(call.http.body, &form)) return TokenError(400, "invalid_request", "Malformed form body.");
    auto field = [&](const char* name) {
      auto found = form.find(name);
      return found == form.end() ? std::string() : found->second;
    };
    if (field("client_id").empty()) return TokenError(401, "invalid_client", "The OAuth client was not found.");
    if (field("client_secret").empty()) return TokenError(400, "invalid_request", "client_secret is missing.");
    std::string grant = field("grant_type");
    bool issueRefresh;
    if (grant == "authorization_code") {
      // A code is good for one attempt: any exchange that names it spends it.
      auto issued = authorizationCodes.find(field("code"));
      if (issued == authorizationCodes.end()) return TokenError(400, "invalid_grant", "Malformed auth code.");
      const IssuedCode code = issued->second;
      authorizationCodes.erase(issued);
      if (field("redirect_uri") != code.redirectUri) return TokenError(400, "redirect_uri_mismatch", "Bad Request");
      const bool hasVerifier = form.count("code_verifier") != 0;
      if (code.codeChallenge.empty() && hasVerifier) {
        return TokenError(400, "invalid_grant", "code_verifier given for a code issued without code_challenge.");
      }
      if (!code.codeChallenge.empty()) {
        if (!hasVerifier) return TokenError(400, "invalid_grant", "Missing code verifier.");
        const std::string verifier = field("code_verifier");
        if (!IsPkceVerifier(verifier) || PkceChallenge(verifier) != code.codeChallenge) {
          return TokenError(400, "invalid_grant", "Invalid code verifier.");
        }
      }
      issueRefresh = true;
    } else if (grant == "refresh_token") {
      if (refreshTokens.count(field("refresh_token")) == 0) {
        return TokenError(400, "invalid_grant", "Token has been expired or revoked.");
      }
      issueRefresh = false;  // the service keeps the refresh token and sends none
    } else {
      return TokenError(400, "unsupported_grant_type", "Invalid grant_type: " + grant);
    }
    std::string access = "ya29.local-" + MakeId(100);
    accessTokens.insert(access);
    Response response;
    response.body = "{\n  \"access_token\": " + JsonQuote(access) + ",\n  \"expires_in\": 3599,\n";
    if (issueRefresh) {
      std::string refresh = "1//local-" + MakeId(90);
      refreshTokens.insert(refresh);
      response.body += "  \"refresh_token\": " + JsonQuote(refresh) + ",\n";
    }
    response.body += std::string("  \"scope\": \"") + kTasksScope + "\",\n  \"token_type\": \"Bearer\"\n}";
    return response;
  }

  // The sign-in page, with the user's consent taken as given: checks the
  // authorization request of an installed application (loopback redirect,
  // optionally PKCE with S256) and redirects to the loopback address with a
  // fresh code, as the browser would be.
  Response Authorize(Call& call) {
    auto field = [&](const char* name) {
      auto found = call.query.find(name);
      return found == call.query.end() ? std::string() : found->second;
    };
    if (field("client_id").empty()) return TokenError(401, "invalid_client", "The OAuth client was not found.");
    const std::string redirect = field("redirect_uri");
    if (!IsLoopbackRedirect(redirect)) {
      return TokenError(400, "invalid_request",
                        "redirect_uri must be a loopback address: http://127.0.0.1:PORT or http://localhost[:PORT].");
    }
    if (field("response_type") != "code") {
      return TokenError(400, "unsupported_response_type", "response_type must be code.");
    }
    bool tasksScope = false;
    const std::string scope = field("scope");
    for (size_t at = 0; at <= scope.size();) {
      size_t end = std::min(scope.find(' ', at), scope.size());
      tasksScope = tasksScope || scope.substr(at, end - at) == kTasksScope;
      at = end + 1;
    }
    if (!tasksScope) return TokenError(400, "invalid_scope", std::string("scope must include ") + kTasksScope + ".");
    const std::string challenge = field("code_challenge");
    const std::string method = field("code_challenge_method");
    if (!challenge.empty() || !method.empty()) {
      if (method != "S256") return TokenError(400, "invalid_request", "code_challenge_method must be S256.");
      if (challenge.size() != 43 || !std::all_of(challenge.begin(), challenge.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '-' || c == '_';
          })) {
        return TokenError(400, "invalid_request", "Invalid code_challenge.");
      }
    }
    const std::string code = MakeCode();
    authorizationCodes[code] = IssuedCode{redirect, challenge};
    const bool hasPath = redirect.find('/', std::strlen("http://")) != std::string::npos;
    std::string location = redirect + (hasPath ? "?" : "/?");
    if (call.query.count("state")) location += "state=" + PercentEncode(field("state")) + "&";
    location += "code=" + PercentEncode(code) + "&scope=" + PercentEncode(kTasksScope);
    Response response;
    response.status = 302;
    response.extraHeaders.emplace_back("Location", location);
    return response;
  }

  // One page of the task lists: maxResults (default and largest 1000) and
  // pageToken, as the service reads them.
  Response ListTaskLists(Call& call) {
    size_t pageSize, offset;
    if (auto refused = ReadPageSize(call, kDefaultListsPage, kLargestListsPage, &pageSize)) return *refused;
    if (auto refused = ReadPageToken(call, "", &offset)) return *refused;
    std::vector<std::string> items;
    for (size_t i = offset; i < lists.size() && i < offset + pageSize; ++i) items.push_back(ListJson(lists[i], "    "));
    const std::string next = offset + pageSize < lists.size() ? PageToken("", offset + pageSize) : "";
    Response response;
    response.body = Collection("tasks#taskLists", items, next);
    return response;
  }

  Response GetTaskList(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    return list ? Json(ListJson(*list, "")) : NotFound();
  }

  Response InsertTaskList(Call& call) {
    std::optional<JsonValue> body;
    if (auto refused = ReadJsonObject(call, &body)) return *refused;
    TaskList list = NewList("");
    if (auto refused = ApplyTaskList(*body, true, &list)) return *refused;
    lists.push_back(list);
    return Json(ListJson(lists.back(), ""));
  }

  Response UpdateTaskList(Call& call) { return WriteTaskList(call, true); }
  Response PatchTaskList(Call& call) { return WriteTaskList(call, false); }

  Response WriteTaskList(Call& call, bool replace) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    std::optional<JsonValue> body;
    if (auto refused = ReadJsonObject(call, &body)) return *refused;
    if (auto refused = ApplyTaskList(*body, replace, list)) return *refused;
    Touch(list);
    return Json(ListJson(*list, ""));
  }

  // The one writable member of a task list, its title. With `replace` (an
  // update), a title left out becomes empty.
  static std::optional<Response> ApplyTaskList(const JsonValue& body, bool replace, TaskList* list) {
    const JsonValue* title = body.Find("title");
    if (title && title->type != JsonValue::Type::kString && title->type != JsonValue::Type::kNull) {
      return BadRequest("Invalid value at 'resource.title'.");
    }
    if (title && Utf8Length(title->text) > kLongestTitle) return BadRequest("Invalid value at 'resource.title': too long.");
    if (title || replace) list->title = title ? title->text : "";
    return std::nullopt;
  }

  // The default list stays, as with the service.
  Response DeleteTaskList(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    if (list == &lists.front()) return BadRequest("The default task list cannot be deleted.");
    lists.erase(lists.begin() + (list - lists.data()));
    return NoContent();
  }

  // One page of a list's tasks. maxResults (default 20, at most 100),
  // showCompleted (default true), showHidden (default false), showDeleted
  // and showAssigned (read, nothing to show) and pageToken, as the service
  // reads them; nextPageToken when more tasks remain.
  Response ListTasks(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    size_t pageSize, offset;
    if (auto refused = ReadPageSize(call, kDefaultPage, kLargestPage, &pageSize)) return *refused;
    bool show[2] = {true, false};
    const char* const flags[4] = {"showCompleted", "showHidden", "showDeleted", "showAssigned"};
    for (int i = 0; i < 4; ++i) {
      auto flag = call.query.find(flags[i]);
      if (flag == call.query.end()) continue;
      if (flag->second != "true" && flag->second != "false") {
        return BadRequest(std::string("Invalid value for ") + flags[i] + ": \"" + flag->second + "\"");
      }
      if (i < 2) show[i] = flag->second == "true";
    }
    if (auto refused = ReadPageToken(call, list->id, &offset)) return *refused;
    std::vector<const Task*> listed;
    for (const Task* task : Ordered(list)) {
      if ((task->status == "completed" && !show[0]) || (task->hidden && !show[1])) continue;
      listed.push_back(task);
    }
    std::vector<std::string> items;
    for (size_t i = offset; i < listed.size() && i < offset + pageSize; ++i) {
      items.push_back(TaskJson(*list, *listed[i], "    "));
    }
    std::string next;
    if (offset + pageSize < listed.size()) next = PageToken(list->id, offset + pageSize);
    Response response;
    response.body = Collection("tasks#tasks", items, next);
    return response;
  }

  // The same place in the same listing gets the same opaque token: standard
  // base64 with padding, so it carries '+', '/' and '=' to be escaped.
  std::string PageToken(const std::string& listId, size_t offset) {
    for (const auto& known : pageTokens) {
      if (known.second.listId == listId && known.second.offset == offset) return known.first;
    }
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string token = "Cg";
    for (int i = 0; i < 20; ++i) token += i == 8 ? '+' : i == 16 ? '/' : kAlphabet[random() % 64];
    token += "==";
    pageTokens[token] = PageStart{listId, offset};
    return token;
  }

  // The request's body as a JSON object, or the reply that refuses it. An
  // empty body (Content-Length: 0) is an empty object.
  static std::optional<Response> ReadJsonObject(const Call& call, std::optional<JsonValue>* body) {
    if (call.http.body.empty()) {
      *body = JsonValue();
      (*body)->type = JsonValue::Type::kObject;
      return std::nullopt;
    }
    auto type = call.http.headers.find("content-type");
    if (type == call.http.headers.end() || Lower(type->second).find("application/json") != 0) {
      return BadRequest("Content-Type must be application/json.");
    }
    std::string error;
    *body = ParseJson(call.http.body, &error);
    if (!*body) return ApiError(400, "INVALID_ARGUMENT", "parseError", "Invalid JSON payload received. " + error);
    if ((*body)->type != JsonValue::Type::kObject) return BadRequest("Invalid JSON payload received. Not an object.");
    return std::nullopt;
  }

  // The writable members of a task: title, notes, status and due; the
  // others (id, parent, position, completed, hidden, ...) are the service's
  // and ignored. null clears a member. With `replace` (an update), members
  // left out are cleared too. Completing stamps the "completed" time;
  // reopening clears it and brings a cleared task back. Nothing changes
  // when any value is refused.
  static std::optional<Response> ApplyTask(const JsonValue& body, bool replace, Task* task) {
    using Type = JsonValue::Type;
    Task changed = *task;
    auto take = [&](const char* name, const JsonValue** value) {
      *value = body.Find(name);
      return *value || replace;
    };
    const JsonValue* value;
    if (take("title", &value)) {
      if (value && value->type != Type::kString && value->type != Type::kNull) {
        return BadRequest("Invalid value at 'resource.title'.");
      }
      changed.title = value ? value->text : "";
      if (Utf8Length(changed.title) > kLongestTitle) return BadRequest("Invalid value at 'resource.title': too long.");
    }
    // Notes that are not text are passed over rather than refused.
    if (take("notes", &value) && (!value || value->type == Type::kString || value->type == Type::kNull)) {
      changed.notes = value ? value->text : "";
      if (Utf8Length(changed.notes) > kLongestNotes) return BadRequest("Invalid value at 'resource.notes': too long.");
    }
    if (take("status", &value)) {
      if (value && value->type == Type::kString && (value->text == "completed" || value->text == "needsAction")) {
        changed.status = value->text;
      } else if (!value || value->type == Type::kNull) {
        changed.status = "needsAction";
      } else {
        return BadRequest("Invalid value at 'resource.status'.");
      }
    }
    if (take("due", &value)) {
      std::string date;
      if (value && value->type == Type::kString && TimestampDate(value->text, &date)) {
        changed.due = date + "T00:00:00.000Z";  // the service keeps the date alone
      } else if (!value || value->type == Type::kNull) {
        changed.due.clear();
      } else {
        return BadRequest("Invalid value at 'resource.due': " + value->ToString() +
                          " is not an RFC 3339 timestamp.");
      }
    }
    if (changed.status == "completed" && task->status != "completed") changed.completed = Rfc3339Now();
    if (changed.status == "needsAction") {
      changed.completed.clear();
      changed.hidden = false;
    }
    *task = changed;
    return std::nullopt;
  }

  // The task the path names, with its list, or the 404 for either.
  std::optional<Response> FindListAndTask(Call& call, TaskList** list, Task** task) {
    *list = FindList(call.captured["list"]);
    *task = *list ? FindTask(*list, call.captured["task"]) : nullptr;
    return *task ? std::nullopt : std::optional<Response>(NotFound());
  }

  Response GetTask(Call& call) {
    TaskList* list;
    Task* task;
    if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
    return Json(TaskJson(*list, *task, ""));
  }

  // A new task, first among its siblings unless `previous` names the one it
  // follows; a subtask when `parent` names a task.
  Response InsertTask(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    std::optional<JsonValue> body;
    if (auto refused = ReadJsonObject(call, &body)) return *refused;
    const std::string parent = QueryValue(call, "parent"), previous = QueryValue(call, "previous");
    const std::string problem = PlaceProblem(list, nullptr, parent, previous);
    if (!problem.empty()) return BadRequest(problem);
    Task task = NewTask("");
    if (auto refused = ApplyTask(*body, true, &task)) return *refused;
    list->tasks.push_back(task);
    Place(list, &list->tasks.back(), parent, previous);
    return Json(TaskJson(*list, list->tasks.back(), ""));
  }

  Response UpdateTask(Call& call) { return WriteTask(call, true); }
  Response PatchTask(Call& call) { return WriteTask(call, false); }

  Response WriteTask(Call& call, bool replace) {
    TaskList* list;
    Task* task;
    if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
    std::optional<JsonValue> body;
    if (auto refused = ReadJsonObject(call, &body)) return *refused;
    if (auto refused = ApplyTask(*body, replace, task)) return *refused;
    Touch(task);
    return Json(TaskJson(*list, *task, ""));
  }

  // Moves a task, its subtasks with it, under `parent` after `previous`, in
  // its list or in `destinationTasklist`. The body, if any, is not read.
  Response MoveTask(Call& call) {
    TaskList* list;
    Task* task;
    if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
    TaskList* destination = list;
    const std::string destinationId = QueryValue(call, "destinationTasklist");
    if (!destinationId.empty() && !(destination = FindList(destinationId))) return NotFound();
    const std::string parent = QueryValue(call, "parent"), previous = QueryValue(call, "previous");
    const std::string problem = PlaceProblem(destination, task, parent, previous);
    if (!problem.empty()) return BadRequest(problem);
    const std::string id = task->id;
    if (destination != list) {
      const std::set<std::string> moving = Subtree(list, id);
      for (const Task& each : list->tasks) {
        if (moving.count(each.id)) destination->tasks.push_back(each);
      }
      EraseTasks(list, moving);
      task = FindTask(destination, id);
    }
    Place(destination, task, parent, previous);
    Touch(task);
    return Json(TaskJson(*destination, *task, ""));
  }

  // Deletes a task and its subtasks.
  Response DeleteTask(Call& call) {
    TaskList* list;
    Task* task;
    if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
    EraseTasks(list, Subtree(list, task->id));
    return NoContent();
  }

  // Hides every completed task: listings leave them out unless showHidden.
  Response ClearTasks(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    for (Task& task : list->tasks) {
      if (task.status != "completed" || task.hidden) continue;
      task.hidden = true;
      Touch(&task);
    }
    return NoContent();
  }

  // --- Dispatch ---------------------------------------------------------------

  static std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> segments;
    size_t position = 1;  // past the leading '/'
    while (position <= path.size()) {
      size_t end = std::min(path.find('/', position), path.size());
      segments.push_back(path.substr(position, end - position));
      position = end + 1;
    }
    return segments;
  }

  static bool Matches(const char* pattern, Call* call) {
    std::vector<std::string> parts = Split(pattern);
    if (parts.size() != call->segments.size()) return false;
    std::map<std::string, std::string> captured;
    for (size_t i = 0; i < parts.size(); ++i) {
      const std::string& part = parts[i];
      if (part.size() > 2 && part.front() == '{' && part.back() == '}') {
        captured[part.substr(1, part.size() - 2)] = call->segments[i];
      } else if (part != call->segments[i]) {
        return false;
      }
    }
    call->captured = std::move(captured);
    return true;
  }

  Response Dispatch(const HttpRequest& http) {
    if (http.headers.count("host") == 0) return BadRequest("The Host header is missing.");
    if ((http.method == "POST" || http.method == "PATCH" || http.method == "PUT") &&
        http.headers.count("content-length") == 0) {
      return ApiError(411, "INVALID_ARGUMENT", "lengthRequired", "A request with a body needs a Content-Length.");
    }
    if (http.target.empty() || http.target[0] != '/') return BadRequest("Malformed request target.");
    Call call{http, {}, {}, {}};
    size_t question = http.target.find('?');
    if (question != std::string::npos && !ParseFields(http.target.substr(question + 1), &call.query)) {
      return BadRequest("Malformed query string.");
    }
    for (const std::string& raw : Split(http.target.substr(0, question))) {
      std::string segment;
      if (!PercentDecode(raw, false, &segment)) return BadRequest("Malformed escape in the path.");
      call.segments.push_back(segment);
    }
    bool pathKnown = false;
    for (const Route* route = kRoutes; route->method; ++route) {
      if (!Matches(route->pattern, &call)) continue;
      pathKnown = true;
      if (http.method != route->method) continue;
      if (route->bearer) {
        auto authorization = http.headers.find("authorization");
        const std::string prefix = "Bearer ";
        if (authorization == http.headers.end() || authorization->second.compare(0, prefix.size(), prefix) != 0 ||
            accessTokens.count(authorization->second.substr(prefix.size())) == 0) {
          return Unauthenticated();
        }
        if (failuresLeft > 0) {
          --failuresLeft;
          return ServiceFailure(failureStatus);
        }
      }
      return (this->*(route->handler))(call);
    }
    if (pathKnown) {
      return ApiError(405, "INVALID_ARGUMENT", "methodNotAllowed", "Method " + http.method + " is not allowed here.");
    }
    return NotFound();
  }

  // Head in one write, then the body in chunks of several writes, as the
  // service sends them.
  static bool Send(TlsStream& stream, const Response& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
    if (!response.body.empty()) head += "Content-Type: application/json; charset=UTF-8\r\n";
    head += "Vary: Origin\r\nVary: X-Origin\r\nVary: Referer\r\nDate: " + HttpDate() +
            "\r\nServer: taskclient-local-service\r\nCache-Control: private\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& header : response.extraHeaders) head += header.first + ": " + header.second + "\r\n";
    if (response.close) head += "Connection: close\r\n";
    if (response.body.empty()) {
      // 204 has no body by definition; any other status says it has none.
      if (response.status != 204) head += "Content-Length: 0\r\n";
      return stream.Write(head + "\r\n");
    }
    head += "Transfer-Encoding: chunked\r\n\r\n";
    if (!stream.Write(head)) return false;
    const size_t pieces = 3;
    const size_t size = (response.body.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < response.body.size(); at += size) {
      std::string piece = response.body.substr(at, size);
      char length[16];
      std::snprintf(length, sizeof length, "%zx\r\n", piece.size());
      if (!stream.Write(length + piece + "\r\n")) return false;
    }
    return stream.Write("0\r\n\r\n");
  }

  void Log(const std::string& line) {
    if (options.log) std::fprintf(stderr, "local service: %s\n", line.c_str());
  }

  // One connection: requests one after another until the client closes or a
  // request breaks the rules.
  void Handle(TlsStream& stream) {
    for (;;) {
      std::string error;
      std::optional<HttpRequest> request = stream.ReadRequest(options.readTimeoutMs, &error);
      if (!request) {
        if (error == "no request") return;  // closed, or idle for too long
        std::lock_guard<std::mutex> lock(mutex);
        Log("refused a malformed request (" + error + ")");
        Response response = BadRequest("Malformed request: " + error + ".");
        response.close = true;
        Send(stream, response);
        return;
      }
      Response response;
      {
        std::lock_guard<std::mutex> lock(mutex);
        response = Dispatch(*request);
        Log(request->method + " " + request->target.substr(0, 120) + " -> " + std::to_string(response.status));
      }
      auto connection = request->headers.find("connection");
      if (connection != request->headers.end() && Lower(connection->second) == "close") response.close = true;
      if (!Send(stream, response) || response.close) return;
    }
  }
};

const LocalService::Impl::Route LocalService::Impl::kRoutes[] = {
    {"GET", "/o/oauth2/v2/auth", false, &Impl::Authorize},
    {"POST", "/oauth2/v3/token", false, &Impl::Token},
    {"GET", "/tasks/v1/users/@me/lists", true, &Impl::ListTaskLists},
    {"POST", "/tasks/v1/users/@me/lists", true, &Impl::InsertTaskList},
    {"GET", "/tasks/v1/users/@me/lists/{list}", true, &Impl::GetTaskList},
    {"PUT", "/tasks/v1/users/@me/lists/{list}", true, &Impl::UpdateTaskList},
    {"PATCH", "/tasks/v1/users/@me/lists/{list}", true, &Impl::PatchTaskList},
    {"DELETE", "/tasks/v1/users/@me/lists/{list}", true, &Impl::DeleteTaskList},
    {"GET", "/tasks/v1/lists/{list}/tasks", true, &Impl::ListTasks},
    {"POST", "/tasks/v1/lists/{list}/tasks", true, &Impl::InsertTask},
    {"POST", "/tasks/v1/lists/{list}/clear", true, &Impl::ClearTasks},
    {"GET", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::GetTask},
    {"PUT", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::UpdateTask},
    {"PATCH", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::PatchTask},
    {"DELETE", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::DeleteTask},
    {"POST", "/tasks/v1/lists/{list}/tasks/{task}/move", true, &Impl::MoveTask},
    {nullptr, nullptr, false, nullptr},
};

LocalService::LocalService(LocalServiceOptions options) : impl_(new Impl(std::move(options))) {
  Impl* impl = impl_.get();
  impl->server.reset(new testsupport::TlsServer([impl](TlsStream& stream) { impl->Handle(stream); },
                                                impl->options.port));
  impl->port = impl->server->port();
}

LocalService::~LocalService() { Stop(); }

uint16_t LocalService::port() const { return impl_->port.load(); }

std::string LocalService::authorizationCode() const { return impl_->firstCode; }

std::string LocalService::IssueAuthorizationCode() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::string code = impl_->MakeCode();
  impl_->authorizationCodes[code] = IssuedCode{kOutOfBandRedirect, ""};
  return code;
}

std::string LocalService::IssueLoopbackCode(const std::string& redirectUri, const std::string& codeChallenge) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::string code = impl_->MakeCode();
  impl_->authorizationCodes[code] = IssuedCode{redirectUri, codeChallenge};
  return code;
}

void LocalService::FailNextRequests(int count, int status) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->FailNext(count, status);
}

void LocalService::Stop() {
  if (impl_->server) impl_->server->Stop();
}

}  // namespace tools
