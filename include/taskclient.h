/*
 * taskclient: the Google Tasks REST API over HTTPS for a host application
 * that neither speaks TLS nor writes HTTP itself.
 *
 * Every function but GTaskReadReply and GTaskReadField performs one whole
 * exchange on the caller's thread: it opens its own TLS connection to the
 * service's API host, sends one HTTP/1.1 request, copies the raw reply
 * (status line, headers and body, byte for byte, chunked framing included)
 * into the file named by `responsePath`, and returns one of the result codes
 * below. The exchanges parse nothing, and no call keeps anything of its own
 * for a later one: no connection, TLS session, token or buffer. Tokens and
 * ids reach the caller only through the response file,
 * which GTaskReadReply and GTaskReadField read back. What calls share is
 * only the OpenSSL build's: its TLS configuration (one SSL_CTX) and its
 * socket method table, made once per process on the first call, only read
 * after, and freed when the library is unloaded or the process exits; they
 * hold nothing of any call, and no TLS session is kept for another to resume.
 * Any function may run on any number of threads at once.
 *
 * By default server certificates are not checked: every certificate is
 * accepted. This is a property of the design (device certificate stores are
 * often missing or out of date), not an oversight; the channel is encrypted,
 * not authenticated: anyone on the path can read the secrets and tokens a
 * call sends and forge its reply. A build with TASKCLIENT_VERIFY_SERVER
 * checks them and refuses a bad one with TC_CERT_REFUSED.
 *
 * Text arguments are NUL-terminated 16-bit strings, whole UTF-16 (a lone
 * surrogate is TC_BAD_ARGUMENT). None may be null, except GTaskTaskAddSSL's
 * `reserved` (never read) and GTaskRequestSSL's `jsonBody` (null: no body).
 */
#ifndef TASKCLIENT_H
#define TASKCLIENT_H

/* The library's version; the shared library's soname carries the major. */
#define TASKCLIENT_VERSION_MAJOR 1
#define TASKCLIENT_VERSION_MINOR 1
#define TASKCLIENT_VERSION_PATCH 0
#define TASKCLIENT_VERSION_STRING "1.1.0"

/* The 16-bit text unit: wchar_t on Windows, char16_t where the language has
 * it (C11, C++11 and later), else a 16-bit unsigned integer of the same size
 * and representation (C89, C99, C++98). The header compiles as C89 to C17
 * and C++98 to C++20. */
#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t tc_text16;
#elif defined(__cplusplus) && __cplusplus >= 201103L
typedef char16_t tc_text16;
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#include <uchar.h>
typedef char16_t tc_text16;
#else
typedef unsigned short tc_text16;
#endif

/* Fails to compile where the text unit is not two bytes (a negative array
 * size), in every language mode. */
typedef char tc_text16_is_two_bytes[sizeof(tc_text16) == 2 ? 1 : -1];

/* The result type, int32_t: from <stdint.h>, which Visual Studio has only
 * from 2010 (_MSC_VER 1600) on; before it, the compiler's 32-bit int. */
#if defined(_MSC_VER) && _MSC_VER < 1600
typedef __int32 int32_t;
#else
#include <stdint.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define TASKCLIENT_CALL __stdcall
#else
#define TASKCLIENT_CALL
#endif

#if defined(TASKCLIENT_BUILDING) && !defined(_WIN32)
#define TASKCLIENT_EXPORT __attribute__((visibility("default")))
#else
#define TASKCLIENT_EXPORT
#endif

/* Result codes, each after the comment that says what it means. Only 999
 * means the exchange ran to its end. The exchanges (every function but
 * GTaskReadReply and GTaskReadField) return 999, 0, 10, 11 or 21 to 29; what
 * 10 and 11 stand for in each is said at the function. */
/* networking could not be started; nothing sent, file untouched */
#define TC_NETWORKING_FAILED 0
/* a null pointer, a lone surrogate in any text, a control byte in the access token, an id that is .
 * or .., a GTaskRequestSSL method other than GET, POST, PUT, PATCH and DELETE, a target that does
 * not begin with /tasks/v1/ or holds a character other than visible ASCII, a # or a . or ..
 * segment, a body on GET or DELETE, the response file named as GTaskReadReply's body path,
 * GTaskReadField's capacity under 1 or a field path that is empty, has an empty step or more than
 * 128 steps; nothing sent, no file changed */
#define TC_BAD_ARGUMENT 10
/* an argument does not fit its buffer, or GTaskReadField's value does not fit the capacity; nothing
 * sent, no file changed */
