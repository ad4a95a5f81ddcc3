// Turning the caller's 16-bit arguments into narrow text, once each.
#ifndef TASKCLIENT_EXCHANGE_ARGUMENTS_H
#define TASKCLIENT_EXCHANGE_ARGUMENTS_H

#include "result.h"
#include "platform/platform.h"
#include "text/text.h"

namespace taskclient {

// Converts `text` into `out` in the system's code page, through the
// platform. Returns kOk, kBadArgument for a null pointer or text with a lone
// surrogate (no conversion could carry it unchanged), or kTooLong when the
// narrow text does not fit.
Result NarrowArgument(Platform& platform, const tc_text16* text, Text* out);

// Converts `text` into `out` as UTF-8 (for JSON), whatever the system's code
// page. The same results.
Result Utf8Argument(const tc_text16* text, Text* out);

// An argument that is used as it stands (a path, a token converted in
// place): kBadArgument when null or holding a lone surrogate, else kOk.
Result CheckTextArgument(const tc_text16* text);

}  // namespace taskclient

#endif
