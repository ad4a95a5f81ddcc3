// The local stand-in's shared parts: the task lists and tasks it keeps, the
// codes and tokens it issued, a request as the routes see it and the reply
// they give, the service's error replies, and the state behind LocalService.
// The routes are grouped by what they serve: local_service_signin.cpp (the
// token path and the sign-in page), local_service_lists.cpp (task lists),
// local_service_tasks.cpp (tasks); local_service_store.cpp keeps what they
// share, and local_service.cpp reads requests, dispatches them and answers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "local_service.h"
#include "json_reply.h"
#include "signin.h"
#include "testing/tls_server.h"

namespace tools {

inline constexpr char kOutOfBandRedirect[] = "urn:ietf:wg:oauth:2.0:oob";
inline constexpr size_t kLongestTitle = 1024;  // characters
// Ranks leave room between siblings, so placing a task changes only its own
// position; the group is spread out again only when two neighbours touch.
inline constexpr uint64_t kFirstRank = uint64_t(1) << 60;
inline constexpr uint64_t kRankGap = uint64_t(1) << 32;

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
  bool deleted = false;   // kept as a tombstone: listed only with showDeleted, no longer changed
  // A task assigned to the user from elsewhere: "DOCUMENT" or "SPACE"; empty
  // for the user's own. Such a task is never a parent nor a subtask.
  std::string surfaceType;
  std::string linkToTask;  // the task where it was assigned
  std::string source;      // the document's Drive file id, or the Chat space ("spaces/...")
};

// An authorization code the service issued, and what its exchange must show.
struct IssuedCode {
  std::string redirectUri;    // the token request must name the same one
  std::string codeChallenge;  // S256; empty: the code was issued without PKCE
};

// Where a page token leads: a list, the filters of the listing it continues
// (a token is good only with the same ones), and how many of its listed
// tasks came before.
struct PageStart {
  std::string listId;
  std::string filters;
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
  const testsupport::HttpRequest& http;
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

std::string Lower(std::string text);
bool IsDigits(const std::string& text);
// Decodes %XX escapes (and '+' as a space where `plusIsSpace`). Returns false
// on a broken escape.
bool PercentDecode(const std::string& text, bool plusIsSpace, std::string* out);
// "a=1&b=2" as a form or a query string. False on a broken escape.
bool ParseFields(const std::string& text, std::map<std::string, std::string>* fields);
// The time now in UTC, as strftime writes it with `format`.
std::string UtcNow(const char* format);
// Microseconds since 1970 as RFC 3339 in UTC, to the millisecond, as the
// service stamps tasks: "2026-03-01T09:30:00.123Z".
std::string Rfc3339(int64_t micros);
// Reads an RFC 3339 timestamp ("2026-03-01T09:30:00.000Z", any fraction, "Z"
// or an offset): the instant in microseconds since 1970 (a finer fraction
// cut off), and the date as written. False for anything else.
bool ReadTimestamp(const std::string& text, int64_t* micros, std::string* date = nullptr);
// Characters, not bytes, of UTF-8 text: the service's length limits count them.
size_t Utf8Length(const std::string& text);

// The service's error body for the task paths.
Response ApiError(int status, const std::string& statusName, const std::string& reason, const std::string& message);
Response NotFound();
Response BadRequest(const std::string& message);
// What the service answers when it turns a request away for load rather than
// for anything in it: rate limits (429, or 403 as its older front ends did)
// and passing backend failures (500, 503).
bool IsServiceFailure(int status);
Response ServiceFailure(int status);

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
  int64_t lastStamp = 0;        // the last `updated` handed out, in microseconds
  int failuresLeft = 0;         // task requests still to be turned away
  int failureStatus = 429;
  std::string firstCode;
  std::atomic<uint16_t> port{0};
  std::unique_ptr<testsupport::TlsServer> server;

  // --- The store (local_service_store.cpp) ------------------------------------

  explicit Impl(LocalServiceOptions given);
  void FailNext(int count, int status);
  std::string MakeId(size_t length);
  // Like the service's, a code carries a '/', which the form must escape.
  std::string MakeCode() { return "4/0A" + MakeId(40); }

