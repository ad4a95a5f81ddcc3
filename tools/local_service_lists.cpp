// The stand-in's task-list routes: list them page by page, get, insert,
// update, patch and delete one.
#include "local_service_store.h"

namespace tools {

namespace {

const size_t kDefaultListsPage = 1000;  // task lists per page: the service's default is also its largest
const size_t kLargestListsPage = 1000;

}  // namespace

// One page of the task lists: maxResults (default and largest 1000) and
// pageToken, as the service reads them.
Response LocalService::Impl::ListTaskLists(Call& call) {
  size_t pageSize, offset;
  if (auto refused = ReadPageSize(call, kDefaultListsPage, kLargestListsPage, &pageSize)) return *refused;
  if (auto refused = ReadPageToken(call, "", "", &offset)) return *refused;
  std::vector<std::string> items;
  for (size_t i = offset; i < lists.size() && i < offset + pageSize; ++i) items.push_back(ListJson(lists[i], "    "));
  const std::string next = offset + pageSize < lists.size() ? PageToken("", "", offset + pageSize) : "";
  Response response;
  response.body = Collection("tasks#taskLists", items, next);
  return response;
}

Response LocalService::Impl::GetTaskList(Call& call) {
  TaskList* list = FindList(call.captured["list"]);
  return list ? Json(ListJson(*list, "")) : NotFound();
}

Response LocalService::Impl::InsertTaskList(Call& call) {
  std::optional<JsonValue> body;
  if (auto refused = ReadJsonObject(call, &body)) return *refused;
  TaskList list = NewList("");
  if (auto refused = ApplyTaskList(*body, true, &list)) return *refused;
  lists.push_back(list);
  return Json(ListJson(lists.back(), ""));
}

Response LocalService::Impl::WriteTaskList(Call& call, bool replace) {
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
std::optional<Response> LocalService::Impl::ApplyTaskList(const JsonValue& body, bool replace, TaskList* list) {
  const JsonValue* title = body.Find("title");
  if (title && title->type != JsonValue::Type::kString && title->type != JsonValue::Type::kNull) {
    return BadRequest("Invalid value at 'resource.title'.");
  }
  if (title && Utf8Length(title->text) > kLongestTitle) {
    return BadRequest("Invalid value at 'resource.title': too long.");
  }
  if (title || replace) list->title = title ? title->text : "";
  return std::nullopt;
}

// The default list stays, as with the service.
Response LocalService::Impl::DeleteTaskList(Call& call) {
  TaskList* list = FindList(call.captured["list"]);
  if (!list) return NotFound();
  if (list == &lists.front()) return BadRequest("The default task list cannot be deleted.");
  lists.erase(lists.begin() + (list - lists.data()));
  return NoContent();
}

}  // namespace tools
