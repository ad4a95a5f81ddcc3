#include "support/scripted_platform.h"

#include <algorithm>
#include <cstring>

#include "text/utf8.h"

using namespace taskclient;

namespace testsupport {

ScriptedPlatform::ScriptedPlatform(std::vector<Receipt> script, std::string failAt)
    : script_(script.begin(), script.end()), failAt_(std::move(failAt)) {}

int ScriptedPlatform::Count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

bool ScriptedPlatform::Step(const char* call) {
  calls.push_back(call);
  return failAt_ != call;
}

bool ScriptedPlatform::StartNetworking() { return Step("start"); }

void ScriptedPlatform::StopNetworking() { Step("stop"); }

bool ScriptedPlatform::Resolve(const char*, AddressList* list) {
  list->count = std::min(addresses, kMaxAddresses);
  for (size_t i = 0; i < list->count; ++i) {
    list->entries[i].family = i % 2 == 0 ? kIpv6 : kIpv4;
    std::memset(list->entries[i].bytes, 0, sizeof list->entries[i].bytes);
    list->entries[i].bytes[0] = static_cast<unsigned char>(i);
  }
  return Step("resolve");
}

bool ScriptedPlatform::OpenSocket(Connection* connection, int) {
  connection->socket = 3;
  return Step("socket");
}

bool ScriptedPlatform::SetTlsMode(Connection*, const char*) { return Step("tls"); }

bool ScriptedPlatform::InstallCertificateRule(Connection*) { return Step("hook"); }

bool ScriptedPlatform::Connect(Connection*, const Address& address, uint16_t, int timeoutMs) {
  attempts.push_back(std::to_string(address.family) + "." + std::to_string(address.bytes[0]) + " " +
                     std::to_string(timeoutMs));
  clock_ += connectMs;
  bool refused = attempts.size() <= refusing;
  return Step("connect") && !refused;
}

uint32_t ScriptedPlatform::Milliseconds() { return clock_; }

bool ScriptedPlatform::Send(Connection*, const char* bytes, size_t length, int) {
  if (!Step("send")) return false;
  sent.emplace_back(bytes, length);
  return true;
}

long ScriptedPlatform::Receive(Connection* connection, const char** bytes, int) {
  Step("receive");
  if (script_.empty()) return kReceiveClosed;
  Receipt& next = script_.front();
  if (next.outcome <= 0) {
    long outcome = next.outcome;
    script_.pop_front();
    return outcome;
  }
  size_t length = std::min(next.bytes.size(), kConnectionStorage);
  std::memcpy(connection->storage, next.bytes.data(), length);
  next.bytes.erase(0, length);
  if (next.bytes.empty()) script_.pop_front();
  *bytes = connection->storage;
  return static_cast<long>(length);
}

void ScriptedPlatform::CloseSocket(Connection* connection) {
  Step("close socket");
  connection->socket = kNoSocket;
}

bool ScriptedPlatform::OpenFileForWriting(const tc_text16*, File* file) {
  if (!Step("open file")) return false;
  file->handle = 4;
  written.clear();
  return true;
}

Platform::BodyFileOpening ScriptedPlatform::OpenBodyFile(const tc_text16* path, const File*,
                                                         File* file) {
  return OpenFileForWriting(path, file) ? kFileOpened : kFileNotOpened;
}

bool ScriptedPlatform::WriteToFile(File*, const char* bytes, size_t length) {
  if (!Step("write")) return false;
  written.append(bytes, length);
  return true;
}

bool ScriptedPlatform::OpenFileForReading(const tc_text16*, File* file) {
  if (!Step("open for reading")) return false;
  file->handle = 5;
  readAt_ = 0;
  return true;
}

long ScriptedPlatform::ReadFile(File*, char* buffer, size_t capacity) {
  if (!Step("read")) return -1;
  size_t length = std::min(capacity, stored.size() - readAt_);
  std::memcpy(buffer, stored.data() + readAt_, length);
  readAt_ += length;
  return static_cast<long>(length);
}

bool ScriptedPlatform::CloseFile(File* file) {
  file->handle = kNoFile;
  return Step("close file");
}

bool ScriptedPlatform::Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length) {
  if (Step("narrow")) return Utf16ToUtf8(text, output, capacity, length);
  if (capacity > 0) output[0] = '\0';
  return false;
}

}  // namespace testsupport
