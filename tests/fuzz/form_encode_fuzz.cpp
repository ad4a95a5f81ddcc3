// FormEncode on arbitrary bytes, appended after a prefix to a text of a
// chosen capacity (and to one of the body's real capacity). Decoding the
// output must give back the input; no byte but letters, digits and - . _ ~
// may stand raw; the value
// fits exactly when its encoding fits, and a value that does not fit leaves
// whole escapes only, never a byte past the capacity.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "exchange/request.h"
#include "text/escape.h"
#include "fuzz_support.h"

namespace {

const char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";

bool IsReserved(unsigned char c) { return c == 0 || std::strchr(kUnreserved, c) == nullptr; }

size_t EncodedLength(const std::string& value) {
  size_t length = 0;
  for (unsigned char c : value) length += IsReserved(c) ? 3 : 1;
  return length;
}

void Check(const std::string& input, size_t capacity, size_t prefixLength) {
  const std::string encoded = fuzzsupport::CheckEncoder(
      input, capacity, prefixLength, EncodedLength(input),
      [&](taskclient::Text* text) { return taskclient::FormEncode(input.data(), input.size(), text); },
      fuzzsupport::PercentDecode);
  for (unsigned char c : encoded) FUZZ_CHECK(c == '%' || !IsReserved(c), encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = 1 + data[0];    // 1 to 256 bytes, NUL included
  const size_t prefixLength = data[1] % 64;
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  Check(input, capacity, prefixLength);
  Check(input, taskclient::kBodyCapacity, prefixLength);
  return 0;
}
