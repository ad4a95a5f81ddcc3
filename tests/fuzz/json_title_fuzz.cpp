// The title escaper (the inside of a JSON string) on arbitrary bytes,
// appended after a prefix to a text of a chosen capacity (and to one of the
// body's real capacity). The output must be what a JSON parser accepts and
// decodes back to the input; the title fits exactly when its escaped form
// fits, and one that does not fit never leaves a split escape or a byte past
// the capacity.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exchange/request.h"
#include "text/escape.h"
#include "fuzz_support.h"

namespace {

size_t EscapedLength(const std::string& value) {
  size_t length = 0;
  for (unsigned char c : value) {
    switch (c) {
      case '"': case '\\': case '\n': case '\r': case '\t': case '\b': case '\f':
        length += 2;
        break;
      default:
        length += c < 0x20 ? 6 : 1;
    }
  }
  return length;
}

void Check(const std::string& input, size_t capacity, size_t prefixLength) {
  auto title = fuzzsupport::HeapText::Make(input.size() + 1);
  FUZZ_CHECK(title->Append(input.data(), input.size()), input);
  // A JSON parser accepts what was appended: the decoder refuses what it would.
  fuzzsupport::CheckEncoder(
      input, capacity, prefixLength, EscapedLength(input),
      [&](taskclient::Text* text) { return taskclient::AppendJsonString(*title, text); },
      fuzzsupport::JsonStringDecode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = 1 + data[0];
  const size_t prefixLength = data[1] % 64;
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  Check(input, capacity, prefixLength);
  Check(input, taskclient::kBodyCapacity, prefixLength);
  return 0;
}
