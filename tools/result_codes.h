// The library's result codes: number, name and meaning, in one table. The
// command-line tool's result texts are made from it; the comments of
// include/taskclient.h, the Result enum of bindings/dotnet/TaskClient.cs and
// the table in README.md say the same, which tools/tests/result_codes_test.cpp
// checks word for word.
#pragma once

#include <cstdint>

#include "taskclient.h"

namespace tools {

struct ResultCode {
  int32_t code;
  const char* name;
  const char* meaning;
};

#define TOOLS_RESULT(code, meaning) {code, #code, meaning}

inline constexpr ResultCode kResultCodes[] = {
    TOOLS_RESULT(TC_NETWORKING_FAILED, "networking could not be started; nothing sent, file untouched"),
    TOOLS_RESULT(TC_BAD_ARGUMENT,
                 "a null pointer, a lone surrogate in any text, a control byte in the access token, an id that is . or"
                 " .., a GTaskRequestSSL method other than GET, POST, PUT, PATCH and DELETE, a target that does not "
                 "begin with /tasks/v1/ or holds a character other than visible ASCII, a # or a . or .. segment, a "
                 "body on GET or DELETE, the response file named as GTaskReadReply's body path, GTaskReadField's "
                 "capacity under 1 or a field path that is empty, has an empty step or more than 128 steps; nothing "
                 "sent, no file changed"),
    TOOLS_RESULT(TC_TOO_LONG,
                 "an argument does not fit its buffer, or GTaskReadField's value does not fit the capacity; nothing "
                 "sent, no file changed"),
    TOOLS_RESULT(TC_TLS_MODE_FAILED,
                 "the connection could not be put into TLS mode, or no address of the host got a socket; nothing sent,"
                 " file untouched"),
    TOOLS_RESULT(TC_CERT_HOOK_FAILED,
                 "the build's certificate rule (accept every certificate, or the check) could not be set up; nothing "
                 "sent, file untouched"),
    TOOLS_RESULT(TC_RESOLVE_FAILED, "the host could not be resolved; nothing sent, file untouched"),
    TOOLS_RESULT(TC_CONNECT_FAILED,
                 "the TCP connection (to every address of the host) or the TLS handshake failed, or both together took"
                 " more than 30 seconds; nothing sent, file untouched"),
    TOOLS_RESULT(TC_SEND_FAILED, "sending the request failed or stalled for 30 seconds"),
    TOOLS_RESULT(TC_REPLY_CUT_SHORT,
                 "the reply ended early (closed, failed, stalled for 30 seconds, broken framing, or a reply that ends "
                 "only with the connection ended without TLS close_notify), the file holding what arrived; for "
                 "GTaskReadReply the file holds no whole reply, for GTaskReadField the body is not JSON where the path"
                 " leads"),
    TOOLS_RESULT(TC_FILE_OPEN_FAILED,
                 "a file could not be opened (the response file; for GTaskReadReply also the body file; for "
                 "GTaskReadField the body file), or it is neither a regular file nor a character device (a FIFO, a "
                 "socket, a folder); nothing sent"),
    TOOLS_RESULT(TC_FILE_WRITE_FAILED,
                 "writing to the response file (for GTaskReadReply the body file) or closing it failed"),
    TOOLS_RESULT(TC_CERT_REFUSED,
                 "the server's certificate was refused (only in a build that checks it); nothing sent, file untouched"),
    TOOLS_RESULT(TC_FIELD_MISSING,
                 "GTaskReadField: the path names nothing in the body (no such member, an index past the end, a step "
                 "into a string, number or literal)"),
    TOOLS_RESULT(TC_NO_SUCH_REPLY, "GTaskReadReplyAt: the response file holds no reply at that index"),
    TOOLS_RESULT(TC_EXCHANGE_COMPLETE,
                 "request sent, whole reply in the response file (for GTaskReadField: the value written whole); it "
                 "says nothing of the HTTP status, which is the file's first line"),
};

#undef TOOLS_RESULT

}  // namespace tools
