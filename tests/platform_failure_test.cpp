// Every step of an exchange failing, and every way a receive can end, on a
// scripted platform: the result each gives, what reached the response file,
// and the order in which the call acquires and releases what it holds (socket,
// then file, then networking).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/requests.h"
#include "readers/field_reader.h"
#include "readers/reply_reader.h"
#include "support/scripted_platform.h"
#include "tasks/tasks.h"
#include "testing/text16.h"

using namespace taskclient;
using namespace testsupport;

namespace {

using Calls = std::vector<std::string>;

// The calls of a call that got through `last`, then `rest`.
Calls Through(const std::string& last, const Calls& rest) {
  static const Calls kSteps = {"narrow", "start", "resolve", "socket", "tls", "hook", "connect", "open file", "send"};
  Calls calls(kSteps.begin(), std::find(kSteps.begin(), kSteps.end(), last) + 1);
  calls.insert(calls.end(), rest.begin(), rest.end());
  return calls;
}

// The calls of a call whose first `count` addresses were refused, then `rest`.
Calls Refused(size_t count, const Calls& rest) {
  Calls calls = Through("resolve", {});
  for (size_t i = 0; i < count; ++i) calls.insert(calls.end(), {"socket", "tls", "hook", "connect", "close socket"});
  calls.insert(calls.end(), rest.begin(), rest.end());
  return calls;
}

TEST(PlatformFailure, EachStepHasItsResultAndReleasesInOrder) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", reply = head + "{}";
  const Calls released = {"close socket", "close file", "stop"};
  const Calls received = {"receive", "write", "close socket", "close file", "stop"};
  const Calls endedOnSecond = {"receive", "write", "receive", "close socket", "close file", "stop"};
  struct Row {
    const char* name;
    const char* failAt;
    std::vector<Receipt> script;
    int32_t result;
    Calls calls;
    std::string written;
    size_t addresses = 1;       // what the host resolves to
    size_t refusing = 0;        // how many connects fail
    uint32_t connectMs = 0;     // how long each connect takes
    Calls attempts = {"6.0 1000"};  // each connect's address and time limit
  } rows[] = {
      {"start", "start", {reply}, TC_NETWORKING_FAILED, {"narrow", "start"}, ""},
      {"resolve", "resolve", {reply}, TC_RESOLVE_FAILED, Through("resolve", {"stop"}), ""},
      {"socket", "socket", {reply}, TC_TLS_MODE_FAILED, Through("socket", {"close socket", "stop"}), ""},
      {"tls", "tls", {reply}, TC_TLS_MODE_FAILED, Through("tls", {"close socket", "stop"}), ""},
      {"hook", "hook", {reply}, TC_CERT_HOOK_FAILED, Through("hook", {"close socket", "stop"}), ""},
      {"connect", "connect", {reply}, TC_CONNECT_FAILED, Through("connect", {"close socket", "stop"}), ""},
      {"open file", "open file", {reply}, TC_FILE_OPEN_FAILED, Through("open file", {"close socket", "stop"}), ""},
      {"send", "send", {reply}, TC_SEND_FAILED, Through("send", released), ""},
      {"complete", "", {reply}, TC_EXCHANGE_COMPLETE, Through("send", received), reply},
      {"complete over two receives", "", {head, "{}", kClosed}, TC_EXCHANGE_COMPLETE,
       Through("send", {"receive", "write", "receive", "write", "close socket", "close file", "stop"}), reply},
      {"the close ends a reply without length", "", {"HTTP/1.0 200 OK\r\n\r\n{}", kClosed}, TC_EXCHANGE_COMPLETE,
       Through("send", endedOnSecond), "HTTP/1.0 200 OK\r\n\r\n{}"},
      {"closed before the reply ends", "", {head + "{", kClosed}, TC_REPLY_CUT_SHORT, Through("send", endedOnSecond),
       head + "{"},
      {"receive failed", "", {head, kFailed}, TC_REPLY_CUT_SHORT, Through("send", endedOnSecond), head},
      {"receive timed out", "", {head, kTimedOut}, TC_REPLY_CUT_SHORT, Through("send", endedOnSecond), head},
      // The call ends at malformed bytes: no receive asks for what follows.
      {"malformed status line", "", {"SSH-2.0-OpenSSH\r\n", reply, kClosed}, TC_REPLY_CUT_SHORT,
       Through("send", received), "SSH-2.0-OpenSSH\r\n"},
      {"malformed length", "", {"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", "{}", kClosed},
       TC_REPLY_CUT_SHORT, Through("send", received), "HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n"},
      {"write", "write", {reply}, TC_FILE_WRITE_FAILED, Through("send", received), ""},
      {"close file after a complete reply", "close file", {reply}, TC_FILE_WRITE_FAILED, Through("send", received),
       reply},
      {"close file after a reply cut short", "close file", {head, kClosed}, TC_REPLY_CUT_SHORT,
       Through("send", endedOnSecond), head},
      // Each address in turn, each on a socket of its own, within one budget.
      {"every address of a full list refused", "", {reply}, TC_CONNECT_FAILED, Refused(8, {"stop"}), "", 9, 9, 0,
       {"6.0 125", "4.1 142", "6.2 166", "4.3 200", "6.4 250", "4.5 333", "6.6 500", "4.7 1000"}},
      {"the first address refused, the second answers", "", {reply}, TC_EXCHANGE_COMPLETE,
       Refused(1, {"socket", "tls", "hook", "connect", "open file", "send", "receive", "write", "close socket",
                   "close file", "stop"}),
       reply, 2, 1, 0, {"6.0 500", "4.1 1000"}},
      // Each address gets an equal share of what the ones before left, the
      // last all of it, so a silent one cannot take the whole budget.
      {"each address gets its share of what the ones before left", "", {reply}, TC_CONNECT_FAILED,
       Refused(3, {"stop"}), "", 3, 3, 400, {"6.0 333", "4.1 300", "6.2 200"}},
      {"no address tried once the budget is spent", "", {reply}, TC_CONNECT_FAILED, Refused(2, {"stop"}), "", 3, 3,
       500, {"6.0 333", "4.1 250"}},
  };
  const Service service = {"127.0.0.1", 443, 1000, 1000};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedPlatform platform(row.script, row.failAt);
    platform.addresses = row.addresses;
    platform.refusing = row.refusing;
    platform.connectMs = row.connectMs;
    EXPECT_EQ(ListTaskLists(platform, service, T(u"tok"), T(u"reply.json")), row.result);
    EXPECT_EQ(platform.calls, row.calls);
    if (platform.Count("connect") > 0) {
      EXPECT_EQ(platform.attempts, row.attempts);
    }
    EXPECT_EQ(platform.written, row.written);
    const bool sent = platform.Count("send") == 1 && std::string(row.failAt) != "send";
    EXPECT_EQ(platform.sent, Calls(sent ? 1 : 0, Bodiless("GET", "/tasks/v1/users/@me/lists", "tok")));
  }
}

