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
#include <map>
#include <mutex>
#include <random>
#include <set>
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

struct Task {
  std::string id;
  std::string title;
  std::string status;  // "needsAction" or "completed"
  std::string updated;
  std::string position;
  std::string completed;  // when it was completed; empty while it needs action
  bool hidden = false;    // completed and cleared away, as the service's own apps do
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
  std::vector<Task> tasks;  // in the order the service lists them
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
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
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
  std::vector<TaskList> lists;
  std::string firstCode;
  std::atomic<uint16_t> port{0};
  std::unique_ptr<testsupport::TlsServer> server;

  explicit Impl(LocalServiceOptions given) : options(std::move(given)) {
    std::string now = Rfc3339Now();
    lists.push_back({MakeId(32), "My Tasks", now, {}});
    lists.push_back({MakeId(32), "Groceries", now, {}});
    lists[0].tasks.push_back({MakeId(22), "Water the plants", "needsAction", now, "", "", false});
    lists[0].tasks.push_back({MakeId(22), "Call the bank", "needsAction", now, "", "", false});
    Renumber(&lists[0]);
    // More tasks than one page holds. Every twelfth is completed; the first
    // five of those were cleared away in the service's own apps, so they are
    // hidden as well.
    lists.push_back({MakeId(32), "Backlog", now, {}});
    for (int i = 1; i <= options.backlogTasks; ++i) {
      char title[32];
      std::snprintf(title, sizeof title, "Backlog item %03d", i);
      Task task{MakeId(22), title, "needsAction", now, "", "", false};
      if (i % 12 == 0) {
        task.status = "completed";
        task.completed = now;
        task.hidden = i <= 60;
      }
      lists.back().tasks.push_back(task);
    }
    Renumber(&lists.back());
    firstCode = options.authorizationCode.empty() ? MakeCode() : options.authorizationCode;
    authorizationCodes[firstCode] = IssuedCode{kOutOfBandRedirect, ""};
  }

