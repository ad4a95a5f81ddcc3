#include "exchange/request.h"

#include "exchange/arguments.h"

namespace taskclient {

const char kFormContentType[] = "Content-type: application/x-www-form-urlencoded";
const char kJsonContentType[] = "Content-Type: application/json";

namespace {

const char kLineEnd[] = "\r\n";
const char kVersion[] = " HTTP/1.1\r\n";
const char kHostField[] = "Host: ";
const char kBearerField[] = "Authorization: Bearer ";
const char kAccept[] = "Accept: */*\r\n";
const char kLengthField[] = "Content-Length: ";

// The longest request any operation can build from texts that fit their own
// buffers: every such request must fit the request text.
// (A literal's length is its size without the NUL.)
const size_t kLongestRequest = (sizeof "DELETE " - 1) + (kAddPathCapacity - 1) + (sizeof kVersion - 1) +
                               (sizeof kHostField - 1) + (kHostCapacity - 1) + (sizeof kLineEnd - 1) +
                               (sizeof kBearerField - 1) + (kTokenCapacity - 1) + (sizeof kLineEnd - 1) +
                               (sizeof kFormContentType - 1) + (sizeof kLineEnd - 1) + (sizeof kAccept - 1) +
                               (sizeof kLengthField - 1) + 10 + 2 * (sizeof kLineEnd - 1) + (kAddBodyCapacity - 1) +
                               1;
TASKCLIENT_STATIC_ASSERT(kRequestCapacity >= kLongestRequest, request_text_holds_the_largest_request);
TASKCLIENT_STATIC_ASSERT(sizeof kFormContentType >= sizeof kJsonContentType, longest_content_type_counted_above);
TASKCLIENT_STATIC_ASSERT(kAddBodyCapacity >= kBodyCapacity, largest_body_counted_above);

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Converts the token in place at the end of `request`. A control byte would
// end the header line early or inject another one.
Result AppendToken(Platform& platform, const tc_text16* token, Text* request) {
  if (CheckTextArgument(token) != kOk) return kBadArgument;
  if (request->overflowed()) return kTooLong;
  char* at = request->Storage() + request->size();
  size_t room = request->capacity() - request->size();
  size_t length = 0;
  if (!platform.Narrow(token, at, room < kTokenCapacity ? room : kTokenCapacity, &length)) return kTooLong;
  for (size_t i = 0; i < length; ++i) {
    if (IsControl(static_cast<unsigned char>(at[i]))) return kBadArgument;
  }
  request->SetLength(request->size() + length);
  return kOk;
}

}  // namespace

Result ComposeRequest(Platform& platform, const RequestParts& parts, Text* request, size_t* bodyInRequest) {
  *bodyInRequest = 0;
  request->Clear();
  request->Append(parts.method);
  request->Append(parts.path->data(), parts.path->size());
  request->Append(kVersion);
  request->Append(kHostField);
  request->Append(parts.host);
  request->Append(kLineEnd);
  if (parts.accessToken) {
    request->Append(kBearerField);
    Result token = AppendToken(platform, parts.accessToken, request);
    if (token != kOk) return token;
    request->Append(kLineEnd);
  }
  if (parts.path->overflowed()) return kTooLong;
  if (parts.contentType) {
    request->Append(parts.contentType);
    request->Append(kLineEnd);
  }
  request->Append(kAccept);
  if (parts.body) {
    request->Append(kLengthField);
    request->AppendDecimal(static_cast<uint32_t>(parts.body->size()));
    request->Append(kLineEnd);
  }
  request->Append(kLineEnd);
  if (request->overflowed()) return kTooLong;
  if (parts.body) {
    size_t room = request->capacity() - 1 - request->size();
    *bodyInRequest = parts.body->size() < room ? parts.body->size() : room;
    request->Append(parts.body->data(), *bodyInRequest);
  }
  return kOk;
}

}  // namespace taskclient
