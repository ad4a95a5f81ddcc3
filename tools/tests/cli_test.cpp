// The command-line tool as a developer runs it: its exit status follows the
// result code and the reply's status, failures say why on one line of
// stderr, and --field reads values out of a chunked reply.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "local_service.h"
#include "signin.h"
#include "testing/text16.h"

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
  CliTest() {
    tools::LocalServiceOptions options;
    options.log = false;
    local_.reset(new tools::LocalService(options));
    service_ = "127.0.0.1:" + std::to_string(local_->port());
  }

  Outcome Cli(const std::vector<std::string>& args) {
    std::string command = Quote(TASKCLIENT_CLI);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote((dir_ / "out").string()) + " 2>" + Quote((dir_ / "err").string());
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "out"), ReadFile(dir_ / "err")};
  }

  std::string Line(const Outcome& run) { return run.out.substr(0, run.out.find('\n')); }

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
  EXPECT_NE(token.out.find("\n1//"), std::string::npos) << "the refresh token on the second line";

  Outcome lists = Cli({"lists", access, "--field", "items.0.id", "--service", service_});  // options after the command
  ASSERT_EQ(lists.status, 0) << lists.err;
  const std::string list = Line(lists);

  Outcome added = Cli({"--service", service_, "-v", "--field", "id", "add", access, list, "--all"});
  EXPECT_EQ(added.status, 2) << "a value that spells an option needs --";
  added = Cli({"--service", service_, "-v", "--field", "id", "add", "--", access, list, "-- a dash"});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_NE(added.err.find("result 999 TC_EXCHANGE_COMPLETE"), std::string::npos) << added.err;
  EXPECT_NE(added.err.find("HTTP/1.1 200 OK"), std::string::npos) << added.err;

  // -o writes the reply byte for byte and prints nothing.
  const std::string file = (dir_ / "reply.http").string();
  Outcome deleted = Cli({"--service", service_, "-o", file, "delete", access, list, Line(added)});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "");
  EXPECT_EQ(ReadFile(file).rfind("HTTP/1.1 204 No Content\r\n", 0), 0u);

  // "read" takes a response file apart without an exchange.
  Outcome written = Cli({"--service", service_, "-o", file, "tasks", access, list});
  ASSERT_EQ(written.status, 0) << written.err;
  Outcome titles = Cli({"read", file, "--field", "items.*.title", "--field", "kind"});
  EXPECT_EQ(titles.status, 0) << titles.err;
  EXPECT_EQ(titles.out, "Water the plants\nCall the bank\ntasks#tasks\n");
  Outcome body = Cli({"read", file});
  EXPECT_EQ(body.out.rfind("HTTP/1.1 200 OK\n{\n  \"kind\": \"tasks#tasks\"", 0), 0u) << body.out;
  EXPECT_EQ(Cli({"read", (dir_ / "none").string()}).status, 1);

  // Without -o the reply is printed; a non-2xx status still prints it and exits 1.
  Outcome again = Cli({"--service", service_, "delete", access, list, Line(added)});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_EQ(again.err, "taskclient: delete: HTTP/1.1 404 Not Found\n");

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
      {{"--service", service_, "lists", "ya29.wrong"}, 1, "taskclient: lists: HTTP/1.1 401 Unauthorized"},
      {{"--service", service_, "token", "4/0Awrong", "s", "c"}, 1, "taskclient: token: HTTP/1.1 400 Bad Request"},
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
      {{"--service", service_, "lists", "t", "--feild"}, 2,
       "taskclient: unknown option --feild (put -- before values that begin with '-')"},
      // Ids and tokens may begin with '-': they reach the service as values.
      {{"--service", service_, "complete", "-ya29.wrong", "l", "t"}, 1, "taskclient: complete: HTTP/1.1 401"},
      {{"--service", service_, "lists", "--", "-v"}, 1, "taskclient: lists: HTTP/1.1 401"},
      {{"lists", "\xC3("}, 2, "taskclient: accessToken is not valid UTF-8"},
      {{"--service", service_, "--all", "tasks", "ya29.wrong", "l"}, 1,
       "taskclient: tasks --all: page 1: HTTP/1.1 401 Unauthorized"},
      {{"--service", service_, "-o", "/nonexistent-folder/reply", "--all", "tasks", "t", "l"}, TC_FILE_OPEN_FAILED,
       "taskclient: tasks --all: page 1: result 27 TC_FILE_OPEN_FAILED"},
      {{"--service", service_, "complete", "ya29.wrong", "l", "t"}, 1, "taskclient: complete: HTTP/1.1 401"},
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

TEST_F(CliTest, HelpNamesEveryCommandAndItsArguments) {
  Outcome help = Cli({"--help"});
  for (const char* line : {"token authorizationCode clientSecret clientId", "refresh refreshToken clientSecret clientId",
                           "lists accessToken", "tasks accessToken taskListId", "add accessToken taskListId title",
                           "delete accessToken taskListId taskId", "--service HOST:PORT", "Exit status",
                           "token --pkce --redirect-uri URI [--code-verifier VERIFIER] authorizationCode",
                           "tasks --all accessToken taskListId", "complete accessToken taskListId taskId",
                           "auth-url --redirect-uri URI [--code-verifier VERIFIER] clientId"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  }
  for (const char* command : {"token", "refresh", "lists", "tasks", "add", "complete", "delete", "auth-url"}) {
    Outcome one = Cli({command, "--help"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out.rfind(std::string("usage: taskclient [OPTIONS] ") + command, 0), 0u) << one.out;
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
  Outcome files = Cli({"--service", service_, "-o", prefix, "-v", "tasks", "--all", access, backlog});
  ASSERT_EQ(files.status, 0) << files.err;
  EXPECT_EQ(files.out, prefix + ".1\n" + prefix + ".2\n");
  EXPECT_NE(files.err.find("page 2: HTTP/1.1 200 OK"), std::string::npos) << files.err;
  Outcome second = Cli({"read", prefix + ".2", "--field", "items.0.title"});
  EXPECT_EQ(second.out, "Backlog item 101\n");
  Outcome printed = Cli({"--service", service_, "tasks", "--all", access, backlog});
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
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "taskclient: complete: HTTP/1.1 404 Not Found\n");
  EXPECT_EQ(Cli({"--service", service_, "tasks", "--all", access, "no-such-list"}).status, 1);

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
  EXPECT_TRUE(tools::IsPkceVerifier(fresh.out.substr(fresh.out.rfind('\n', fresh.out.size() - 2) + 1,
                                                     43)));
  struct Case {
    std::string verifier;
    int status;
  } cases[] = {{verifier, 0}, {std::string(43, 'x'), 1}};
  for (const Case& c : cases) {
    const std::string code = local_->IssueLoopbackCode(redirect, tools::PkceChallenge(verifier));
    Outcome token = Cli({"--service", service_, "--field", "refresh_token", "token", "--pkce", "--redirect-uri",
                         redirect, "--code-verifier", c.verifier, code, "s", "c"});
    EXPECT_EQ(token.status, c.status) << token.err;
    if (c.status == 0) {
      EXPECT_EQ(token.out.rfind("1//", 0), 0u);
    } else {
      EXPECT_EQ(token.err, "taskclient: token: HTTP/1.1 400 Bad Request\n");
    }
  }
}

}  // namespace
