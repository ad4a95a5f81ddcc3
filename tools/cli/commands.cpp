// The commands and the library call each makes.
#include "cli/commands.h"

#include "cli/text.h"
#include "json_reply.h"
#include "signin.h"
#include "platform/platform.h"
#include "tasks/tasks.h"
#include "tokens/tokens.h"

namespace cli {

using taskclient::SystemPlatform;

namespace {

// Adds a task. A title past the room GTaskTaskAddSSL has for it (986 bytes
// of escaped UTF-8) goes the same way through GTaskRequestSSL, which takes
// the service's whole 1,024 characters: the same request, a larger body.
taskclient::Result AddTaskAnyTitle(const Context& c, const Arguments& a, const tc_text16* path) {
  taskclient::Result result =
      taskclient::AddTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), nullptr, path);
  if (result != taskclient::kTooLong) return result;
  std::string target = "/tasks/v1/lists/" + tools::PercentEncode(Utf8(a[1]));
  target += "/tasks";
  const std::string body = "{\"title\": " + tools::JsonQuote(Utf8(a[2])) + "}";
  std::u16string target16(target.begin(), target.end()), body16, post = u"POST";
  if (!Widen(body, &body16)) return taskclient::kBadArgument;
  return taskclient::SendApiRequest(SystemPlatform(), c.service, T(a[0]), T(post), T(target16), T(body16), path);
}

}  // namespace