  // The time of a change: now to the millisecond, and always at least a
  // millisecond after the one before, so that "changed since T" is exact.
  std::string NextStamp();
  // Marks a task or a list changed: a new time (`stamp`; empty: the next
  // one) and a new etag.
  template <typename Resource>
  void Touch(Resource* resource, const std::string& stamp = "") {
    resource->updated = stamp.empty() ? NextStamp() : stamp;
    resource->etag = Base64Url(std::to_string(++revision));
  }
  Task NewTask(const std::string& title);
  TaskList NewList(const std::string& title);
  std::string SelfLink(const std::string& path) const;
  std::string TaskJson(const TaskList& list, const Task& task, const std::string& indent) const;
  std::string ListJson(const TaskList& list, const std::string& indent) const;
  static std::string Collection(const char* kind, const std::vector<std::string>& items,
                                const std::string& nextPageToken = "");
  static Response Json(const std::string& body);
  static Response NoContent();
  TaskList* FindList(const std::string& id);
  static Task* FindTask(TaskList* list, const std::string& id);
  static std::string QueryValue(const Call& call, const char* name);
  static std::optional<Response> ReadPageSize(const Call& call, size_t fallback, size_t largest, size_t* size);
  std::optional<Response> ReadPageToken(const Call& call, const std::string& listing, const std::string& filters,
                                        size_t* offset) const;
  std::string PageToken(const std::string& listId, const std::string& filters, size_t offset);
  static std::optional<Response> ReadJsonObject(const Call& call, std::optional<JsonValue>* body);

  // --- Sign-in: the token path and the sign-in page (local_service_signin.cpp)

  Response Token(Call& call);
  Response Authorize(Call& call);

  // --- Task lists (local_service_lists.cpp) -----------------------------------

  Response ListTaskLists(Call& call);
  Response GetTaskList(Call& call);
  Response InsertTaskList(Call& call);
  Response UpdateTaskList(Call& call) { return WriteTaskList(call, true); }
  Response PatchTaskList(Call& call) { return WriteTaskList(call, false); }
  Response WriteTaskList(Call& call, bool replace);
  static std::optional<Response> ApplyTaskList(const JsonValue& body, bool replace, TaskList* list);
  Response DeleteTaskList(Call& call);

  // --- Tasks (local_service_tasks.cpp) ----------------------------------------

  static bool IsWithin(TaskList* list, std::string id, const std::string& ancestor);
  static void EraseTasks(TaskList* list, const std::set<std::string>& ids);
  void SeedAssignedTasks(TaskList* list);
  static std::set<std::string> Subtree(TaskList* list, const std::string& id);
  static std::vector<Task*> Ordered(TaskList* list);
  static std::string PlaceProblem(TaskList* list, const Task* moving, const std::string& parent,
                                  const std::string& previous);
  void Place(TaskList* list, Task* task, const std::string& parent, const std::string& previous);
  Response ListTasks(Call& call);
  static std::optional<Response> ApplyTask(const JsonValue& body, bool replace, const std::string& now, Task* task);
  std::optional<Response> FindListAndTask(Call& call, TaskList** list, Task** task);
  // What a change, a move or another deletion of a deleted task gets: it
  // is no longer there to change.
  static Response DeletedTask() { return NotFound(); }
  Response GetTask(Call& call);
  Response InsertTask(Call& call);
  Response UpdateTask(Call& call) { return WriteTask(call, true); }
  Response PatchTask(Call& call) { return WriteTask(call, false); }
  Response WriteTask(Call& call, bool replace);
  Response MoveTask(Call& call);
  Response DeleteTask(Call& call);
  Response ClearTasks(Call& call);

  // --- Reading requests and answering (local_service.cpp) ---------------------

  static std::vector<std::string> Split(const std::string& path);
  static bool Matches(const char* pattern, Call* call);
  Response Dispatch(const testsupport::HttpRequest& http);
  static bool Send(testsupport::TlsStream& stream, const Response& response);
  void Log(const std::string& line);
  void Handle(testsupport::TlsStream& stream);
};

}  // namespace tools