  std::string MakeId(size_t length) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string id;
    for (size_t i = 0; i < length; ++i) id += kAlphabet[random() % 64];
    return id;
  }
  // Like the service's, a code carries a '/', which the form must escape.
  std::string MakeCode() { return "4/0A" + MakeId(40); }

  std::string SelfLink(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port.load()) + path;
  }

  std::string TaskJson(const TaskList& list, const Task& task, const std::string& indent) const {
    const std::string in = indent + "  ";
    return indent + "{\n" + in + "\"kind\": \"tasks#task\",\n" + in + "\"id\": " + JsonQuote(task.id) + ",\n" + in +
           "\"etag\": \"\\\"" + task.id.substr(0, 8) + "\\\"\",\n" + in + "\"title\": " + JsonQuote(task.title) +
           ",\n" + in + "\"updated\": " + JsonQuote(task.updated) + ",\n" + in +
           "\"selfLink\": " + JsonQuote(SelfLink("/tasks/v1/lists/" + list.id + "/tasks/" + task.id)) + ",\n" +
           in + "\"position\": " + JsonQuote(task.position) + ",\n" + in + "\"status\": " + JsonQuote(task.status) +
           (task.completed.empty() ? "" : ",\n" + in + "\"completed\": " + JsonQuote(task.completed)) +
           (task.hidden ? ",\n" + in + "\"hidden\": true" : "") + "\n" + indent + "}";
  }

  static std::string Collection(const char* kind, const std::vector<std::string>& items,
                                const std::string& nextPageToken = "") {
    std::string body = std::string("{\n  \"kind\": \"") + kind + "\",\n  \"etag\": \"\\\"local\\\"\",\n";
    if (!nextPageToken.empty()) body += "  \"nextPageToken\": " + JsonQuote(nextPageToken) + ",\n";
    body += "  \"items\": [";
    for (size_t i = 0; i < items.size(); ++i) body += (i ? ",\n" : "\n") + items[i];
    return body + (items.empty() ? "]\n}\n" : "\n  ]\n}\n");
  }

  // Positions are zero-padded, so they sort as text in the listed order.
  static void Renumber(TaskList* list) {
    for (size_t i = 0; i < list->tasks.size(); ++i) {
      char position[32];
      std::snprintf(position, sizeof position, "%020zu", i);
      list->tasks[i].position = position;
    }
  }

  TaskList* FindList(const std::string& id) {
    for (auto& list : lists) {
      if (list.id == id) return &list;
    }
    return nullptr;
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

  Response ListTaskLists(Call&) {
    std::vector<std::string> items;
    for (const auto& list : lists) {
      items.push_back("    {\n      \"kind\": \"tasks#taskList\",\n      \"id\": " + JsonQuote(list.id) +
                      ",\n      \"etag\": \"\\\"" + list.id.substr(0, 8) + "\\\"\",\n      \"title\": " +
                      JsonQuote(list.title) + ",\n      \"updated\": " + JsonQuote(list.updated) +
                      ",\n      \"selfLink\": " + JsonQuote(SelfLink("/tasks/v1/users/@me/lists/" + list.id)) +
                      "\n    }");
    }
    Response response;
    response.body = Collection("tasks#taskLists", items);
    return response;
  }

  // One page of a list's tasks. maxResults (default 20, at most 100),
  // showCompleted (default true), showHidden (default false) and pageToken,
  // as the service reads them; nextPageToken when more tasks remain.
  Response ListTasks(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    size_t pageSize = kDefaultPage;
    auto maxResults = call.query.find("maxResults");
    if (maxResults != call.query.end()) {
      const std::string& text = maxResults->second;
      if (text.empty() || text.size() > 9 || !IsDigits(text) || std::stol(text) < 1) {
        return BadRequest("Invalid value at 'max_results' (TYPE_INT32), \"" + text + "\"");
      }
      pageSize = std::min(static_cast<size_t>(std::stol(text)), kLargestPage);
    }
    bool show[2] = {true, false};
    const char* const flags[2] = {"showCompleted", "showHidden"};
    for (int i = 0; i < 2; ++i) {
      auto flag = call.query.find(flags[i]);
      if (flag == call.query.end()) continue;
      if (flag->second != "true" && flag->second != "false") {
        return BadRequest(std::string("Invalid value for ") + flags[i] + ": \"" + flag->second + "\"");
      }
      show[i] = flag->second == "true";
    }
    size_t offset = 0;
    auto pageToken = call.query.find("pageToken");
    if (pageToken != call.query.end() && !pageToken->second.empty()) {
      auto start = pageTokens.find(pageToken->second);
      if (start == pageTokens.end() || start->second.listId != list->id) return BadRequest("Invalid page token.");
      offset = start->second.offset;
    }
    std::vector<const Task*> listed;
    for (const auto& task : list->tasks) {
      if ((task.status == "completed" && !show[0]) || (task.hidden && !show[1])) continue;
      listed.push_back(&task);
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

  // The same place in the same list gets the same opaque token: standard
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

  // The request's body as a JSON object, or the reply that refuses it.
  static std::optional<Response> ReadJsonObject(const Call& call, std::optional<JsonValue>* body) {
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

  static std::vector<Task>::iterator FindTask(TaskList* list, const std::string& id) {
    return std::find_if(list->tasks.begin(), list->tasks.end(), [&](const Task& t) { return t.id == id; });
  }

  Response InsertTask(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    std::optional<JsonValue> body;
    if (std::optional<Response> refused = ReadJsonObject(call, &body)) return *refused;
    Task task{MakeId(22), "", "needsAction", Rfc3339Now(), "", "", false};
    if (const JsonValue* title = body->Find("title")) {
      if (title->type != JsonValue::Type::kString) return BadRequest("Invalid value at 'resource.title'.");
      task.title = title->text;
    }
    // New tasks go to the top, as with the service.
    list->tasks.insert(list->tasks.begin(), task);
    Renumber(list);
    Response response;
    response.body = TaskJson(*list, task, "") + "\n";
    return response;
  }

  // A partial update: "status" ("completed" or "needsAction") and "title";
  // other members are left alone. Completing stamps the "completed" time.
  Response PatchTask(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    auto task = FindTask(list, call.captured["task"]);
    if (task == list->tasks.end()) return NotFound();
    std::optional<JsonValue> body;
    if (std::optional<Response> refused = ReadJsonObject(call, &body)) return *refused;
    const JsonValue* status = body->Find("status");
    if (status && (status->type != JsonValue::Type::kString ||
                   (status->text != "completed" && status->text != "needsAction"))) {
      return BadRequest("Invalid value at 'resource.status'.");
    }
    const JsonValue* title = body->Find("title");
    if (title && title->type != JsonValue::Type::kString) return BadRequest("Invalid value at 'resource.title'.");
    const std::string now = Rfc3339Now();
    if (status && status->text == "completed" && task->status != "completed") task->completed = now;
    if (status && status->text == "needsAction") {
      task->completed.clear();
      task->hidden = false;
    }
    if (status) task->status = status->text;
    if (title) task->title = title->text;
    task->updated = now;
    Response response;
    response.body = TaskJson(*list, *task, "") + "\n";
    return response;
  }

  Response DeleteTask(Call& call) {
    TaskList* list = FindList(call.captured["list"]);
    if (!list) return NotFound();
    auto task = FindTask(list, call.captured["task"]);
    if (task == list->tasks.end()) return NotFound();
    list->tasks.erase(task);
    Renumber(list);
    Response response;
    response.status = 204;
    return response;
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
    {"GET", "/tasks/v1/lists/{list}/tasks", true, &Impl::ListTasks},
    {"POST", "/tasks/v1/lists/{list}/tasks", true, &Impl::InsertTask},
    {"PATCH", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::PatchTask},
    {"DELETE", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::DeleteTask},
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

void LocalService::Stop() {
  if (impl_->server) impl_->server->Stop();
}

}  // namespace tools
