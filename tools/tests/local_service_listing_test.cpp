// The local stand-in's listings and task methods as the service answers
// them: pages and their tokens, every listing filter, deleted and assigned
// tasks, and each method of tasks and task lists.
#include "local_service_support.h"

namespace localservicetest {
TEST_F(LocalServiceTest, SecondPageIsReachedThroughThePageToken) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  const std::string access = SignIn();
  const std::u16string token = U(access);
  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  ASSERT_EQ(Field(Json(), "items.2.title"), "Backlog");
  const std::string backlog = Field(Json(), "items.2.id");
  const std::string myTasks = Field(Json(), "items.0.id");

  // The library's pages: 100, then the remaining 20 through the token, every
  // task in order, the completed and hidden ones included.
  std::vector<std::string> titles, updated;
  int completed = 0, hidden = 0, pages = 0;
  std::u16string pageToken;
  std::string firstToken;
  do {
    ASSERT_LT(++pages, 5);
    ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(U(backlog)), T(pageToken), T(file_)),
              TC_EXCHANGE_COMPLETE);
    JsonValue page = Json();
    EXPECT_EQ(Reply().status, 200);
    const JsonValue* items = page.Find("items");
    ASSERT_TRUE(items);
    EXPECT_EQ(items->elements.size(), pages == 1 ? 100u : 20u);
    for (const JsonValue& item : items->elements) {
      titles.push_back(Field(item, "title"));
      updated.push_back(Field(item, "updated"));
      if (Field(item, "status") == "completed") {
        ++completed;
        EXPECT_TRUE(item.Find("completed")) << "a completed task says when";
      }
      if (item.Find("hidden")) ++hidden;
    }
    const JsonValue* next = page.Find("nextPageToken");
    pageToken = next ? U(next->text) : u"";
    if (pages == 1) firstToken = next ? next->text : "";
  } while (!pageToken.empty());
  EXPECT_EQ(pages, 2);
  ASSERT_EQ(titles.size(), 120u);
  for (size_t i = 0; i < titles.size(); ++i) {
    char expected[48];
    std::snprintf(expected, sizeof expected, "Backlog item %03zu", i + 1);
    EXPECT_EQ(titles[i], expected);
  }
  EXPECT_EQ(completed, 10);
  EXPECT_EQ(hidden, 5);
  EXPECT_NE(firstToken.find_first_of("+/="), std::string::npos) << "the token needs escaping: " << firstToken;

  // The plain listing gets the service's defaults: 20, hidden ones left out.
  ASSERT_EQ(taskclient::ListTasks(platform, service(), T(token), T(U(backlog)), T(file_)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Json().Find("items")->elements.size(), 20u);
  EXPECT_EQ(Field(Json(), "items.11.title"), "Backlog item 013") << "item 012 is hidden";
  EXPECT_TRUE(Json().Find("nextPageToken"));

  // Every change is stamped to the millisecond, each later than the one before.
  for (size_t i = 1; i < updated.size(); ++i) {
    EXPECT_LT(updated[i - 1], updated[i]);
    EXPECT_EQ(updated[i].size(), std::string("2026-01-01T00:00:00.000Z").size()) << updated[i];
  }
  // The stamp of item N; the same instant with an offset ('+' escaped); 100 us after it.
  auto at = [&](size_t n) { return updated[n - 1]; };
  auto offset = [&](size_t n) {
    std::string stamp = at(n);  // ...THH:MM... an hour on, "+01:00" (the date stays for hours before 23)
    int hour = std::stoi(stamp.substr(11, 2));
    if (hour == 23) return stamp;
    const std::string hours = std::to_string(hour + 1);
    return stamp.replace(11, 2, std::string(2 - hours.size(), '0') + hours).replace(stamp.size() - 1, 1, "%2B01:00");
  };
  auto after = [&](size_t n) { return at(n).substr(0, 23) + "1Z"; };
  // Every tenth is due on day N/10 of January 2027; every twelfth completed (12 to 60 hidden).
  const std::string due = "2027-01-";

  // The query as the service reads it.
  const std::string path = "/tasks/v1/lists/" + backlog + "/tasks";
  struct Case {
    const char* what;
    std::string query;
    int status;
    size_t items;
    bool more;
    std::string inReply = "";
  } cases[] = {
      {"no query", "", 200, 20, true},
      {"five", "?maxResults=5", 200, 5, true},
      {"more than 100 asked", "?maxResults=500&showHidden=true", 200, 100, true},
      {"no completed ones", "?maxResults=100&showCompleted=false&showHidden=true", 200, 100, true},
      {"second page", "?maxResults=100&showCompleted=true&showHidden=true&showAssigned=true&pageToken=" +
                          tools::PercentEncode(firstToken),
       200, 20, false},
      {"empty page token", "?maxResults=100&showHidden=true&pageToken=", 200, 100, true},
      {"unknown page token", "?pageToken=nonsense", 400, 0, false},
      {"token as it comes, '+' read as a space", "?pageToken=" + firstToken, 400, 0, false},
      {"zero", "?maxResults=0", 400, 0, false},
      {"not a number", "?maxResults=ten", 400, 0, false},
      {"not a boolean", "?showCompleted=yes", 400, 0, false},
      {"showDeleted, showAssigned: none here", "?showDeleted=true&showAssigned=true&maxResults=100", 200, 100, true},
      // updatedMin: a task updated exactly then is listed, one just before is not.
      {"updatedMin at item 101", "?updatedMin=" + at(101), 200, 20, false},
      {"updatedMin, as an offset", "?updatedMin=" + offset(101), 200, 20, false},
      {"updatedMin just after item 101", "?updatedMin=" + after(101), 200, 19, false},
      {"updatedMin with hidden ones", "?maxResults=100&showHidden=true&updatedMin=" + at(49), 200, 72, false},
      {"updatedMin, not completed", "?maxResults=100&showCompleted=false&updatedMin=" + at(49), 200, 66, false},
      // completedMin, completedMax: only completed tasks, bounds included.
      {"completed within", "?completedMin=" + at(96) + "&completedMax=" + at(108), 200, 2, false},
      {"completedMax just after", "?completedMax=" + after(96) + "&completedMin=" + after(84), 200, 1, false},
      {"completed, hidden left out", "?completedMax=" + at(60), 200, 0, false},
      {"completed, hidden shown", "?showHidden=true&completedMax=" + at(60), 200, 5, false},
      {"completed, none shown", "?showCompleted=false&completedMin=" + at(1), 200, 0, false},
      // dueMin, dueMax: only tasks with a due date, bounds included.
      {"due within", "?dueMin=" + due + "03T00:00:00Z&dueMax=" + due + "05T00:00:00.000Z", 200, 3, false},
      {"dueMin alone", "?dueMin=" + due + "11T00:00:00Z", 200, 2, false},
      {"dueMax as an offset", "?dueMax=" + due + "02T01:00:00%2B01:00", 200, 2, false},
      {"dueMax with hidden ones", "?showHidden=true&dueMax=" + due + "06T00:00:00Z", 200, 6, false},
      {"due and updated", "?dueMin=" + due + "10T00:00:00Z&updatedMin=" + at(110), 200, 2, false},
      {"due, updated, not completed",
       "?dueMin=" + due + "10T00:00:00Z&updatedMin=" + at(110) + "&showCompleted=false", 200, 1, false},
      // Values that are not RFC 3339 timestamps.
      {"updatedMin a date", "?updatedMin=2027-01-01", 400, 0, false, "Request contains an invalid argument."},
      {"updatedMin no zone", "?updatedMin=2027-01-01T00:00:00", 400, 0, false, "INVALID_ARGUMENT"},
      {"completedMin Feb 30", "?completedMin=2027-02-30T00:00:00Z", 400, 0, false},
      {"completedMax words", "?completedMax=yesterday", 400, 0, false},
      {"dueMin hour 24", "?dueMin=2027-01-01T24:00:00Z", 400, 0, false},
      {"dueMax bad offset", "?dueMax=2027-01-01T00:00:00+0100", 400, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<tools::Reply> reply = tools::ReadReply(RawExchange(
        local_.port(), "GET " + path + c.query + " HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer " + access +
                           "\r\nConnection: close\r\n\r\n"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status) << reply->body;
    EXPECT_NE(reply->body.find(c.inReply), std::string::npos) << reply->body;
    if (c.status != 200) continue;
    std::optional<JsonValue> json = tools::ParseJson(reply->body);
    ASSERT_TRUE(json);
    const JsonValue* items = json->Find("items");
    EXPECT_EQ(items ? items->elements.size() : 0u, c.items);
    EXPECT_EQ(json->Find("nextPageToken") != nullptr, c.more);
    if (std::string(c.what) == "no completed ones") {
      for (const JsonValue& item : json->Find("items")->elements) EXPECT_EQ(Field(item, "status"), "needsAction");
    }
  }
  // A filtered listing page by page: the token holds for the same filters,
  // however they are spelled, and for no others.
  std::string listed, next, filteredToken;
  pages = 0;
  do {
    ASSERT_LT(++pages, 20);
    const std::string filters = pages % 2 ? "?showHidden=true&updatedMin=" + at(11) : "?updatedMin=" + offset(11) +
                                                                                         "&showHidden=true";
    Answer page = Send(access, "GET", path + filters + "&maxResults=7&pageToken=" + tools::PercentEncode(next));
    ASSERT_EQ(page.status, 200);
    listed += (listed.empty() ? "" : ",") + Values(page.json, "items.*.title");
    next = Values(page.json, "nextPageToken");
    if (pages == 1) filteredToken = next;
  } while (!next.empty());
  EXPECT_EQ(pages, 16);  // items 11 to 120
  std::string expected;
  for (size_t i = 10; i < titles.size(); ++i) expected += (expected.empty() ? "" : ",") + titles[i];
  EXPECT_EQ(listed, expected);
  for (const std::string& other : {std::string("?showHidden=true"), "?showHidden=true&updatedMin=" + at(12),
                                   "?showHidden=true&showDeleted=true&updatedMin=" + at(11)}) {
    EXPECT_EQ(Send(access, "GET", path + other + "&pageToken=" + tools::PercentEncode(filteredToken)).status, 400)
        << other;
  }
  // A page token belongs to its list.
  ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(U(myTasks)), T(U(firstToken)), T(file_)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 400);
}

TEST_F(LocalServiceTest, CompletedTaskIsListedWithStatusCompleted) {
  taskclient::Platform& platform = taskclient::SystemPlatform();
  const std::string access = SignIn();
  const std::u16string token = U(access);
  ASSERT_EQ(taskclient::ListTaskLists(platform, service(), T(token), T(file_)), TC_EXCHANGE_COMPLETE);
  const std::u16string list = U(Field(Json(), "items.0.id"));
  ASSERT_EQ(taskclient::AddTask(platform, service(), T(token), T(list), T(u"Buy milk"), nullptr, T(file_)),
            TC_EXCHANGE_COMPLETE);
  const std::string id = Field(Json(), "id");
  EXPECT_FALSE(Json().Find("completed"));

  ASSERT_EQ(taskclient::CompleteTask(platform, service(), T(token), T(list), T(U(id)), T(file_)),
            TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Reply().status, 200);
  JsonValue done = Json();
  EXPECT_EQ(Field(done, "id"), id);
  EXPECT_EQ(Field(done, "title"), "Buy milk");
  EXPECT_EQ(Field(done, "status"), "completed");
  const std::string when = Field(done, "completed");
  EXPECT_EQ(when.size(), std::string("2026-01-01T00:00:00.000Z").size()) << when;

  // The paged listing shows it completed, as does the plain one (completed
  // through the API, it is not hidden).
  ASSERT_EQ(taskclient::ListTasksPage(platform, service(), T(token), T(list), T(u""), T(file_)), TC_EXCHANGE_COMPLETE);
  JsonValue page = Json();
  ASSERT_EQ(Field(page, "items.0.id"), id);
  EXPECT_EQ(Field(page, "items.0.status"), "completed");
  EXPECT_EQ(Field(page, "items.0.completed"), when);
  EXPECT_EQ(Field(page, "items.1.status"), "needsAction");
  ASSERT_EQ(taskclient::ListTasks(platform, service(), T(token), T(list), T(file_)), TC_EXCHANGE_COMPLETE);
  EXPECT_EQ(Field(Json(), "items.0.status"), "completed");

  // The PATCH body as the service reads it.
  const std::string target = "/tasks/v1/lists/" + std::string(list.begin(), list.end()) + "/tasks/" + id;
  auto patch = [&](const std::string& type, const std::string& body) {
    return tools::ReadReply(RawExchange(local_.port(), "PATCH " + target + " HTTP/1.1\r\nHost: h\r\n"
                                                       "Authorization: Bearer " + access + "\r\nContent-Type: " +
                                                       type + "\r\nContent-Length: " + std::to_string(body.size()) +
                                                       "\r\nConnection: close\r\n\r\n" + body));
  };
  struct Case {
    const char* what;
    std::string type, body;
    int status;
    std::string inReply;
  } cases[] = {
      {"unterminated JSON", "application/json", "{\"status\": \"completed\"", 400, "parseError"},
      {"not an object", "application/json", "\"completed\"", 400, "Not an object"},
      {"unknown status", "application/json", "{\"status\": \"done\"}", 400, "resource.status"},
      {"status not a string", "application/json", "{\"status\": 1}", 400, "resource.status"},
      {"form body", "application/x-www-form-urlencoded", "status=completed", 400, "Content-Type"},
      {"reopened", "application/json", "{\"status\": \"needsAction\"}", 200,
       "\"status\": \"needsAction\",\n  \"webViewLink\": \"https://tasks.google.com/task/" + id + "\"\n"},
      {"completed again", "application/json; charset=UTF-8", "{ \"status\": \"completed\" }", 200,
       "\"status\": \"completed\",\n  \"completed\": "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<tools::Reply> reply = patch(c.type, c.body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status) << reply->body;
    EXPECT_NE(reply->body.find(c.inReply), std::string::npos) << reply->body;
  }
}


// --- Every task and task list method ---------------------------------------------

// A story through every method on a list of its own, one row a request.
// "{name}" in a target or an expected value stands for the id an earlier row
// kept; "?" expects some value, "" none at all. Told with the ids as the
// service makes them, then with every id beginning with '-'; both stand-ins
// hold the assigned tasks.
TEST_F(LocalServiceTest, TaskAndListMethodsAnswerAsTheServiceDoes) {
  struct Step {
    const char* method;
    std::string target, body;
    int status;
    std::vector<std::pair<const char*, std::string>> expect;
    const char* keep = nullptr;  // the name the reply's value at `from` is kept under
    const char* from = "id";
  };
  const std::string lists = "/tasks/v1/users/@me/lists", tasks = "/tasks/v1/lists/{L}/tasks";
  const Step steps[] = {
      // The seeded lists and tasks.
      {"GET", lists, "", 200, {{"items.*.title", "My Tasks,Groceries,Backlog"}}},
      {"GET", "/tasks/v1/lists/@default/tasks", "", 200, {{"items.*.title", "Water the plants,Call the bank"}}},
      // Assigned ones come only with showAssigned, shaped as the service shapes them.
      {"GET", "/tasks/v1/lists/@default/tasks?showAssigned=true", "", 200,
       {{"items.*.title", "Water the plants,Call the bank,Check the figures in section 2,"
                          "Send the draft to the printer,Book a room for the team lunch"},
        {"items.*.assignmentInfo.surfaceType", "DOCUMENT,DOCUMENT,SPACE"},
        {"items.2.assignmentInfo.linkToTask", "?"}, {"items.*.assignmentInfo.driveResourceInfo.driveFileId", "?"},
        {"items.4.assignmentInfo.spaceInfo.space", "?"}, {"items.0.assignmentInfo", ""}},
       "d", "items.2.id"},
      {"GET", "/tasks/v1/lists/@default/tasks?showAssigned=true", "", 200, {}, "s", "items.4.id"},
      {"GET", "/tasks/v1/lists/@default/tasks/{s}", "", 200, {{"assignmentInfo.spaceInfo.space", "?"}}},
      {"POST", "/tasks/v1/lists/@default/tasks?parent={d}", "{}", 400, {}},
      {"GET", "/tasks/v1/lists/@default/tasks?updatedMin=2026-13-01T00:00:00Z", "", 400,
       {{"error.message", "Request contains an invalid argument."}, {"error.status", "INVALID_ARGUMENT"}}},
      {"POST", lists, R"({"title": "Trip"})", 200, {{"kind", "tasks#taskList"}, {"title", "Trip"}}, "L"},
      {"GET", tasks, "", 200, {{"kind", "tasks#tasks"}, {"items", ""}}},
      {"POST", tasks, R"({"title": "A", "notes": "n", "due": "2026-03-01T23:30:00-08:00", "id": "x", "hidden": true})",
       200, {{"title", "A"}, {"notes", "n"}, {"due", "2026-03-01T00:00:00.000Z"}, {"status", "needsAction"},
             {"parent", ""}, {"completed", ""}, {"hidden", ""}}, "a"},
      {"POST", tasks + "?previous={a}", R"({"title": "B", "status": "completed"})", 200, {{"completed", "?"}}, "b"},
      {"POST", tasks + "?parent={a}", "", 200, {{"title", ""}, {"parent", "{a}"}}, "a1"},
      {"GET", tasks, "", 200, {{"items.*.id", "{a},{a1},{b}"}}},
      {"PATCH", tasks + "/{b}", R"({"status": "needsAction"})", 200, {{"status", "needsAction"}, {"completed", ""}}},
      {"PUT", tasks + "/{a}", R"({"title": "A2"})", 200, {{"title", "A2"}, {"notes", ""}, {"due", ""}}},
      {"PATCH", tasks + "/{a}", R"({"notes": "m", "due": null})", 200, {{"title", "A2"}, {"notes", "m"}, {"due", ""}}},
      {"POST", tasks + "/{b}/move", "", 200, {{"parent", ""}}},
      {"POST", tasks + "/{a1}/move?parent={b}", "", 200, {{"parent", "{b}"}}},
      {"GET", tasks, "", 200, {{"items.*.id", "{b},{a1},{a}"}}},
      {"PATCH", tasks + "/{a}", R"({"status": "completed"})", 200, {{"completed", "?"}}},
      {"POST", "/tasks/v1/lists/{L}/clear", "", 204, {}},
      {"GET", tasks, "", 200, {{"items.*.id", "{b},{a1}"}}},
      {"GET", tasks + "?showHidden=true", "", 200, {{"items.*.id", "{b},{a1},{a}"}, {"items.2.hidden", "true"}}},
      // Placements the service refuses: under a task that is cleared away,
      // a cleared task nested, a task below its own subtask, a previous task
      // of another parent, a parent that is not there.
      {"POST", tasks + "/{b}/move?parent={a}", "", 400, {{"error.status", "INVALID_ARGUMENT"}}},
      {"POST", tasks + "/{a}/move?parent={b}", "", 400, {}},
      {"POST", tasks + "/{b}/move?parent={a1}", "", 400, {}},
      {"POST", tasks + "/{b}/move?previous={a1}", "", 400, {}},
      {"POST", tasks + "?parent=nosuch", "{}", 400, {}},
      // Values it refuses, leaving the task as it was.
      {"PATCH", tasks + "/{b}", R"({"title": "C", "status": "done"})", 400,
       {{"error.code", "400"}, {"error.errors.0.reason", "invalid"}}},
      {"PATCH", tasks + "/{b}", R"({"due": "2026-02-30T00:00:00Z"})", 400, {}},
      {"PATCH", tasks + "/{b}", R"({"due": "2026-03-01"})", 400, {}},
      {"PATCH", tasks + "/{b}", R"({"title": ")" + std::string(1025, 'x') + "\"}", 400, {}},
      {"PUT", tasks + "/{b}", "{\"title\": ", 400, {{"error.errors.0.reason", "parseError"}}},
      {"GET", tasks + "/{b}", "", 200,
       {{"title", "B"}, {"status", "needsAction"}, {"webViewLink", "https://tasks.google.com/task/{b}"}}},
      {"GET", tasks + "/nosuch", "", 404, {{"error.code", "404"}, {"error.status", "NOT_FOUND"}}},
      {"POST", tasks + "/{b}/move?destinationTasklist=nosuch", "", 404, {}},
      // To the default list, its subtask along; an assigned task is no subtask.
      {"POST", tasks + "/{b}/move?destinationTasklist=@default", "", 200, {{"id", "{b}"}}},
      {"GET", "/tasks/v1/lists/@default/tasks/{a1}", "", 200, {{"parent", "{b}"}}},
      {"GET", tasks + "/{a1}", "", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{s}/move?parent={b}", "", 400, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{b}/move?parent={d}", "", 400, {}},
      // Deleted, its subtask with it: kept as tombstones, listed with showDeleted.
      {"DELETE", "/tasks/v1/lists/@default/tasks/{b}", "", 204, {}},
      {"GET", "/tasks/v1/lists/@default/tasks/{b}", "", 200, {{"deleted", "true"}, {"id", "{b}"}}, "t", "updated"},
      {"GET", "/tasks/v1/lists/@default/tasks/{a1}", "", 200, {{"deleted", "true"}, {"parent", "{b}"}}},
      {"GET", "/tasks/v1/lists/@default/tasks", "", 200,
       {{"items.*.title", "Water the plants,Call the bank"}, {"items.*.deleted", ""}}},
      {"GET", "/tasks/v1/lists/@default/tasks?showDeleted=true", "", 200,
       {{"items.0.id", "{b}"}, {"items.1.id", "{a1}"}, {"items.*.deleted", "true,true"}}},
      {"GET", "/tasks/v1/lists/@default/tasks?showDeleted=true&showAssigned=true&updatedMin={t}", "", 200,
       {{"items.*.id", "{b},{a1}"}}},
      {"PATCH", "/tasks/v1/lists/@default/tasks/{b}", R"({"title": "back"})", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks/{a1}/move", "", 404, {}},
      {"POST", "/tasks/v1/lists/@default/tasks?parent={b}", "{}", 400, {}},
      {"DELETE", "/tasks/v1/lists/@default/tasks/{b}", "", 404, {}},
      {"GET", "/tasks/v1/lists/@default/tasks/{b}", "", 200, {{"updated", "{t}"}}},
      // The list itself.
      {"GET", lists + "/{L}", "", 200, {{"title", "Trip"}, {"id", "{L}"}}},
      {"PATCH", lists + "/{L}", R"({"title": "Trip 2"})", 200, {{"title", "Trip 2"}}},
      {"PUT", lists + "/{L}", "", 200, {{"title", ""}}},
      {"PATCH", lists + "/{L}", R"({"title": 7})", 400, {}},
      {"DELETE", lists + "/{L}", "", 204, {}},
      {"GET", tasks, "", 404, {}},
      {"DELETE", lists + "/@default", "", 400, {}},
      {"GET", lists + "/@default", "", 200, {{"title", "My Tasks"}}},
  };
  tools::LocalServiceOptions assigned = Quiet();
  assigned.assignedTasks = true;
  tools::LocalServiceOptions dashes = assigned;
  dashes.idsBeginWithDash = true;
  tools::LocalService plain(assigned), dashed(dashes);
  for (tools::LocalService* stand_in : {&plain, &dashed}) {
    on_ = stand_in;
    SCOPED_TRACE(stand_in == &dashed ? "every id begins with '-'" : "ids as the service makes them");
    const std::string access = SignIn();
    std::map<std::string, std::string> kept;
    auto fill = [&](std::string text) {
      for (const auto& [name, id] : kept) {
        for (size_t at; (at = text.find("{" + name + "}")) != std::string::npos;) text.replace(at, name.size() + 2, id);
      }
      return text;
    };
    std::set<std::string> ids;  // every id handed out, seeded or new
    for (const Step& step : steps) {
      const std::string target = fill(step.target);
      SCOPED_TRACE(std::string(step.method) + " " + target);
      Answer answer = Send(access, step.method, target, step.body);
      ASSERT_EQ(answer.status, step.status) << answer.json.ToString();
      for (const auto& [path, expected] : step.expect) {
        if (expected == "?") {
          EXPECT_NE(Values(answer.json, path), "") << path;
        } else {
          EXPECT_EQ(Values(answer.json, path), fill(expected)) << path;
        }
      }
      if (step.keep) kept[step.keep] = Values(answer.json, step.from);
      for (const char* path : {"id", "items.*.id"}) {
        for (const JsonValue* id : answer.json.All(path)) ids.insert(id->text);
      }
    }
    const size_t withDash = static_cast<size_t>(
        std::count_if(ids.begin(), ids.end(), [](const std::string& id) { return id.rfind('-', 0) == 0; }));
    EXPECT_GE(ids.size(), 9u);  // three lists and two tasks seeded, a list and three tasks made
    if (stand_in == &dashed) {
      EXPECT_EQ(withDash, ids.size());
    } else {
      EXPECT_LT(withDash, ids.size()) << "about one in 64 begins with '-'";
    }
  }
}

}  // namespace localservicetest
