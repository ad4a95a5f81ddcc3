// The stand-in's task routes: list a list's tasks page by page, get, insert,
// update, patch, move and delete a task, clear the completed ones; and the
// order of tasks as parents, subtasks and positions give it.
#include "local_service_store.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace tools {

namespace {

const size_t kDefaultPage = 20;  // tasks per page when maxResults is not given
const size_t kLargestPage = 100;
const size_t kLongestNotes = 8192;

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

}  // namespace

// True when `id` is `ancestor` or lies anywhere below it.
bool LocalService::Impl::IsWithin(TaskList* list, std::string id, const std::string& ancestor) {
  for (size_t steps = 0; !id.empty() && steps <= list->tasks.size(); ++steps) {
    if (id == ancestor) return true;
    const Task* task = FindTask(list, id);
    if (!task) return false;
    id = task->parent;
  }
  return false;
}

// Takes the tasks named in `ids` out of the list.
void LocalService::Impl::EraseTasks(TaskList* list, const std::set<std::string>& ids) {
  list->tasks.erase(std::remove_if(list->tasks.begin(), list->tasks.end(),
                                   [&](const Task& each) { return ids.count(each.id) != 0; }),
                    list->tasks.end());
}

// A task and every task below it.
std::set<std::string> LocalService::Impl::Subtree(TaskList* list, const std::string& id) {
  std::set<std::string> ids;
  for (const Task& task : list->tasks) {
    if (IsWithin(list, task.id, id)) ids.insert(task.id);
  }
  return ids;
}

// The tasks as the service lists them: each parent followed by its
// subtasks, siblings in the order of their positions.
std::vector<Task*> LocalService::Impl::Ordered(TaskList* list) {
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
std::string LocalService::Impl::PlaceProblem(TaskList* list, const Task* moving, const std::string& parent,
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
void LocalService::Impl::Place(TaskList* list, Task* task, const std::string& parent, const std::string& previous) {
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

// One page of a list's tasks. maxResults (default 20, at most 100),
// showCompleted (default true), showHidden (default false), showDeleted
// and showAssigned (read, nothing to show) and pageToken, as the service
// reads them; nextPageToken when more tasks remain.
Response LocalService::Impl::ListTasks(Call& call) {
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

// The writable members of a task: title, notes, status and due; the
// others (id, parent, position, completed, hidden, ...) are the service's
// and ignored. null clears a member. With `replace` (an update), members
// left out are cleared too. Completing stamps the "completed" time;
// reopening clears it and brings a cleared task back. Nothing changes
// when any value is refused.
std::optional<Response> LocalService::Impl::ApplyTask(const JsonValue& body, bool replace, Task* task) {
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
std::optional<Response> LocalService::Impl::FindListAndTask(Call& call, TaskList** list, Task** task) {
  *list = FindList(call.captured["list"]);
  *task = *list ? FindTask(*list, call.captured["task"]) : nullptr;
  return *task ? std::nullopt : std::optional<Response>(NotFound());
}

Response LocalService::Impl::GetTask(Call& call) {
  TaskList* list;
  Task* task;
  if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
  return Json(TaskJson(*list, *task, ""));
}

// A new task, first among its siblings unless `previous` names the one it
// follows; a subtask when `parent` names a task.
Response LocalService::Impl::InsertTask(Call& call) {
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

Response LocalService::Impl::WriteTask(Call& call, bool replace) {
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
Response LocalService::Impl::MoveTask(Call& call) {
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
Response LocalService::Impl::DeleteTask(Call& call) {
  TaskList* list;
  Task* task;
  if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
  EraseTasks(list, Subtree(list, task->id));
  return NoContent();
}

// Hides every completed task: listings leave them out unless showHidden.
Response LocalService::Impl::ClearTasks(Call& call) {
  TaskList* list = FindList(call.captured["list"]);
  if (!list) return NotFound();
  for (Task& task : list->tasks) {
    if (task.status != "completed" || task.hidden) continue;
    task.hidden = true;
    Touch(&task);
  }
  return NoContent();
}

}  // namespace tools
