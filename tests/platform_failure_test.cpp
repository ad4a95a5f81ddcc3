// Platform failures that cannot be produced for real (networking start-up,
// TLS mode, the certificate hook), through a platform that fails on cue; and
// the order in which every path acquires and releases what it holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/build_platform.h"
#include "support/scripted_server.h"
#include "testing/text16.h"
#include "tasks/tasks.h"

extern "C" int taskclient_c_callers_refused(void);

using namespace taskclient;
using testsupport::PathText;
using testsupport::ReadFile;
using testsupport::T;

namespace {

// The real platform, logging each call and failing the one named.
class ScriptedPlatform : public BuildPlatform {
 public:
  explicit ScriptedPlatform(std::string failAt) : failAt_(std::move(failAt)) {}

  std::vector<std::string> calls;

  bool StartNetworking() override { return Step("start") && BuildPlatform::StartNetworking(); }
  void StopNetworking() override {
    Log("stop");
    BuildPlatform::StopNetworking();
  }
  bool Resolve(const char* host, uint32_t* address) override {
    return Step("resolve") && BuildPlatform::Resolve(host, address);
  }
  bool OpenSocket(Connection* c) override { return BuildPlatform::OpenSocket(c) && Step("socket"); }
  bool SetTlsMode(Connection* c, const char* name) override {
    return Step("tls") && BuildPlatform::SetTlsMode(c, name);
  }
  bool InstallAcceptAllHook(Connection* c) override { return Step("hook") && BuildPlatform::InstallAcceptAllHook(c); }
  bool Connect(Connection* c, uint32_t a, uint16_t p, int t) override {
    return Step("connect") && BuildPlatform::Connect(c, a, p, t);
  }
  bool Send(Connection* c, const char* b, size_t n, int t) override {
    return Step("send") && BuildPlatform::Send(c, b, n, t);
  }
  long Receive(Connection* c, const char** b, int t) override {
    if (calls.empty() || calls.back() != "receive") Log("receive");
    return BuildPlatform::Receive(c, b, t);
  }
  void CloseSocket(Connection* c) override {
    Log("close socket");
    BuildPlatform::CloseSocket(c);
  }
  bool OpenResponseFile(const tc_text16* p, ResponseFile* f) override {
    return Step("open file") && BuildPlatform::OpenResponseFile(p, f);
  }
  bool CloseResponseFile(ResponseFile* f) override {
    Log("close file");
    return BuildPlatform::CloseResponseFile(f);
  }

 private:
  void Log(const char* call) { calls.push_back(call); }
  bool Step(const char* call) {
    Log(call);
    return failAt_ != call;
  }
  std::string failAt_;
};

TEST(PlatformFailure, EachStepHasItsResultAndReleasesInOrder) {
  struct Row {
    const char* failAt;
    int32_t result;
    std::vector<std::string> calls;
  } rows[] = {
      {"start", TC_NETWORKING_FAILED, {"start"}},
      {"resolve", TC_RESOLVE_FAILED, {"start", "resolve", "stop"}},
      {"socket", TC_TLS_MODE_FAILED, {"start", "resolve", "socket", "close socket", "stop"}},
      {"tls", TC_TLS_MODE_FAILED, {"start", "resolve", "socket", "tls", "close socket", "stop"}},
      {"hook", TC_CERT_HOOK_FAILED, {"start", "resolve", "socket", "tls", "hook", "close socket", "stop"}},
      {"open file",
       TC_FILE_OPEN_FAILED,
       {"start", "resolve", "socket", "tls", "hook", "connect", "open file", "close socket", "stop"}},
      {"none",
       TC_EXCHANGE_COMPLETE,
       {"start", "resolve", "socket", "tls", "hook", "connect", "open file", "send", "receive", "close socket",
        "close file", "stop"}},
  };
  testsupport::ScriptedServer server;
  testsupport::TempDir dir;
  auto file = dir / "reply.json";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failAt);
    testsupport::WriteFile(file, "before");
    ScriptedPlatform platform(row.failAt);
    EXPECT_EQ(ListTaskLists(platform, server.service(), T(u"tok"), T(PathText(file))), row.result);
    EXPECT_EQ(platform.calls, row.calls);
    if (row.result != TC_EXCHANGE_COMPLETE) {
      EXPECT_EQ(ReadFile(file), "before");
    }
  }
  // Only the last two rows got as far as a connection.
  EXPECT_EQ(server.server().accepted(), 2);
}

TEST(ExportedFunctions, CallableFromC) { EXPECT_EQ(taskclient_c_callers_refused(), 6); }

TEST(ExportedFunctions, NullInAnyPositionIsRefused) {
  const tc_text16* x = T(u"x");
  for (int position = 0; position < 6; ++position) {
    auto arg = [&](int i) { return i == position ? nullptr : x; };
    SCOPED_TRACE(position);
    if (position < 4) {
      EXPECT_EQ(GTaskListTasksListPageSSL(arg(0), arg(1), arg(2), arg(3)), TC_BAD_ARGUMENT);
      EXPECT_EQ(GTaskTaskCompleteSSL(arg(0), arg(1), arg(2), arg(3)), TC_BAD_ARGUMENT);
      EXPECT_EQ(GoogleTasksGetTokenSSL(arg(0), arg(1), arg(2), arg(3)), TC_BAD_ARGUMENT);
      EXPECT_EQ(GoogleTasksTokenRefreshSSL(arg(0), arg(1), arg(2), arg(3)), TC_BAD_ARGUMENT);
      EXPECT_EQ(GTaskTaskDeleteSSL(arg(0), arg(1), arg(2), arg(3)), TC_BAD_ARGUMENT);
    }
    if (position < 2) {
      EXPECT_EQ(GTaskListTasksSSL(arg(0), arg(1)), TC_BAD_ARGUMENT);
    }
    if (position < 3) {
      EXPECT_EQ(GTaskListTasksListSSL(arg(0), arg(1), arg(2)), TC_BAD_ARGUMENT);
    }
    EXPECT_EQ(GoogleTasksGetTokenPkceSSL(arg(0), arg(1), arg(2), arg(3), arg(4), arg(5)), TC_BAD_ARGUMENT);
    if (position != 3 && position < 5) {
      EXPECT_EQ(GTaskTaskAddSSL(arg(0), arg(1), arg(2), nullptr, arg(4)), TC_BAD_ARGUMENT);
    }
  }
}

}  // namespace
