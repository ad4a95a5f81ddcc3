// The title escaper (the inside of a JSON string) on arbitrary bytes,
// appended after a prefix to a text of a chosen capacity (and to one of the
// body's real capacity). The output must be what a JSON parser accepts and
// decodes back to the input; the title fits exactly when its escaped form
// fits, and one that does not fit never leaves a split escape or a byte past
// the capacity.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exchange/arguments.h"
#include "exchange/request.h"
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

  auto text = fuzzsupport::HeapText::Make(capacity);
  const std::string prefix(prefixLength < capacity ? prefixLength : capacity - 1, 'p');
  FUZZ_CHECK(text->Append(prefix.data(), prefix.size()), prefix);

  const bool ok = taskclient::AppendJsonString(*title, text.get());
  text->CheckInvariants();
  const bool fits = prefix.size() + EscapedLength(input) <= capacity - 1;
  FUZZ_CHECK(ok == fits, input);
  FUZZ_CHECK(text->overflowed() == !ok, input);

  const std::string all = text->str();
  FUZZ_CHECK(all.compare(0, prefix.size(), prefix) == 0, all);
  const std::string escaped = all.substr(prefix.size());
  std::string decoded;
  FUZZ_CHECK(fuzzsupport::JsonStringDecode(escaped, &decoded), escaped);  // valid, and no split escape
  if (ok) {
    FUZZ_CHECK(decoded == input, escaped);
  } else {
    FUZZ_CHECK(input.compare(0, decoded.size(), decoded) == 0, escaped);
  }
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
