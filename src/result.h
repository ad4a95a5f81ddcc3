// What the internal steps of an operation report. Every public result code
// has its value here; kOk, the success of a step that is not the end of an
// operation, has none, so it can never reach a caller by mistake. The
// exported wrappers turn a Result into the public int32_t.
#ifndef TASKCLIENT_RESULT_H
#define TASKCLIENT_RESULT_H

#include "portable.h"
#include "taskclient.h"

namespace taskclient {

enum Result {
  kOk = -1,
  kNetworkingFailed = TC_NETWORKING_FAILED,
  kBadArgument = TC_BAD_ARGUMENT,
  kTooLong = TC_TOO_LONG,
  kTlsModeFailed = TC_TLS_MODE_FAILED,
  kCertHookFailed = TC_CERT_HOOK_FAILED,
  kResolveFailed = TC_RESOLVE_FAILED,
  kConnectFailed = TC_CONNECT_FAILED,
  kSendFailed = TC_SEND_FAILED,
  kReplyCutShort = TC_REPLY_CUT_SHORT,
  kFileOpenFailed = TC_FILE_OPEN_FAILED,
  kFileWriteFailed = TC_FILE_WRITE_FAILED,
  kCertRefused = TC_CERT_REFUSED,
  kFieldMissing = TC_FIELD_MISSING,
  kNoSuchReply = TC_NO_SUCH_REPLY,
  kExchangeComplete = TC_EXCHANGE_COMPLETE
};

inline int32_t PublicCode(Result result) { return static_cast<int32_t>(result); }

}  // namespace taskclient

#endif