// Reading a reply back: each step of the reader failing, and the files it
// holds released whatever happens.
TEST(PlatformFailure, ReadingAReplyBackReportsEachStep) {
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
  struct Row {
    const char* failAt;
    int32_t result;  // the status, or the code
    Calls calls;
    const char16_t* field = nullptr;  // a row of the field reader (reading twice: measuring, then writing)
  } rows[] = {
      {"none", 200, {"open for reading", "open file", "read", "write", "close file", "close file"}},
      {"open for reading", TC_FILE_OPEN_FAILED, {"open for reading"}},
      {"open file", TC_FILE_OPEN_FAILED, {"open for reading", "open file", "close file"}},
      {"read", TC_REPLY_CUT_SHORT, {"open for reading", "open file", "read", "close file", "close file"}},
      {"write", TC_FILE_WRITE_FAILED, {"open for reading", "open file", "read", "write", "close file", "close file"}},
      {"none", TC_EXCHANGE_COMPLETE,
       {"open for reading", "read", "close file", "open for reading", "read", "close file"}, u"a"},
      {"open for reading", TC_FILE_OPEN_FAILED, {"open for reading"}, u"a"},
      {"read", TC_REPLY_CUT_SHORT, {"open for reading", "read", "close file"}, u"a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failAt);
    ScriptedPlatform platform({}, row.failAt);
    if (row.field) {
      platform.stored = "{\"a\": 7}";
      tc_text16 value[2] = {u'?', u'?'};
      EXPECT_EQ(PublicCode(ReadField(platform, T(u"body.json"), T(row.field), value, 2)), row.result);
      EXPECT_EQ(value[0], row.result == TC_EXCHANGE_COMPLETE ? u'7' : 0);
      EXPECT_EQ(platform.calls, row.calls);
      continue;
    }
    platform.stored = reply;
    ReplyRead read = ReadReply(platform, T(u"reply.http"), T(u"body.json"));
    EXPECT_EQ(read.result == kOk ? read.status : PublicCode(read.result), row.result);
    EXPECT_EQ(platform.calls, row.calls);
    EXPECT_EQ(platform.written, read.result == kOk ? "{}" : "");
  }
}

// A body file that changes between the field reader's two readings: the
// caller's buffer gets the second reading's value only when it is whole and
// as long as the first measured, and otherwise nothing past value[0].
TEST(PlatformFailure, AFieldWhoseFileChangesBetweenItsReadings) {
  struct ChangingFile : ScriptedPlatform {
    std::string later;
    bool OpenFileForReading(const tc_text16* path, File* file) override {
      if (Count("open for reading") == 1) stored = later;
      return ScriptedPlatform::OpenFileForReading(path, file);
    }
  };
  const std::string body = "{\"a\": \"xy\"}";
  const std::string longer = "{\"a\": \"" + std::string(kFieldStageUnits + 1, 'l') + "\"}";
  struct Row {
    const char* why;
    std::string first, later;
    int32_t result;
    std::u16string value;  // the buffer afterwards, up to the first '?'
  } rows[] = {
      {"the same", body, body, TC_EXCHANGE_COMPLETE, u"xy"},
      {"another value of the same length", body, "{\"a\": \"qr\"}", TC_EXCHANGE_COMPLETE, u"qr"},
      {"cut short in the value", body, "{\"a\": \"xyz", TC_REPLY_CUT_SHORT, u""},
      {"a longer value", body, "{\"a\": \"xyz\"}", TC_REPLY_CUT_SHORT, u""},
      {"a shorter value", body, "{\"a\": \"x\"}", TC_REPLY_CUT_SHORT, u""},
      {"the value gone", body, "{\"b\": \"xy\"}", TC_FIELD_MISSING, u""},
      {"a value longer than the stage, unchanged", longer, longer, TC_EXCHANGE_COMPLETE,
       std::u16string(kFieldStageUnits + 1, u'l')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ChangingFile platform;
    platform.stored = row.first;
    platform.later = row.later;
    std::vector<tc_text16> value(kFieldStageUnits + 8, u'?');
    EXPECT_EQ(PublicCode(ReadField(platform, T(u"body.json"), T(u"a"), value.data(), static_cast<int32_t>(value.size()))),
              row.result);
    EXPECT_EQ(platform.Count("open for reading"), 2);
    std::u16string expected = row.value + u'\0';
    expected.resize(value.size(), u'?');
    EXPECT_EQ(std::u16string(value.begin(), value.end()), expected);
  }
}

}  // namespace
