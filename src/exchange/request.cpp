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

}  // namespace

bool ComposeRequest(const RequestParts& parts, Text* request) {
  request->Clear();
  request->Append(parts.method);
  request->Append(parts.path->data(), parts.path->size());
  request->Append(kVersion);
  request->Append(kHostField);
  request->Append(parts.host);
  request->Append(kLineEnd);
  if (parts.accessToken) {
    request->Append(kBearerField);
    request->Append(parts.accessToken->data(), parts.accessToken->size());
    request->Append(kLineEnd);
  }
  if (parts.contentType) {
    request->Append(parts.contentType);
    request->Append(kLineEnd);
  }
  request->Append(kAccept);
  if (parts.body || parts.bodyText) {
    request->Append(kLengthField);
    request->AppendDecimal(static_cast<uint32_t>(parts.body ? parts.body->size() : parts.bodyTextLength));
    request->Append(kLineEnd);
  }
  request->Append(kLineEnd);
  if (parts.body) request->Append(parts.body->data(), parts.body->size());
  return !request->overflowed();
}

}  // namespace taskclient
