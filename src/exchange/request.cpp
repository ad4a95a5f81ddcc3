#include "exchange/request.h"

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
const size_t kLongestRequest = LiteralLength("DELETE ") + (kAddPathCapacity - 1) + LiteralLength(kVersion) +
                               LiteralLength(kHostField) + (kHostCapacity - 1) + LiteralLength(kLineEnd) +
                               LiteralLength(kBearerField) + (kTokenCapacity - 1) + LiteralLength(kLineEnd) +
                               LiteralLength(kFormContentType) + LiteralLength(kLineEnd) +
                               LiteralLength(kAccept) + LiteralLength(kLengthField) + 10 +
                               2 * LiteralLength(kLineEnd) + (kAddBodyCapacity - 1) + 1;
static_assert(kRequestCapacity >= kLongestRequest, "request text too small for the largest request");
static_assert(sizeof kFormContentType >= sizeof kJsonContentType, "longest content type counted above");
static_assert(kAddBodyCapacity >= kBodyCapacity, "largest body counted above");

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Converts the token in place at the end of `request`. A control byte would
// end the header line early or inject another one.
Result AppendToken(Platform& platform, const tc_text16* token, Text* request) {
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
