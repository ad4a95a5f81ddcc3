// What the stand-in's routes share: the stored lists and tasks with their ids,
// etags and positions, their JSON as the service writes it, paging, and the
// service's error replies.
#include "local_service_store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace tools {

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

std::string UtcNow(const char* format) {
  char text[64];
  std::time_t now = std::time(nullptr);
  std::tm parts;
  gmtime_r(&now, &parts);
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

std::string Rfc3339(int64_t micros) {
  const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm parts;
  gmtime_r(&seconds, &parts);
  char text[40];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(micros / 1000 % 1000));
  return text;
}

bool ReadTimestamp(const std::string& text, int64_t* micros, std::string* date) {
  auto number = [&](size_t at, size_t digits, int* value) {
    if (at + digits > text.size()) return false;
    *value = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      *value = *value * 10 + (text[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second, offsetHours = 0, offsetMinutes = 0;
  if (!number(0, 4, &year) || text.size() < 20 || text[4] != '-' || !number(5, 2, &month) || text[7] != '-' ||
      !number(8, 2, &day) || (text[10] != 'T' && text[10] != 't') || !number(11, 2, &hour) || text[13] != ':' ||
      !number(14, 2, &minute) || text[16] != ':' || !number(17, 2, &second)) {
    return false;
  }
  size_t at = 19;
  int64_t fraction = 0;  // microseconds
  if (text[at] == '.') {
    const size_t digits = ++at;
    int64_t scale = 100000;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at, scale /= 10) {
      fraction += (text[at] - '0') * scale;
    }
    if (at == digits) return false;
  }
  int sign = 0;
  if (at + 1 == text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && number(at + 1, 2, &offsetHours) &&
             text[at + 3] == ':' && number(at + 4, 2, &offsetMinutes) && offsetHours < 24 && offsetMinutes < 60) {
    sign = text[at] == '+' ? 1 : -1;
  } else {
    return false;
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap) || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  // Days since 1970-01-01 of the civil date (years and months from March on).
  const int y = year - (month <= 2);
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t days = int64_t(era) * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
  const int64_t seconds =
      days * 86400 + hour * 3600 + minute * 60 + second - sign * (offsetHours * 3600 + offsetMinutes * 60);
  *micros = seconds * 1000000 + fraction;
  if (date) *date = text.substr(0, 10);
  return true;
}

// Characters, not bytes, of UTF-8 text: the service's length limits count them.
size_t Utf8Length(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
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

LocalService::Impl::Impl(LocalServiceOptions given) : options(std::move(given)) {
  revision = random() % 1000000000;
  if (options.failRequests > 0) FailNext(options.failRequests, options.failStatus);
  lists.push_back(NewList("My Tasks"));
  lists.push_back(NewList("Groceries"));
  for (const char* title : {"Water the plants", "Call the bank"}) lists[0].tasks.push_back(NewTask(title));
  if (options.assignedTasks) SeedAssignedTasks(&lists[0]);
  // More tasks than one page holds. Every twelfth is completed; the first
  // five of those were cleared away in the service's own apps, so they are
  // hidden as well. Every tenth is due, on day i/10 of January 2027.
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
    if (i % 10 == 0) {
      char due[48];
      std::snprintf(due, sizeof due, "2027-01-%02dT00:00:00.000Z", i / 10);
      task.due = due;
    }
    lists.back().tasks.push_back(task);
  }
  for (TaskList& list : lists) {
    for (size_t i = 0; i < list.tasks.size(); ++i) list.tasks[i].rank = kFirstRank + i * kRankGap;
  }
  firstCode = options.authorizationCode.empty() ? MakeCode() : options.authorizationCode;
  authorizationCodes[firstCode] = IssuedCode{kOutOfBandRedirect, ""};
}

// Tasks assigned to the user in a document and in a Chat space, as the
// service lists them with showAssigned.
void LocalService::Impl::SeedAssignedTasks(TaskList* list) {
  const std::string document = MakeId(44), space = "spaces/AAAA" + MakeId(7);
  const struct {
    const char* title;
    bool fromDocument;
  } assigned[] = {
      {"Check the figures in section 2", true},
      {"Send the draft to the printer", true},
      {"Book a room for the team lunch", false},
  };
  for (const auto& each : assigned) {
    Task task = NewTask(each.title);
    if (each.fromDocument) {
      task.surfaceType = "DOCUMENT";
      task.source = document;
      task.linkToTask = "https://docs.google.com/document/d/" + document + "/edit?disco=AAAA" + MakeId(11);
    } else {
      task.surfaceType = "SPACE";
      task.source = space;
      task.linkToTask = "https://chat.google.com/room/" + space.substr(7);
    }
    list->tasks.push_back(task);
  }
}

std::string LocalService::Impl::NextStamp() {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count() * 1000;
  lastStamp = std::max(now, lastStamp + 1000);
  return Rfc3339(lastStamp);
}

void LocalService::Impl::FailNext(int count, int status) {
  if (count < 0 || !IsServiceFailure(status)) {
    throw std::invalid_argument("the local service fails requests with 403, 429, 500 or 503, not " +
                                std::to_string(status));
  }
  failuresLeft = count;
  failureStatus = status;
}

// Base64url characters, as the service's ids, codes and tokens are made of;
// with idsBeginWithDash the first is always '-' and the second never is (a
// value of "--" and more reads as an option, and goes after "--" on a
// command line). (Codes and tokens put a prefix before such an id, so only
// ids begin with it.)
std::string LocalService::Impl::MakeId(size_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string id;
  for (size_t i = 0; i < length; ++i) id += kAlphabet[random() % 64];
  if (options.idsBeginWithDash && !id.empty()) {
    id[0] = '-';
    if (id.size() > 1 && id[1] == '-') id[1] = '_';
  }
  return id;
}

Task LocalService::Impl::NewTask(const std::string& title) {
  Task task;
  task.id = MakeId(22);
  task.title = title;
  Touch(&task);
  return task;
}

TaskList LocalService::Impl::NewList(const std::string& title) {
  TaskList list;
  list.id = MakeId(32);
  list.title = title;
  Touch(&list);
  return list;
}

std::string LocalService::Impl::SelfLink(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port.load()) + path;
}

// Members in the service's order; those it leaves out when empty are left out.
std::string LocalService::Impl::TaskJson(const TaskList& list, const Task& task, const std::string& indent) const {
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
  if (task.deleted) json += member("deleted", "true");
  if (task.hidden) json += member("hidden", "true");
  json += member("webViewLink", JsonQuote("https://tasks.google.com/task/" + task.id));
  if (!task.surfaceType.empty()) {
    const std::string deeper = in + "  ";
    const bool document = task.surfaceType == "DOCUMENT";
    json += member("assignmentInfo", "{\n" + deeper + "\"linkToTask\": " + JsonQuote(task.linkToTask) + ",\n" +
                                         deeper + "\"surfaceType\": " + JsonQuote(task.surfaceType) + ",\n" + deeper +
                                         (document ? "\"driveResourceInfo\": {\"driveFileId\": "
                                                   : "\"spaceInfo\": {\"space\": ") +
                                         JsonQuote(task.source) + "}\n" + in + "}");
  }
  return json + "\n" + indent + "}";
}

std::string LocalService::Impl::ListJson(const TaskList& list, const std::string& indent) const {
  const std::string in = indent + "  ";
  return indent + "{\n" + in + "\"kind\": \"tasks#taskList\",\n" + in + "\"id\": " + JsonQuote(list.id) + ",\n" +
         in + "\"etag\": " + JsonQuote("\"" + list.etag + "\"") + ",\n" + in + "\"title\": " +
         JsonQuote(list.title) + ",\n" + in + "\"updated\": " + JsonQuote(list.updated) + ",\n" + in +
         "\"selfLink\": " + JsonQuote(SelfLink("/tasks/v1/users/@me/lists/" + list.id)) + "\n" + indent + "}";
}

// A listing; like the service's, it has no "items" at all when empty.
std::string LocalService::Impl::Collection(const char* kind, const std::vector<std::string>& items,
                                           const std::string& nextPageToken) {
  std::string body = std::string("{\n  \"kind\": \"") + kind + "\",\n  \"etag\": \"\\\"local\\\"\"";
  if (!nextPageToken.empty()) body += ",\n  \"nextPageToken\": " + JsonQuote(nextPageToken);
  if (items.empty()) return body + "\n}\n";
  body += ",\n  \"items\": [";
  for (size_t i = 0; i < items.size(); ++i) body += (i ? ",\n" : "\n") + items[i];
  return body + "\n  ]\n}\n";
}

Response LocalService::Impl::Json(const std::string& body) {
  Response response;
  response.body = body + "\n";
  return response;
}

Response LocalService::Impl::NoContent() {
  Response response;
  response.status = 204;
  return response;
}

TaskList* LocalService::Impl::FindList(const std::string& id) {
  if (id == "@default") return &lists.front();
  for (auto& list : lists) {
    if (list.id == id) return &list;
  }
  return nullptr;
}

Task* LocalService::Impl::FindTask(TaskList* list, const std::string& id) {
  for (Task& task : list->tasks) {
    if (task.id == id) return &task;
  }
  return nullptr;
}

std::string LocalService::Impl::QueryValue(const Call& call, const char* name) {
  auto found = call.query.find(name);
  return found == call.query.end() ? std::string() : found->second;
}

// maxResults as the service reads it: a positive number, above `largest`
// taken as `largest`.
std::optional<Response> LocalService::Impl::ReadPageSize(const Call& call, size_t fallback, size_t largest,
                                                         size_t* size) {
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
// the task lists themselves) with `filters`: 0 without one.
std::optional<Response> LocalService::Impl::ReadPageToken(const Call& call, const std::string& listing,
                                                          const std::string& filters, size_t* offset) const {
  *offset = 0;
  const std::string token = QueryValue(call, "pageToken");
  if (token.empty()) return std::nullopt;
  auto start = pageTokens.find(token);
  if (start == pageTokens.end() || start->second.listId != listing || start->second.filters != filters) {
    return BadRequest("Invalid page token.");
  }
  *offset = start->second.offset;
  return std::nullopt;
}

// The same place in the same listing gets the same opaque token: standard
// base64 with padding, so it carries '+', '/' and '=' to be escaped.
std::string LocalService::Impl::PageToken(const std::string& listId, const std::string& filters, size_t offset) {
  for (const auto& known : pageTokens) {
    if (known.second.listId == listId && known.second.filters == filters && known.second.offset == offset) {
      return known.first;
    }
  }
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string token = "Cg";
  for (int i = 0; i < 20; ++i) token += i == 8 ? '+' : i == 16 ? '/' : kAlphabet[random() % 64];
  token += "==";
  pageTokens[token] = PageStart{listId, filters, offset};
  return token;
}

// The request's body as a JSON object, or the reply that refuses it. An
// empty body (Content-Length: 0) is an empty object.
std::optional<Response> LocalService::Impl::ReadJsonObject(const Call& call, std::optional<JsonValue>* body) {
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

}  // namespace tools
