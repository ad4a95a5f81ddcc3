// The requests file's reader over arbitrary bytes, fed one at a time as the
// library reads a file. Every line it accepts must put back together, byte
// for byte, into the line as written ("METHOD TARGET" or "METHOD TARGET
// BODY", the line end aside) and keep the rules: a known method, a target
// under the task paths of at most 1000 bytes, a body of at most 8192 bytes
// without control bytes, only for a method that takes one. A line it refuses
// is refused for a length only when one of its fields is too long. The texts
// it fills are exactly their capacity on the heap, so a write past them is
// caught.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "tasks/requests.h"

using namespace taskclient;

namespace {

// The line from `start` to `end` (exclusive), its line end left out.
std::string LineAt(const uint8_t* data, size_t start, size_t end) {
  std::string line(reinterpret_cast<const char*>(data) + start, end - start);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void CheckLine(const std::string& line, const ApiMethod* method, const fuzzsupport::HeapText& target,
               const fuzzsupport::HeapText& body) {
  FUZZ_CHECK(method != nullptr, line);
  FUZZ_CHECK(FindApiMethod(method->name, std::string(method->name).size()) == method, line);
  target.CheckInvariants();
  body.CheckInvariants();
  FUZZ_CHECK(target.size() <= kTargetCapacity - 1, line);
  FUZZ_CHECK(body.size() <= kJsonBodyLimit, line);
  FUZZ_CHECK(CheckTarget(target) == kOk, line);
  FUZZ_CHECK(method->hasBody || body.size() == 0, line);
  for (unsigned char c : body.str()) FUZZ_CHECK(c >= 0x20 || c == '\t', line);
  std::string rebuilt = std::string(method->name) + " " + target.str();
  if (body.size() > 0) rebuilt += " " + body.str();
  FUZZ_CHECK(rebuilt == line, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto target = fuzzsupport::HeapText::Make(kTargetCapacity);
  auto body = fuzzsupport::HeapText::Make(kJsonBodyLimit + 1);
  RequestLineReader reader(target.get(), body.get());
  size_t lineStart = 0;
  size_t lines = 0;
  Result result = kOk;
  bool lineRead = false;
  size_t i = 0;
  for (; i < size; ++i) {
    result = reader.Take(static_cast<char>(data[i]), &lineRead);
    if (result != kOk) break;
    if (lineRead) {
      CheckLine(LineAt(data, lineStart, i + 1), reader.method(), *target, *body);
      ++lines;
      lineStart = i + 1;
    }
  }
  if (result == kOk) {
    result = reader.End(&lineRead);
    if (result == kOk && lineRead) {
      CheckLine(LineAt(data, lineStart, size), reader.method(), *target, *body);
      ++lines;
    }
    // Nothing is left unread but an empty last line.
    if (result == kOk && !lineRead) FUZZ_CHECK(lineStart == size, std::string());
  }
  FUZZ_CHECK(result == kOk || result == kBadArgument || result == kTooLong, std::string());
  if (result == kTooLong) {
    // A target or a body over its limit within the line refused.
    std::string line(reinterpret_cast<const char*>(data) + lineStart, i - lineStart + (i < size ? 1 : 0));
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
    size_t targetLength = first == std::string::npos ? 0 : (second == std::string::npos ? line.size() : second) - first - 1;
    size_t bodyLength = second == std::string::npos ? 0 : line.size() - second - 1;
    FUZZ_CHECK(targetLength > kTargetCapacity - 1 || bodyLength > kJsonBodyLimit, line);
  }
  // Reading a new file starts afresh.
  reader.Reset();
  FUZZ_CHECK(reader.method() == nullptr, std::string());
  return 0;
}