#define TC_TOO_LONG 11
/* the connection could not be put into TLS mode, or no address of the host got a socket; nothing
 * sent, file untouched */
#define TC_TLS_MODE_FAILED 21
/* the build's certificate rule (accept every certificate, or the check) could not be set up;
 * nothing sent, file untouched */
#define TC_CERT_HOOK_FAILED 22
/* the host could not be resolved; nothing sent, file untouched */
#define TC_RESOLVE_FAILED 23
/* the TCP connection (to every address of the host) or the TLS handshake failed, or both together
 * took more than 30 seconds; nothing sent, file untouched */
#define TC_CONNECT_FAILED 24
/* sending the request failed or stalled for 30 seconds */
#define TC_SEND_FAILED 25
/* the reply ended early (closed, failed, stalled for 30 seconds, broken framing, or a reply that
 * ends only with the connection ended without TLS close_notify), the file holding what arrived; for
 * GTaskReadReply the file holds no whole reply, for GTaskReadField the body is not JSON where the
 * path leads */
#define TC_REPLY_CUT_SHORT 26
/* a file could not be opened (the response file; for GTaskReadReply also the body file; for
 * GTaskReadField the body file), or it is neither a regular file nor a character device (a FIFO, a
 * socket, a folder); nothing sent */
#define TC_FILE_OPEN_FAILED 27
/* writing to the response file (for GTaskReadReply the body file) or closing it failed */
#define TC_FILE_WRITE_FAILED 28
/* the server's certificate was refused (only in a build that checks it); nothing sent, file
 * untouched */
#define TC_CERT_REFUSED 29
/* GTaskReadField: the path names nothing in the body (no such member, an index past the end, a step
 * into a string, number or literal) */
#define TC_FIELD_MISSING 30
/* GTaskReadReplyAt: the response file holds no reply at that index */
#define TC_NO_SUCH_REPLY 31
/* request sent, whole reply in the response file (for GTaskReadField: the value written whole); it
 * says nothing of the HTTP status, which is the file's first line */
#define TC_EXCHANGE_COMPLETE 999

