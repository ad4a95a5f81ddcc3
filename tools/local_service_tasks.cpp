// The stand-in's task routes: list a list's tasks page by page, get, insert,
// update, patch, move and delete a task, clear the completed ones; and the
// order of tasks as parents, subtasks and positions give it.
#include "local_service_store.h"

#include <algorithm>
#include <functional>

namespace tools {

namespace {

const size_t kDefaultPage = 20;  // tasks per page when maxResults is not given
const size_t kLargestPage = 100;
const size_t kLongestNotes = 8192;

// What a listing of tasks.list shows, as its query asks: the flags, and
// the bounds on `updated`, `completed` and `due` (each bound included).
struct TaskFilter {
  bool show[4] = {true, false, false, false};  // completed, hidden, deleted, assigned
  std::optional<int64_t> updatedMin, completedMin, completedMax, dueMin, dueMax;

  bool Lists(const Task& task) const {
    if ((task.status == "completed" && !show[0]) || (task.hidden && !show[1]) || (task.deleted && !show[2]) ||
        (!task.surfaceType.empty() && !show[3])) {
      return false;
    }
    auto within = [](const std::string& stamp, const std::optional<int64_t>& low, const std::optional<int64_t>& high) {
      if (!low && !high) return true;
      int64_t at;
      if (stamp.empty() || !ReadTimestamp(stamp, &at)) return false;  // no such time: outside any bounds
      return (!low || at >= *low) && (!high || at <= *high);
    };
    return within(task.updated, updatedMin, std::nullopt) && within(task.completed, completedMin, completedMax) &&
           within(task.due, dueMin, dueMax);
  }
  // The same text for the same filters, however the query spelled them.
  std::string Key() const {
    std::string key;
    for (bool each : show) key += each ? '1' : '0';
    for (const auto* bound : {&updatedMin, &completedMin, &completedMax, &dueMin, &dueMax}) {
      key += *bound ? "," + std::to_string(**bound) : ",-";
    }
    return key;
  }
};

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
// `list`; empty when they can. Both must be visible tasks of the list, not
// deleted, the previous one a child of that parent; a task that is both
// completed and hidden stays at the top of the top level, and an assigned
// task is neither a parent nor a subtask.
std::string LocalService::Impl::PlaceProblem(TaskList* list, const Task* moving, const std::string& parent,
                                             const std::string& previous) {
  const bool clearedAway = moving && moving->hidden && moving->status == "completed";
  if (!parent.empty()) {
    const Task* found = FindTask(list, parent);
    if (!found || found->hidden || found->deleted) return "Invalid parent task: " + parent + ".";
    if (!found->surfaceType.empty()) return "An assigned task cannot have subtasks.";
    if (moving && !moving->surfaceType.empty()) return "An assigned task cannot be a subtask.";
    if (moving && IsWithin(list, parent, moving->id)) return "A task cannot go below itself.";
    if (clearedAway) return "A completed hidden task cannot be a subtask.";
  }
  if (!previous.empty()) {
    const Task* found = FindTask(list, previous);
    if (!found || found->hidden || found->deleted || found->parent != parent || (moving && found->id == moving->id)) {
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
// showCompleted (default true), showHidden, showDeleted and showAssigned
// (default false), the bounds updatedMin, completedMin, completedMax,
// dueMin and dueMax (RFC 3339; a value that is not one is refused with the
// service's message), and pageToken (good for the same list and filters),
// as the service reads them; nextPageToken when more tasks remain.
Response LocalService::Impl::ListTasks(Call& call) {
  TaskList* list = FindList(call.captured["list"]);
  if (!list) return NotFound();
  size_t pageSize, offset;
  if (auto refused = ReadPageSize(call, kDefaultPage, kLargestPage, &pageSize)) return *refused;
  TaskFilter filter;
  const char* const flags[4] = {"showCompleted", "showHidden", "showDeleted", "showAssigned"};
  for (int i = 0; i < 4; ++i) {
    auto flag = call.query.find(flags[i]);
    if (flag == call.query.end()) continue;
    if (flag->second != "true" && flag->second != "false") {
      return BadRequest(std::string("Invalid value for ") + flags[i] + ": \"" + flag->second + "\"");
    }
    filter.show[i] = flag->second == "true";
  }
  const std::pair<const char*, std::optional<int64_t>*> bounds[] = {
      {"updatedMin", &filter.updatedMin}, {"completedMin", &filter.completedMin},
      {"completedMax", &filter.completedMax}, {"dueMin", &filter.dueMin}, {"dueMax", &filter.dueMax}};
  for (const auto& [name, bound] : bounds) {
    const std::string text = QueryValue(call, name);  // empty: not given
    int64_t at;
    if (text.empty()) continue;
    if (!ReadTimestamp(text, &at)) {
      return ApiError(400, "INVALID_ARGUMENT", "invalid", "Request contains an invalid argument.");
    }
    *bound = at;
  }
  const std::string filters = filter.Key();
  if (auto refused = ReadPageToken(call, list->id, filters, &offset)) return *refused;
  std::vector<const Task*> listed;
  for (const Task* task : Ordered(list)) {
    if (filter.Lists(*task)) listed.push_back(task);
  }
  std::vector<std::string> items;
  for (size_t i = offset; i < listed.size() && i < offset + pageSize; ++i) {
    items.push_back(TaskJson(*list, *listed[i], "    "));
  }
  std::string next;
  if (offset + pageSize < listed.size()) next = PageToken(list->id, filters, offset + pageSize);
  Response response;
  response.body = Collection("tasks#tasks", items, next);
  return response;
}

// The writable members of a task: title, notes, status and due; the
// others (id, parent, position, completed, hidden, ...) are the service's
// and ignored. null clears a member. With `replace` (an update), members
// left out are cleared too. Completing stamps the "completed" time;
// reopening clears it and brings a cleared task back; `now` is the time of
// the change. Nothing changes when any value is refused.
std::optional<Response> LocalService::Impl::ApplyTask(const JsonValue& body, bool replace, const std::string& now,
                                                      Task* task) {
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
    int64_t instant;
    if (value && value->type == Type::kString && ReadTimestamp(value->text, &instant, &date)) {
      changed.due = date + "T00:00:00.000Z";  // the service keeps the date alone
    } else if (!value || value->type == Type::kNull) {
      changed.due.clear();
    } else {
      return BadRequest("Invalid value at 'resource.due': " + value->ToString() +
                        " is not an RFC 3339 timestamp.");
    }
  }
  if (changed.status == "completed" && task->status != "completed") changed.completed = now;
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
  if (auto refused = ApplyTask(*body, true, task.updated, &task)) return *refused;
  list->tasks.push_back(task);
  Place(list, &list->tasks.back(), parent, previous);
  return Json(TaskJson(*list, list->tasks.back(), ""));
}

Response LocalService::Impl::WriteTask(Call& call, bool replace) {
  TaskList* list;
  Task* task;
  if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
  if (task->deleted) return DeletedTask();
  std::optional<JsonValue> body;
  if (auto refused = ReadJsonObject(call, &body)) return *refused;
  const std::string now = NextStamp();
  if (auto refused = ApplyTask(*body, replace, now, task)) return *refused;
  Touch(task, now);
  return Json(TaskJson(*list, *task, ""));
}

// Moves a task, its subtasks with it, under `parent` after `previous`, in
// its list or in `destinationTasklist`. The body, if any, is not read.
Response LocalService::Impl::MoveTask(Call& call) {
  TaskList* list;
  Task* task;
  if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
  if (task->deleted) return DeletedTask();
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

// Deletes a task and its subtasks: each is kept as a tombstone, "deleted"
// with the time of its deletion, so that a host syncing with showDeleted
// learns of it. Deleting it again is 404 and changes nothing.
Response LocalService::Impl::DeleteTask(Call& call) {
  TaskList* list;
  Task* task;
  if (auto refused = FindListAndTask(call, &list, &task)) return *refused;
  if (task->deleted) return DeletedTask();
  const std::set<std::string> subtree = Subtree(list, task->id);
  for (Task& each : list->tasks) {
    if (!subtree.count(each.id) || each.deleted) continue;
    each.deleted = true;
    Touch(&each);
  }
  return NoContent();
}

// Hides every completed task: listings leave them out unless showHidden.
Response LocalService::Impl::ClearTasks(Call& call) {
  TaskList* list = FindList(call.captured["list"]);
  if (!list) return NotFound();
  for (Task& task : list->tasks) {
    if (task.status != "completed" || task.hidden || task.deleted) continue;
    task.hidden = true;
    Touch(&task);
  }
  return NoContent();
}

}  // namespace tools