const std::vector<Command>& Commands() {
  // Adding an operation is adding a row here.
  static const std::vector<Command> kCommands = {
      {"token", nullptr, {"authorizationCode", "clientSecret", "clientId"}, "",
       "exchange an authorization code for tokens (GoogleTasksGetTokenSSL)",
       "POST /oauth2/v3/token with the out-of-band redirect. The code is the one\n"
       "the user copied after signing in; it is good once. The reply carries\n"
       "access_token and refresh_token.\n"
       "Example:\n"
       "  taskclient token \"$CODE\" @client-secret.txt \"$CLIENT_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::GetToken(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
       }},
      {"token", "--pkce", {"authorizationCode", "clientSecret", "clientId"},
       "--pkce --redirect-uri URI [--code-verifier VERIFIER]",
       "exchange a code from a loopback redirect, with PKCE (GoogleTasksGetTokenPkceSSL)",
       "POST /oauth2/v3/token with redirect_uri=URI and, unless VERIFIER is left\n"
       "out, code_verifier=VERIFIER. URI and VERIFIER must be those of the\n"
       "authorization URL that produced the code (see auth-url); the code is the\n"
       "\"code\" of the redirect to URI and is good once. The reply carries\n"
       "access_token and refresh_token.\n"
       "Example:\n"
       "  taskclient --pkce --redirect-uri http://127.0.0.1:8765 --code-verifier \"$VERIFIER\" token \"$CODE\" @secret.txt \"$CLIENT_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::GetTokenPkce(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), T(c.redirectUri),
                                         T(c.codeVerifier), path);
       }},
      {"refresh", nullptr, {"refreshToken", "clientSecret", "clientId"}, "",
       "obtain a fresh access token (GoogleTasksTokenRefreshSSL)",
       "POST /oauth2/v3/token with grant_type=refresh_token. The reply carries\n"
       "access_token; the refresh token stays valid.\n"
       "Example:\n"
       "  taskclient --field access_token refresh @refresh.txt @client-secret.txt \"$CLIENT_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::RefreshToken(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
       }},
      {"lists", nullptr, {"accessToken"}, "", "list the task lists (GTaskListTasksSSL)",
       "GET /tasks/v1/users/@me/lists. The reply's items are the task lists, each\n"
       "with its id and title.\n"
       "Example:\n"
       "  taskclient --field 'items.*.id' --field 'items.*.title' lists \"$TOKEN\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::ListTaskLists(SystemPlatform(), c.service, T(a[0]), path);
       }},
      {"tasks", nullptr, {"accessToken", "taskListId"}, "", "list the tasks of a task list (GTaskListTasksListSSL)",
       "GET /tasks/v1/lists/{taskListId}/tasks. The reply's items are the tasks:\n"
       "the service's first page (20 by default), completed tasks that are hidden\n"
       "left out. \"tasks --all\" lists every task.\n"
       "Example:\n"
       "  taskclient tasks \"$TOKEN\" \"$LIST_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::ListTasks(SystemPlatform(), c.service, T(a[0]), T(a[1]), path);
       }},
      {"tasks", "--all", {"accessToken", "taskListId"}, "--all",
       "list every task of a task list, page by page (GTaskListTasksListPageSSL)",
       "GET /tasks/v1/lists/{taskListId}/tasks?maxResults=100&showCompleted=true\n"
       "&showHidden=true&showAssigned=true, then again with &pageToken= and the\n"
       "reply's nextPageToken, until a reply has none: every task, completed,\n"
       "hidden and assigned ones included, one exchange per page of up to 100.\n"
       "Each page's output follows the last one's on standard output. With\n"
       "-o FILE, page N's output goes to FILE.N (FILE.1, FILE.2, ...) and each\n"
       "file's name is printed once its page has arrived; a FILE that is not a\n"
       "regular file (-o /dev/null) gets every page in turn. --field reads every\n"
       "page in turn, so --field 'items.*.title' prints every title. The first\n"
       "page that fails ends the listing, and the exit status is that page's; a\n"
       "page token the service sends twice is a failure (exit status 1).\n"
       "Example:\n"
       "  taskclient --field 'items.*.title' --all tasks \"$TOKEN\" \"$LIST_ID\"\n",
       PerformAllPages,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::ListTasksPage(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
       }},
      {"add", nullptr, {"accessToken", "taskListId", "title"}, "", "add a task to a task list (GTaskTaskAddSSL)",
       "POST /tasks/v1/lists/{taskListId}/tasks with { \"title\": \"...\" }. The reply\n"
       "is the created task, with its id. A title longer than GTaskTaskAddSSL takes\n"
       "(986 bytes once escaped) goes through GTaskRequestSSL. @FILE or @- reads the\n"
       "title from a file or standard input (one line end at its end dropped);\n"
       "@@ stands for a title that begins with @.\n"
       "Example:\n"
       "  taskclient add -- \"$TOKEN\" \"$LIST_ID\" 'Buy milk'\n",
       PerformExchange, AddTaskAnyTitle},
      {"complete", nullptr, {"accessToken", "taskListId", "taskId"}, "",
       "mark a task completed (GTaskTaskCompleteSSL)",
       "PATCH /tasks/v1/lists/{taskListId}/tasks/{taskId} with\n"
       "{ \"status\": \"completed\" }. The reply is the task, with status \"completed\"\n"
       "and the time it was completed in \"completed\".\n"
       "Example:\n"
       "  taskclient complete -- \"$TOKEN\" \"$LIST_ID\" \"$TASK_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::CompleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
       }},
      {"delete", nullptr, {"accessToken", "taskListId", "taskId"}, "", "delete a task (GTaskTaskDeleteSSL)",
       "DELETE /tasks/v1/lists/{taskListId}/tasks/{taskId}. The reply is\n"
       "\"HTTP/1.1 204 No Content\" with no body.\n"
       "Example:\n"
       "  taskclient delete -- \"$TOKEN\" \"$LIST_ID\" \"$TASK_ID\"\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::DeleteTask(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), path);
       }},
      {"request", nullptr, {"accessToken", "method", "target", "[jsonBody]"}, "",
       "send any request to the task paths (GTaskRequestSSL)",
       "METHOD is GET, POST, PUT, PATCH or DELETE; TARGET the path and query as\n"
       "they go on the wire, beginning /tasks/v1/ and already percent-encoded;\n"
       "JSON, for POST, PUT and PATCH, the body as it is sent. Examples:\n"
       "  request TOKEN PATCH /tasks/v1/lists/LIST/tasks/TASK '{\"notes\": \"n\"}'\n"
       "  request TOKEN POST '/tasks/v1/lists/LIST/tasks/TASK/move?parent=P'\n"
       "  request TOKEN POST /tasks/v1/lists/LIST/clear\n",
       PerformExchange,
       [](const Context& c, const Arguments& a, const tc_text16* path) {
         return taskclient::SendApiRequest(SystemPlatform(), c.service, T(a[0]), T(a[1]), T(a[2]), T(a[3]), path);
       }},
      {"requests", nullptr, {"accessToken", "requestsFile"}, "",
       "send the requests of a file in one call (GTaskRequestsSSL)",
       "requestsFile (- for standard input) holds one request per line, in UTF-8:\n"
       "\"METHOD TARGET\" or \"METHOD TARGET JSON\", single spaces, METHOD, TARGET and\n"
       "JSON as for request; at most 1000 lines. They go over one connection, GET,\n"
       "PUT and DELETE pipelined. Prints each reply's status line and, with --field,\n"
       "the values of its body after it (--raw: the replies as they arrived). The\n"
       "exit status is that of the first request that failed; stderr names it by\n"
       "its line. Example:\n"
       "  printf 'GET /tasks/v1/users/@me/lists\\nDELETE /tasks/v1/lists/L/tasks/T\\n' |\n"
       "    taskclient --field kind requests \"$TOKEN\" -\n",
       PerformRequests, nullptr},
      {"auth-url", nullptr, {"clientId"}, "--redirect-uri URI [--code-verifier VERIFIER]",
       "print a code verifier and the authorization URL to open (no exchange)",
       "Prints three lines: \"code_verifier: VERIFIER\" (a fresh one unless given),\n"
       "\"code_challenge: CHALLENGE\" (its S256 challenge) and\n"
       "\"authorization_url: URL\", the page to open in a browser:\n"
       "https://accounts.google.com/o/oauth2/v2/auth?response_type=code\n"
       "&client_id=...&redirect_uri=URI&scope=https://www.googleapis.com/auth/tasks\n"
       "&code_challenge=CHALLENGE&code_challenge_method=S256 (with --service\n"
       "HOST:PORT, the sign-in page of the local stand-in at that address).\n"
       "URI is a loopback address, http://127.0.0.1:PORT or http://localhost:PORT.\n"
       "After sign-in the browser is sent to URI?code=CODE&scope=...; exchange\n"
       "CODE with \"token --pkce --redirect-uri URI --code-verifier VERIFIER\".\n"
       "--field code_verifier (or code_challenge, authorization_url) prints one value.\n"
       "Example:\n"
       "  taskclient auth-url --redirect-uri http://127.0.0.1:8765 \"$CLIENT_ID\"\n",
       PerformAuthUrl, nullptr},
      {"read", nullptr, {"responseFile"}, "", "print a response file with its chunked framing removed (no exchange)",
       "Reads a reply that an earlier call left in a file (taskclient --raw -o FILE,\n"
       "or a host program's response file) and outputs it as if it had just\n"
       "arrived: its body, -i with its head, or with --field the values asked for.\n"
       "The exit status follows the reply's status as for the other commands.\n"
       "Example:\n"
       "  taskclient -i read reply.http\n",
       PerformRead, nullptr},
  };
  return kCommands;
}

}  // namespace cli