#ifdef __cplusplus
extern "C" {
#endif

/* Exchanges an authorization code (out-of-band redirect) for tokens:
 * POST /oauth2/v3/token. The reply carries access_token and refresh_token.
 * Results: 999, 0, 10 (a null or a lone surrogate), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksGetTokenSSL(const tc_text16* authorizationCode,
                                                                 const tc_text16* clientSecret,
                                                                 const tc_text16* clientId,
                                                                 const tc_text16* responsePath);

/* Obtains a fresh access token with a refresh token: POST /oauth2/v3/token.
 * Results: 999, 0, 10 (a null or a lone surrogate), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksTokenRefreshSSL(const tc_text16* refreshToken,
                                                                     const tc_text16* clientSecret,
                                                                     const tc_text16* clientId,
                                                                     const tc_text16* responsePath);

/* Lists the user's task lists: GET /tasks/v1/users/@me/lists.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksSSL(const tc_text16* accessToken,
                                                            const tc_text16* responsePath);

/* Lists the tasks of one task list: GET /tasks/v1/lists/{taskListId}/tasks.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token, an id that is "." or ".."), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksListSSL(const tc_text16* accessToken,
                                                                const tc_text16* taskListId,
                                                                const tc_text16* responsePath);

/* Adds a task with a title to a task list: POST /tasks/v1/lists/{taskListId}/tasks.
 * `reserved` is never read; pass null. The reply is the created task.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token, an id that is "." or ".."), 11 (also a title over 986 bytes of
 * escaped UTF-8), 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskAddSSL(const tc_text16* accessToken,
                                                          const tc_text16* taskListId,
                                                          const tc_text16* title,
                                                          const void* reserved,
                                                          const tc_text16* responsePath);

/* Deletes a task: DELETE /tasks/v1/lists/{taskListId}/tasks/{taskId}. On success
 * the file holds "HTTP/1.1 204 No Content" and its headers.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token, an id that is "." or ".."), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskDeleteSSL(const tc_text16* accessToken,
                                                             const tc_text16* taskListId,
                                                             const tc_text16* taskId,
                                                             const tc_text16* responsePath);

/* Beyond the six: additions for today's service. */

/* Exchanges an authorization code obtained with a loopback redirect
 * (http://127.0.0.1:PORT or http://localhost) and PKCE for tokens:
 * POST /oauth2/v3/token. `redirectUri` is the one used to obtain the code;
 * an empty `codeVerifier` leaves the code_verifier field out.
 * Results: 999, 0, 10 (a null or a lone surrogate), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GoogleTasksGetTokenPkceSSL(const tc_text16* authorizationCode,
                                                                     const tc_text16* clientSecret,
                                                                     const tc_text16* clientId,
                                                                     const tc_text16* redirectUri,
                                                                     const tc_text16* codeVerifier,
                                                                     const tc_text16* responsePath);

/* Lists one page of up to 100 tasks of a task list, completed, hidden and
 * assigned tasks (from a document or a Chat space) included:
 * GET /tasks/v1/lists/{taskListId}/tasks?maxResults=100&showCompleted=true
 * &showHidden=true&showAssigned=true[&pageToken=...]. Pass an empty
 * `pageToken` for the first page, then the reply's nextPageToken until a
 * reply has none.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token, an id that is "." or ".."), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskListTasksListPageSSL(const tc_text16* accessToken,
                                                                    const tc_text16* taskListId,
                                                                    const tc_text16* pageToken,
                                                                    const tc_text16* responsePath);

/* Marks a task completed: PATCH /tasks/v1/lists/{taskListId}/tasks/{taskId}.
 * Results: 999, 0, 10 (a null, a lone surrogate, a control byte in the
 * token, an id that is "." or ".."), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskTaskCompleteSSL(const tc_text16* accessToken,
                                                               const tc_text16* taskListId,
                                                               const tc_text16* taskId,
                                                               const tc_text16* responsePath);

/* Sends any request to the task paths with the access token, as one exchange
 * like the others, and returns the same result codes.
 * `method`: exactly GET, POST, PUT, PATCH or DELETE.
 * `target`: the request-target (path and optional query) as it goes on the
 * wire, already percent-encoded: it begins with "/tasks/v1/" and holds
 * visible ASCII only (no space, no '#'), up to 1000 bytes (longer: 11).
 * `jsonBody`: null or empty for none (GET and DELETE take none: 10),
 * otherwise JSON text sent as it stands, in UTF-8, up to 8192 bytes (longer:
 * 11). POST, PUT and PATCH without a body send "Content-Length: 0".
 * Results: 999, 0, 10 (a null but `jsonBody`, a lone surrogate, a control
 * byte in the token, another method, a target outside those rules or with a
 * "." or ".." segment in its path, a body on GET or DELETE), 11, 21 to 29. */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskRequestSSL(const tc_text16* accessToken,
                                                          const tc_text16* method,
                                                          const tc_text16* target,
                                                          const tc_text16* jsonBody,
                                                          const tc_text16* responsePath);

/* Reads a response file written by any of the functions above and writes the
 * final reply's body, with chunked framing removed, into the file at
 * `bodyPath` (created or emptied). Interim 1xx replies are skipped. Returns
 * the final reply's HTTP status (100-599), or TC_BAD_ARGUMENT (a null path, a
 * path with a lone surrogate, or the response file itself, under any name,
 * as the body path: nothing is changed), TC_FILE_OPEN_FAILED (the response
 * file cannot be opened or the body file cannot be created, or either is
 * neither a regular file nor a character device), TC_FILE_WRITE_FAILED
 * (writing or closing the body file failed) or TC_REPLY_CUT_SHORT (the file
 * holds no whole reply: cut short, broken framing, a status outside 100-599,
 * or the file could not be read; the body file then holds the body bytes
 * read so far). */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadReply(const tc_text16* responsePath,
                                                         const tc_text16* bodyPath);

/* Reads one value out of a JSON body file (as GTaskReadReply writes it) and
 * writes it into `value`, NUL-terminated, `valueCapacity` units in all.
 * `fieldPath` is dotted: member names, an array element by its index from 0,
 * and "#" last for an array's length ("access_token", "items.3.title",
 * "nextPageToken", "items.#"). A step of digits on an object, and "#" on an
 * object, are member names; a member name with a dot in it cannot be named.
 * The first member of a name counts. The value: a string unescaped (an escaped
 * NUL in it ends the text), a number, true, false or null as written, an object
 * or array as its exact text, all as UTF-16. The body is read only as far as
 * the value and the ',' or bracket after it, and must be JSON in UTF-8 that
 * far. Returns TC_EXCHANGE_COMPLETE (the value written whole),
 * TC_FIELD_MISSING (the path names nothing: no such member, an index past the
 * end, a step into a string, number or literal), TC_TOO_LONG (the value does
 * not fit), TC_BAD_ARGUMENT (a null pointer, a capacity under 1, a path that
 * is empty, has an empty step, more than 128 steps or a lone surrogate, a
 * body path with a lone surrogate), TC_REPLY_CUT_SHORT (the body is not JSON
 * where the path leads, could not be read, or changed while it was read) or
 * TC_FILE_OPEN_FAILED (the body file cannot be opened, or is neither a regular
 * file nor a character device). Unless the value is
 * written whole, only value[0] is written, as 0 (given room for it). */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadField(const tc_text16* bodyPath,
                                                         const tc_text16* fieldPath,
                                                         tc_text16* value,
                                                         int32_t valueCapacity);

/* Sends a sequence of requests to the task paths in one call, over one TLS
 * connection with the one access token, and writes every reply into the
 * file at `responsePath` (created or emptied), exactly as it arrived, back
 * to back in request order (interim 1xx replies before their final reply).
 *
 * `requestsPath` names a UTF-8 text file the host writes: one request per
 * line, at most 1000 lines, each ending in LF or CRLF (a last empty line is
 * ignored; any other empty line is 10). A line is "METHOD TARGET" or
 * "METHOD TARGET BODY", parts separated by single spaces: METHOD and TARGET
 * as GTaskRequestSSL takes them (GET, POST, PUT, PATCH or DELETE; a target
 * beginning "/tasks/v1/", visible ASCII only, already percent-encoded, up
 * to 1000 bytes), and BODY JSON text to the end of the line, up to 8192
 * bytes (JSON never needs a raw line break; GET and DELETE take none). The
 * whole file is checked before anything is sent: a line that breaks a rule
 * is TC_BAD_ARGUMENT (TC_TOO_LONG for a length, or for more than 1000 lines)
 * with nothing sent and the response file untouched.
 *
 * Consecutive GET, PUT and DELETE requests are pipelined: each goes out
 * without waiting for the replies before it, within a window of bytes small
 * enough that neither side can block the other. A POST or PATCH waits until
 * every earlier reply has arrived and goes alone: nothing follows it until
 * its own reply has arrived.
 *
 * A server may close the connection after any reply (Connection: close, a
 * keep-alive limit, an idle close). The requests not yet answered then go on
 * a new connection, within the same call and time limits, resuming the first
 * connection's TLS session where the server allows it. A GET, PUT or DELETE
 * that was sent and got no byte of reply is sent again, once; a POST or PATCH
 * that got no whole reply is never sent again: the call ends with
 * TC_REPLY_CUT_SHORT, the file holding every whole reply before it and what
 * arrived of its own. A reply whose end only the close marks (no length, not
 * chunked) ends the sequence there: TC_REPLY_CUT_SHORT if requests remain.
 * Any HTTP status, 4xx and 5xx included, is a reply like any other and does
 * not stop the sequence; GTaskReadReplyAt reads each one back.
 *
 * Returns TC_EXCHANGE_COMPLETE when every request was sent and every reply
 * is whole in the file, otherwise the result code of the first step that
 * failed, as for GTaskRequestSSL; TC_FILE_OPEN_FAILED also when the requests
 * file cannot be opened (nothing sent). */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskRequestsSSL(const tc_text16* accessToken,
                                                           const tc_text16* requestsPath,
                                                           const tc_text16* responsePath);

/* GTaskReadReply for the reply at `index` (from 0) of a response file written
 * by any of the functions above: GTaskRequestsSSL's replies follow one
 * another, the others write one, and GTaskReadReply is index 0. Interim 1xx
 * replies belong to the final reply after them and count with it. Writes
 * that reply's body, framing removed, into the file at `bodyPath` (created
 * or emptied) and returns its HTTP status (100-599), or TC_NO_SUCH_REPLY
 * when the file ends before the reply at `index` begins or a reply before
 * it is cut short or broken (no reply can be found after it; the body file
 * is then left empty), TC_BAD_ARGUMENT for a negative index or a null path,
 * and otherwise the results of GTaskReadReply (TC_REPLY_CUT_SHORT when that
 * reply itself is cut short or its framing is broken). */
TASKCLIENT_EXPORT int32_t TASKCLIENT_CALL GTaskReadReplyAt(const tc_text16* responsePath,
                                                           int32_t index,
                                                           const tc_text16* bodyPath);

#ifdef __cplusplus
}
#endif

#endif /* TASKCLIENT_H */
