// The command-line tool as a developer runs it: its exit status follows the
// result code and the reply's status, failures say why on one line of
// stderr, the output is the body, the head and body, or the raw reply, and
// --field reads values out of a chunked reply.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "local_service.h"
#include "signin.h"
#include "testing/text16.h"
#include "testing/tls_server.h"

using testsupport::ReadFile;

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class CliTest : public ::testing::Test {
 protected:
  // Every id the stand-in hands out begins with '-', as about one in 64 of
  // the service's do: the tool must take them as values, not options.
  CliTest() {
    tools::LocalServiceOptions options;
    options.log = false;
    options.idsBeginWithDash = true;
    local_.reset(new tools::LocalService(options));
    service_ = "127.0.0.1:" + std::to_string(local_->port());
  }

  // Runs the tool with `input` on stdin and TASKCLIENT_ACCESS_TOKEN set to
  // `accessToken` (unset when empty).
  Outcome Cli(const std::vector<std::string>& args, const std::string& input = "",
              const std::string& accessToken = "") {
    Write("in", input);
    std::string command = accessToken.empty() ? "env -u TASKCLIENT_ACCESS_TOKEN "
                                              : "env TASKCLIENT_ACCESS_TOKEN=" + Quote(accessToken) + " ";
    command += Quote(TASKCLIENT_CLI);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " <" + Quote((dir_ / "in").string()) + " >" + Quote((dir_ / "out").string()) + " 2>" +
               Quote((dir_ / "err").string());
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "out"), ReadFile(dir_ / "err")};
  }

  // The first value of the first line.
  std::string Line(const Outcome& run) { return run.out.substr(0, run.out.find_first_of("\t\n")); }

  std::string Write(const std::string& name, const std::string& content) {
    testsupport::WriteFile(dir_ / name, content);
    return (dir_ / name).string();
  }


  std::unique_ptr<tools::LocalService> local_;
  std::string service_;
  testsupport::TempDir dir_;
};

TEST_F(CliTest, StoryWithFieldsAndExitStatuses) {
  Outcome token = Cli({"--service", service_, "--field", "access_token", "--field", "refresh_token", "token",
                   local_->authorizationCode(), "secret", "client"});
  ASSERT_EQ(token.status, 0) << token.err;
  const std::string access = Line(token);
  EXPECT_EQ(access.rfind("ya29.", 0), 0u);
  EXPECT_NE(token.out.find("\t1//"), std::string::npos) << "the refresh token beside it";

  Outcome lists = Cli({"lists", access, "--field", "items.0.id", "--service", service_});  // options after the command
  ASSERT_EQ(lists.status, 0) << lists.err;
  const std::string list = Line(lists);

  Outcome added = Cli({"--service", service_, "-v", "--field", "id", "add", access, list, "--all"});
  EXPECT_EQ(added.status, 2) << "a value that spells an option needs --";
  added = Cli({"--service", service_, "-v", "--field", "id", "add", "--", access, list, "-- a dash"});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_NE(added.err.find("result 999 TC_EXCHANGE_COMPLETE"), std::string::npos) << added.err;
  EXPECT_NE(added.err.find("HTTP/1.1 200 OK"), std::string::npos) << added.err;

  // --raw -o writes the reply byte for byte and prints nothing.
  const std::string file = (dir_ / "reply.http").string();
  Outcome deleted = Cli({"--service", service_, "--raw", "-o", file, "delete", access, list, Line(added)});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "");
  EXPECT_EQ(ReadFile(file).rfind("HTTP/1.1 204 No Content\r\n", 0), 0u);

  // "read" takes a response file apart without an exchange.
  Outcome written = Cli({"--service", service_, "--raw", "-o", file, "tasks", access, list});
  ASSERT_EQ(written.status, 0) << written.err;
  Outcome titles = Cli({"read", file, "--field", "items.*.title", "--field", "kind"});
  EXPECT_EQ(titles.status, 0) << titles.err;
  EXPECT_EQ(titles.out, "Water the plants\ttasks#tasks\nCall the bank\ttasks#tasks\n");
  Outcome body = Cli({"read", file});
  EXPECT_EQ(body.out.rfind("{\n  \"kind\": \"tasks#tasks\"", 0), 0u) << body.out;
  Outcome head = Cli({"read", "-i", file});
  EXPECT_EQ(head.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head.out;
  EXPECT_NE(head.out.find("chunked\r\n\r\n{\n  \"kind\": \"tasks#tasks\""), std::string::npos) << head.out;
  EXPECT_EQ(Cli({"read", (dir_ / "none").string()}).status, 1);

  // Without -o the body is printed; a non-2xx status still prints it, the
  // service's message on stderr.
  Outcome again = Cli({"--service", service_, "delete", access, list, Line(added)});
  EXPECT_EQ(again.status, 5);
  EXPECT_EQ(again.out.rfind("{\n  \"error\": {\n    \"code\": 404,", 0), 0u) << again.out;
  EXPECT_EQ(again.err, "taskclient: delete: HTTP/1.1 404 Not Found: Requested entity was not found.\n");

  Outcome missing = Cli({"--service", service_, "--field", "nothing.here", "lists", access});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no \"nothing.here\""), std::string::npos);
}

TEST_F(CliTest, ExitStatusFollowsTheResultCode) {
  const std::string longToken(3000, 'a');
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // the one line on stderr starts with this (empty: no stderr)
  } cases[] = {
      {{"--service", service_, "lists", "ya29.wrong"}, 4,
       "taskclient: lists: HTTP/1.1 401 Unauthorized: Request had invalid authentication credentials."},
      {{"--service", service_, "token", "4/0Awrong", "s", "c"}, 4,
       "taskclient: token: HTTP/1.1 400 Bad Request: invalid_grant: "},
      {{"--service", service_, "-o", "/dev/null", "lists", "ya29.wrong"}, 4, "taskclient: lists: HTTP/1.1 401"},
      {{"--service", service_, "lists", "tab\there"}, TC_BAD_ARGUMENT, "taskclient: lists: result 10 TC_BAD_ARGUMENT"},
      {{"--service", service_, "lists", longToken}, TC_TOO_LONG, "taskclient: lists: result 11 TC_TOO_LONG"},
      {{"--service", "127.0.0.1:1", "lists", "t"}, TC_CONNECT_FAILED, "taskclient: lists: result 24 TC_CONNECT_FAILED"},
      {{"--service", service_, "-o", "/nonexistent-folder/reply", "lists", "t"}, TC_FILE_OPEN_FAILED,
       "taskclient: lists: result 27 TC_FILE_OPEN_FAILED"},
      {{"lists"}, 2, "taskclient: lists takes accessToken"},
      {{"add", "t", "l"}, 2, "taskclient: add takes accessToken taskListId title"},
      {{"frobnicate"}, 2, "taskclient: unknown command \"frobnicate\""},
      {{"--service", "nohost", "lists", "t"}, 2, "taskclient: --service takes HOST:PORT"},
      {{"--service", "h:70000", "lists", "t"}, 2, "taskclient: --service takes HOST:PORT"},
      {{"--bogus", "lists", "t"}, 2, "taskclient: unknown option --bogus"},
      // A mistyped option after the command is not taken for a token or an id.
      {{"--service", service_, "lists", "--rwa"}, 2, "taskclient: unknown option --rwa"},
      {{"--service", service_, "tasks", "--alll", "t"}, 2, "taskclient: unknown option --alll"},
      {{"--service", service_, "tasks", "t", "--inlcude"}, 2, "taskclient: unknown option --inlcude"},
      {{"--service", service_, "--raw=yes", "lists", "t"}, 2, "taskclient: unknown option --raw=yes"},
      {{"--service=" + service_, "lists", "ya29.wrong"}, 4, "taskclient: lists: HTTP/1.1 401"},
      {{"request", "t", "get", "/tasks/v1/x"}, 2, "taskclient: request: method \"get\" is none of"},
      {{"request", "t", "GET", "/oauth2/v3/token"}, 2, "taskclient: request: target \"/oauth2/v3/token\" does not"},
      {{"request", "t", "DELETE", "/tasks/v1/x", "{}"}, 2, "taskclient: request: DELETE takes no jsonBody"},
      {{"requests", "t"}, 2, "taskclient: requests takes accessToken requestsFile"},
      {{"-i", "requests", "t", "-"}, 2, "taskclient: requests prints status lines; -i does not go with it"},
      {{"--service", service_, "requests", "t", "/nonexistent-folder/requests"}, TC_FILE_OPEN_FAILED,
       "taskclient: requests: result 27 TC_FILE_OPEN_FAILED"},
      {{"--service", service_, "request", "t", "GET", "/tasks/v1/../x"}, TC_BAD_ARGUMENT,
       "taskclient: request: result 10 TC_BAD_ARGUMENT"},
      {{"--service", service_, "lists", "t", "--feild"}, 2,
       "taskclient: unknown option --feild (put -- before values that begin with '--')"},
      // Ids and tokens may begin with '-': they reach the service as values.
      {{"--service", service_, "complete", "-ya29.wrong", "l", "t"}, 4, "taskclient: complete: HTTP/1.1 401"},
      {{"--service", service_, "lists", "--", "-v"}, 4, "taskclient: lists: HTTP/1.1 401"},
      {{"lists", "\xC3("}, 2, "taskclient: accessToken is not valid UTF-8"},
      {{"--service", service_, "--all", "tasks", "ya29.wrong", "l"}, 4,
       "taskclient: tasks --all: page 1: HTTP/1.1 401 Unauthorized"},
      {{"--service", service_, "-o", "/nonexistent-folder/reply", "--all", "tasks", "t", "l"}, TC_FILE_OPEN_FAILED,
       "taskclient: tasks --all: page 1: result 27 TC_FILE_OPEN_FAILED"},
      {{"--service", service_, "complete", "ya29.wrong", "l", "t"}, 4, "taskclient: complete: HTTP/1.1 401"},
      {{"refresh", "@-", "@-", "c"}, 2, "taskclient: only one value can be read from standard input"},
      {{"lists", "@/nonexistent-folder/token"}, 2,
       "taskclient: cannot read accessToken from /nonexistent-folder/token: No such file"},
      {{"lists", "@-"}, 2, "taskclient: accessToken from standard input is empty"},
      {{"--raw", "--field", "id", "lists", "t"}, 2, "taskclient: --raw outputs the reply; --field outputs values"},
      {{"--pkce", "tasks", "t", "l"}, 2, "taskclient: --pkce goes with token only"},
      {{"--all", "lists", "t"}, 2, "taskclient: --all goes with tasks only"},
      {{"--all", "--pkce", "token", "c", "s", "i"}, 2, "taskclient: --pkce and --all do not go together"},
      {{"--pkce", "token", "c", "s", "i"}, 2, "taskclient: token --pkce --redirect-uri URI"},
      {{"--redirect-uri", "http://localhost", "token", "c", "s", "i"}, 2,
       "taskclient: --redirect-uri goes with token --pkce and auth-url only"},
      {{"--code-verifier", "v", "tasks", "--all", "t", "l"}, 2, "taskclient: --code-verifier goes with"},
      {{"auth-url", "client"}, 2, "taskclient: auth-url --redirect-uri URI"},
      {{"auth-url", "--redirect-uri", "http://localhost", "--code-verifier", "short", "client"}, 2,
       "taskclient: a code verifier is 43 to 128"},
      {{"--field", "nothing", "auth-url", "--redirect-uri", "http://localhost", "client"}, 1,
       "taskclient: auth-url: no \"nothing\""},
      {{}, 2, "usage: taskclient"},
      {{"--help"}, 0, ""},
      {{"-V"}, 0, ""},
      {{"help", "token"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += " " + arg.substr(0, 40);
    SCOPED_TRACE(shown);
    Outcome run = Cli(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
      if (c.status != 2) {
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line";
      }
    }
  }
}

// The HTTP statuses a script acts on, from replies as a response file holds
// them: the body is output with its framing removed, the service's message
// goes to stderr.
TEST_F(CliTest, ExitStatusFollowsTheHttpStatus) {
  struct Case {
    std::string reply;
    std::vector<std::string> options;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokEXTRA", {}, 0, "ok", ""},
      {"HTTP/1.1 200 OK\r\n\r\n{\"items\": [{\"id\": \"a\", \"title\": \"A\\tB\"}, {\"id\": \"b\"}, {}], \"kind\": \"k\"}",
       {"--field", "items.*.id", "--field", "items.*.title", "--field", "kind"}, 0, "a\tA B\tk\nb\t\tk\n", ""},
      {"HTTP/1.1 200 OK\r\n\r\n{\"items\": [{\"id\": \"a\"}, {}], \"o\": {\"k\":\t[1, \"\\u00e9\"]}}",
       {"--field", "items.#", "--field", "o"}, 0, "2\t{\"k\": [1, \"\\u00e9\"]}\n", ""},
      {"HTTP/1.1 200 OK\r\n\r\n<html>", {"--field", "items.*.id"}, 1, "", "taskclient: read: the reply's body is not JSON\n"},
      {"HTTP/1.1 403 Forbidden\r\n\r\n{\"error\": {\"message\": \"Not\\nyours.\"}}", {"--field", "id"}, 4, "",
       "taskclient: read: HTTP/1.1 403 Forbidden: Not yours.\n"},
      {"HTTP/1.1 410 Gone\r\nContent-Length: 0\r\n\r\n", {}, 5, "", "taskclient: read: HTTP/1.1 410 Gone\n"},
      // The service's reason decides where the status alone would mislead.
      {"HTTP/1.1 403 Forbidden\r\n\r\n{\"error\": {\"errors\": [{\"reason\": \"rateLimitExceeded\"}], \"message\": \"Slow\"}}",
       {"-o", "/dev/null"}, 6, "", "taskclient: read: HTTP/1.1 403 Forbidden: Slow\n"},
      {"HTTP/1.1 403 Forbidden\r\n\r\n{\"error\": {\"errors\": [{\"reason\": \"userRateLimitExceeded\"}]}}",
       {"-o", "/dev/null"}, 6, "", "taskclient: read: HTTP/1.1 403 Forbidden\n"},
      {"HTTP/1.1 400 Bad Request\r\n\r\n{\"error\": \"invalid_grant\", \"error_description\": \"Token has been expired or revoked.\"}",
       {"-o", "/dev/null"}, 4, "", "taskclient: read: HTTP/1.1 400 Bad Request: invalid_grant: Token has been expired or revoked.\n"},
      {"HTTP/1.1 429 Too Many Requests\r\n\r\n", {}, 6, "", "taskclient: read: HTTP/1.1 429 Too Many Requests\n"},
      {"HTTP/1.1 503 Service Unavailable\r\n\r\n{\"error\": \"backend\"}", {}, 6, "{\"error\": \"backend\"}",
       "taskclient: read: HTTP/1.1 503 Service Unavailable: backend\n"},
      {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", {}, 7, "", "taskclient: read: HTTP/1.1 302 Found\n"},
      {"HTTP/1.1 400 Bad Request\r\n\r\n{\"error\": \"invalid_request\", \"error_description\": \"No code.\"}",
       {"-o", "/dev/null"}, 7, "", "taskclient: read: HTTP/1.1 400 Bad Request: invalid_request: No code.\n"},
      {"HTTP/1.1 200 OK\r\n", {"--raw"}, 1, "HTTP/1.1 200 OK\r\n",
       "taskclient: read: unreadable reply: the reply's head is incomplete\n"},
      {"HTTP/1.1 201 Created\nX: y\n\nbare LF", {"-i"}, 0, "HTTP/1.1 201 Created\nX: y\n\nbare LF", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"read", Write("reply.http", c.reply)});
    Outcome run = Cli(args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

// Output modes and where the output goes; secrets from a file, stdin or the
// environment instead of the command line.
TEST_F(CliTest, OutputModesAndSecrets) {
  Outcome signIn = Cli({"--service", service_, "--field", "access_token", "--field", "refresh_token", "token",
                        local_->authorizationCode(), "s", "c"});
  ASSERT_EQ(signIn.status, 0) << signIn.err;
  const std::string access = Line(signIn);
  const std::string refresh = signIn.out.substr(access.size() + 1, signIn.out.size() - access.size() - 2);
  const std::string tokenFile = Write("token", access + "\r\nnot this line\n");
  const std::string refreshFile = Write("refresh", refresh);  // no line end at all
  const std::string titleFile = Write("title", "From a file\n");
  const std::string bodyFile = Write("body.json", "{\"title\": \"From a body file\"}");
  const std::string longTitle(1000, 'T');
  const std::string output = (dir_ / "lists.json").string();
  const std::string body = "{\n  \"kind\": \"tasks#taskLists\"", head = "HTTP/1.1 200 OK\r\n";
  const std::string list = Line(Cli({"--service", service_, "--field", "items.0.id", "lists", access}));
  const std::string task = Line(Cli({"--service", service_, "--field", "items.0.id", "tasks", access, list}));
  ASSERT_EQ(list.rfind('-', 0), 0u) << list;
  ASSERT_EQ(task.rfind('-', 0), 0u) << task;
  struct Case {
    std::vector<std::string> args;
    std::string input;        // standard input
    std::string environment;  // TASKCLIENT_ACCESS_TOKEN
    int status;
    std::string starts;  // the output begins with this (empty: there is none)
    std::string has;     // and holds this
  } cases[] = {
      {{"lists", access}, "", "", 0, body, ""},
      {{"-o", "-", "lists", access}, "", "", 0, body, ""},
      {{"-i", "lists", access}, "", "", 0, head, "\r\n\r\n" + body},
      {{"--include", "--raw", "lists", access}, "", "", 0, head, "chunked\r\n\r\n"},
      {{"-o", "/dev/null", "lists", access}, "", "", 0, "", ""},
      {{"-o", output, "lists", access}, "", "", 0, "", ""},
      {{"lists", "@" + tokenFile}, "", "", 0, body, ""},
      {{"lists", "@-"}, access + "\n", "", 0, body, ""},
      {{"lists"}, "", access, 0, body, ""},
      {{"tasks", "no-such-list"}, "", access, 5, "{\n  \"error\"", ""},
      {{"lists", "ya29.wrong"}, "", access, 4, "{\n  \"error\"", ""},
      {{"--field", "token_type", "refresh", "@" + refreshFile, "@-", "c"}, "s\n", "", 0, "Bearer\n", ""},
      // Ids that begin with '-', with and without "--" before them.
      {{"tasks", access, list, "--field", "items.1.title"}, "", "", 0, "Call the bank\n", ""},
      {{"complete", list, task, "--field", "status"}, "", access, 0, "completed\n", ""},
      {{"delete", access, list, task}, "", "", 0, "", ""},
      {{"delete", "--", access, list, task}, "", "", 5, "{\n  \"error\"", ""},
      {{"--field=kind", "lists", access}, "", "", 0, "tasks#taskLists\n", ""},
      // A title or body from a file or standard input; @@ for a leading @.
      {{"--field", "title", "add", access, list, "@" + titleFile}, "", "", 0, "From a file\n", ""},
      {{"--field", "title", "add", access, list, "@-"}, "Piped\r\n", "", 0, "Piped\n", ""},
      {{"--field", "title", "add", access, list, "@@home"}, "", "", 0, "@home\n", ""},
      {{"--field", "title", "request", access, "POST", "/tasks/v1/lists/" + list + "/tasks", "@" + bodyFile}, "", "",
       0, "From a body file\n", ""},
      // A sequence in one call: each reply's status line and its fields; the
      // exit status is the first failure's, whatever follows it; a line that
      // breaks the rules sends nothing.
      {{"--field", "kind", "requests", access, Write("requests", "GET /tasks/v1/users/@me/lists\r\nGET /tasks/v1/lists/" +
                                                                   list + "/tasks\r\n")},
       "", "", 0, "HTTP/1.1 200 OK\ntasks#taskLists\nHTTP/1.1 200 OK\ntasks#tasks\n", ""},
      {{"requests", "-"}, "GET /tasks/v1/lists/no-such-list/tasks\nGET /tasks/v1/users/@me/lists\n", access, 5,
       "HTTP/1.1 404 Not Found\nHTTP/1.1 200 OK\n", ""},
      {{"--raw", "requests", access, "-"}, "GET /tasks/v1/users/@me/lists\n", "", 0, head, "tasks#taskLists"},
      {{"requests", access, "-"}, "GET /tasks/v1/users/@me/lists\nget /tasks/v1/users/@me/lists\n", "",
       TC_BAD_ARGUMENT, "", ""},
      // Past GTaskTaskAddSSL's room, the title still reaches the service whole.
      {{"--field", "title", "add", access, list, longTitle}, "", "", 0, longTitle + "\n", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--service", service_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (const std::string& arg : c.args) trace += arg + " ";
    SCOPED_TRACE(trace);
    Outcome run = Cli(args, c.input, c.environment);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out.rfind(c.starts, 0), 0u) << run.out;
    if (c.starts.empty()) {
      EXPECT_EQ(run.out, "");
    }
    EXPECT_NE(run.out.find(c.has), std::string::npos) << run.out;
  }
  EXPECT_EQ(ReadFile(output), Cli({"--service", service_, "lists", access}).out) << "what stdout gets";
  // Output may be tokens: a file the tool creates is its owner's only.
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(output).permissions() & (perms::group_all | perms::others_all), perms::none);
  // Nor is a reply left in TMPDIR when the tool is stopped mid-call (here in
  // the handshake with a server that never answers).
  uint16_t silentPort = 0;
  const int silent = testsupport::ListenOnLoopback(0, 4, &silentPort);
  std::filesystem::create_directory(dir_ / "tmp");
  for (const char* signal : {"INT", "TERM"}) {
    const std::string stopped = "TMPDIR=" + Quote((dir_ / "tmp").string()) + " timeout -s " + signal + " 1 " +
                                Quote(TASKCLIENT_CLI) + " --service 127.0.0.1:" + std::to_string(silentPort) +
                                " lists " + Quote(access) + " >/dev/null 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(stopped.c_str())), 124) << signal;
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp")) << signal;
  }
  close(silent);
  // A call that ends with nothing to output leaves -o FILE as it was, and
  // does not leave one behind.
  EXPECT_EQ(Cli({"--service", "127.0.0.1:1", "-o", output, "lists", access}).status, TC_CONNECT_FAILED);
  EXPECT_EQ(ReadFile(output).rfind(body, 0), 0u);
  EXPECT_EQ(Cli({"--service", "127.0.0.1:1", "-o", (dir_ / "new").string(), "lists", access}).status,
            TC_CONNECT_FAILED);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));
  const std::string version = Cli({"-V"}).out;
  EXPECT_EQ(version.rfind(std::string("taskclient ") + TASKCLIENT_TOOL_VERSION + " (libtaskclient ", 0), 0u);
#if defined(TASKCLIENT_TLS_BEARSSL)
  EXPECT_NE(version.find("\nTLS: BearSSL"), std::string::npos) << version;
#else
  EXPECT_NE(version.find("\nTLS: OpenSSL"), std::string::npos) << version;
#endif
  EXPECT_NE(version.find("\ncertificates: not checked"), std::string::npos) << version;
}

TEST_F(CliTest, HelpNamesEveryCommandAndItsArguments) {
  Outcome help = Cli({"--help"});
  for (const char* line : {"token authorizationCode clientSecret clientId", "refresh refreshToken clientSecret clientId",
                           "lists accessToken", "tasks accessToken taskListId", "add accessToken taskListId title",
                           "delete accessToken taskListId taskId", "--service HOST:PORT", "Exit status",
                           "token --pkce --redirect-uri URI [--code-verifier VERIFIER] authorizationCode",
                           "tasks --all accessToken taskListId", "complete accessToken taskListId taskId",
                           "auth-url --redirect-uri URI [--code-verifier VERIFIER] clientId", "-V, --version",
                           "-i, --include", "--raw", "process list", "TASKCLIENT_ACCESS_TOKEN", "@FILE",
                           "4   401 or 403, or 400 invalid_grant", "5   404 or 410",
                           "6   429 or 5xx, or 403 rateLimitExceeded", "requests accessToken requestsFile"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  }
  for (const char* command : {"token", "refresh", "lists", "tasks", "add", "complete", "delete", "auth-url", "requests"}) {
    Outcome one = Cli({command, "--help"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out.rfind(std::string("usage: taskclient [OPTIONS] ") + command, 0), 0u) << one.out;
    // Short: the command, an example, and where the rest is.
    EXPECT_NE(one.out.find("Example"), std::string::npos) << one.out;
    EXPECT_LT(std::count(one.out.begin(), one.out.end(), '\n'), 30) << one.out;
  }
  // Without its option both forms are explained, with it only the one.
  EXPECT_NE(Cli({"tasks", "--help"}).out.find("usage: taskclient [OPTIONS] tasks --all"), std::string::npos);
  Outcome all = Cli({"tasks", "--all", "--help"});
  EXPECT_EQ(all.out.rfind("usage: taskclient [OPTIONS] tasks --all accessToken taskListId\n", 0), 0u) << all.out;
  EXPECT_NE(all.out.find("FILE.N"), std::string::npos) << "says how the page files are named";
  EXPECT_EQ(all.out.find("usage: taskclient [OPTIONS] tasks accessToken"), std::string::npos);
}

TEST_F(CliTest, AllPagesCompleteAndPkceSignIn) {
  const std::string access =
      Line(Cli({"--service", service_, "--field", "access_token", "token", local_->authorizationCode(), "s", "c"}));
  Outcome lists = Cli({"--service", service_, "--field", "items.2.id", "--field", "items.0.id", "lists", access});
  ASSERT_EQ(lists.status, 0) << lists.err;
  const std::string backlog = Line(lists);
  const std::string myTasks = lists.out.substr(backlog.size() + 1, lists.out.size() - backlog.size() - 2);

  // Every title over both pages, in order.
  Outcome titles = Cli({"--service", service_, "--field", "items.*.title", "tasks", "--all", access, backlog});
  ASSERT_EQ(titles.status, 0) << titles.err;
  EXPECT_EQ(std::count(titles.out.begin(), titles.out.end(), '\n'), 120);
  EXPECT_EQ(titles.out.rfind("Backlog item 001\nBacklog item 002\n", 0), 0u);
  EXPECT_NE(titles.out.find("Backlog item 100\nBacklog item 101\n"), std::string::npos);
  EXPECT_EQ(titles.out.substr(titles.out.size() - 17), "Backlog item 120\n");

  // -o FILE: one file per page, their names printed.
  const std::string prefix = (dir_ / "page").string();
  Outcome files = Cli({"--service", service_, "--raw", "-o", prefix, "-v", "tasks", "--all", access, backlog});
  ASSERT_EQ(files.status, 0) << files.err;
  EXPECT_EQ(files.out, prefix + ".1\n" + prefix + ".2\n");
  EXPECT_NE(files.err.find("page 2: HTTP/1.1 200 OK"), std::string::npos) << files.err;
  Outcome second = Cli({"read", prefix + ".2", "--field", "items.0.title"});
  EXPECT_EQ(second.out, "Backlog item 101\n");
  Outcome printed = Cli({"--service", service_, "--raw", "tasks", "--all", access, backlog});
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(printed.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(printed.out.find("\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n"), std::string::npos) << "two replies in turn";

  // complete, then the listing shows it completed.
  const std::string first = Line(Cli({"--service", service_, "--field", "items.0.id", "tasks", access, myTasks}));
  Outcome done = Cli({"--service", service_, "--field", "status", "complete", access, myTasks, first});
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "completed\n");
  Outcome statuses = Cli({"--service", service_, "--field", "items.*.status", "tasks", "--all", access, myTasks});
  EXPECT_EQ(statuses.out, "completed\nneedsAction\n");
  Outcome unknown = Cli({"--service", service_, "complete", access, myTasks, "no-such-task"});
  EXPECT_EQ(unknown.status, 5);
  EXPECT_EQ(unknown.err, "taskclient: complete: HTTP/1.1 404 Not Found: Requested entity was not found.\n");
  EXPECT_EQ(Cli({"--service", service_, "tasks", "--all", access, "no-such-list"}).status, 5);

  // auth-url gives the verifier and the URL; token --pkce exchanges the code.
  const std::string verifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
  const std::string redirect = "http://127.0.0.1:8765";
  Outcome url = Cli({"--service", service_, "auth-url", "--redirect-uri", redirect, "--code-verifier", verifier,
                     "1234.apps.googleusercontent.com"});
  ASSERT_EQ(url.status, 0) << url.err;
  EXPECT_EQ(url.out, "code_verifier: " + verifier +
                         "\ncode_challenge: E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM\n"
                         "authorization_url: https://" + service_ + "/o/oauth2/v2/auth?response_type=code"
                         "&client_id=1234.apps.googleusercontent.com&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765"
                         "&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Ftasks"
                         "&code_challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM&code_challenge_method=S256\n");
  Outcome fresh = Cli({"auth-url", "--redirect-uri", redirect, "--field", "authorization_url", "--field",
                       "code_verifier", "c"});
  EXPECT_EQ(fresh.out.rfind("https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=c&", 0), 0u);
  EXPECT_TRUE(tools::IsPkceVerifier(fresh.out.substr(fresh.out.find('\t') + 1, 43))) << "beside the URL";
  struct Case {
    std::string verifier;
    int status;
  } cases[] = {{verifier, 0}, {std::string(43, 'x'), 4}};
  for (const Case& c : cases) {
    const std::string code = local_->IssueLoopbackCode(redirect, tools::PkceChallenge(verifier));
    Outcome token = Cli({"--service", service_, "--field", "refresh_token", "token", "--pkce", "--redirect-uri",
                         redirect, "--code-verifier", c.verifier, code, "s", "c"});
    EXPECT_EQ(token.status, c.status) << token.err;
    if (c.status == 0) {
      EXPECT_EQ(token.out.rfind("1//", 0), 0u);
    } else {
      EXPECT_EQ(token.err.rfind("taskclient: token: HTTP/1.1 400 Bad Request: invalid_grant", 0), 0u) << token.err;
    }
  }
}

// The example host program reads every reply through GTaskReadReply, so a
// listing far larger than 64 KiB is read whole: 106 tasks with long titles
// on the first list, each counted across both pages.
TEST_F(CliTest, ExampleReadsAListingLargerThan64KiBWhole) {
  Outcome token = Cli({"--service", service_, "--field", "access_token", "--field", "refresh_token", "token",
                       local_->authorizationCode(), "secret", "client"});
  ASSERT_EQ(token.status, 0) << token.err;
  const std::string access = Line(token);
  const std::string refresh = token.out.substr(access.size() + 1, token.out.find('\n') - access.size() - 1);
  const std::string list = Line(Cli({"--service", service_, "--field", "items.0.id", "lists", access}));
  Outcome before = Cli({"--service", service_, "--field", "items.*.id", "tasks", list, "--all"}, "", access);
  ASSERT_EQ(before.status, 0) << before.err;
  const long seeded = std::count(before.out.begin(), before.out.end(), '\n');
  for (int i = 0; i < 106; ++i) {
    ASSERT_EQ(Cli({"--service", service_, "add", access, list, std::to_string(i) + std::string(900, 't')}).status, 0);
  }
  const std::string command = "cd " + Quote(dir_.path().string()) + " && TASKCLIENT_SERVICE=" + service_ + " " +
                              Quote(HOST_EXAMPLE_LOCAL) + " " + Quote(refresh) + " secret client >" +
                              Quote((dir_ / "out").string()) + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir_ / "out");
  EXPECT_NE(ReadFile(dir_ / "out").find(std::to_string(seeded + 107) + " tasks on 2 pages"), std::string::npos)
      << ReadFile(dir_ / "out");
}

}  // namespace
