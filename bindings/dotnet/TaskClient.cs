// taskclient for .NET: the tasks calls as methods of TaskClient that return
// a Result, and Reply.Read (Reply.ReadAt for a reply of a sequence), which
// reads a response file through the library into an HTTP status and a body
// text.
//
//   Result result = TaskClient.ListTaskLists(accessToken, path);
//   if (result == Result.ExchangeComplete)
//   {
//       Reply reply = Reply.Read(path);
//       if (reply.IsSuccess) Use(reply.Body);
//   }
//
// Written at the C# 2.0 language level (no var, lambdas, LINQ,
// auto-properties or extension methods), so that the compilers of the .NET
// Compact Framework 2.0 and 3.5 take it as well as desktop .NET and Mono.
//
// The library is loaded by the name "taskclient": taskclient.dll on the
// device and on Windows. Mono on Linux maps that name through the binding
// assembly's own config file, which the application ships beside
// TaskClient.dll (scripts/check-dotnet.sh writes one for the test):
//
//   TaskClient.dll.config:
//   <configuration><dllmap dll="taskclient" target="libtaskclient.so.1"/></configuration>
//
// Every string goes to the library as NUL-terminated UTF-16; null goes as a
// null pointer, which the library refuses with Result.BadArgument before
// anything is sent (only Request's jsonBody takes null, for no body). The
// methods do not throw for null: the library's answer is the one result.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace TaskClientInterop
{
    // The library's result codes, each after the comment that says what it
    // means (the same words as include/taskclient.h's). Only ExchangeComplete
    // means the exchange ran to its end; the HTTP status is then in the
    // response file (Reply.Read).
    public enum Result
    {
        // networking could not be started; nothing sent, file untouched
        NetworkingFailed = 0,
        // a null pointer, a lone surrogate in any text, a control byte in the access token, an id that is .
        // or .., a GTaskRequestSSL method other than GET, POST, PUT, PATCH and DELETE, a target that does
        // not begin with /tasks/v1/ or holds a character other than visible ASCII, a # or a . or ..
        // segment, a body on GET or DELETE, the response file named as GTaskReadReply's body path,
        // GTaskReadField's capacity under 1 or a field path that is empty, has an empty step or more than
        // 128 steps; nothing sent, no file changed
        BadArgument = 10,
        // an argument does not fit its buffer, or GTaskReadField's value does not fit the capacity; nothing
        // sent, no file changed
        TooLong = 11,
        // the connection could not be put into TLS mode, or no address of the host got a socket; nothing
        // sent, file untouched
        TlsModeFailed = 21,
        // the build's certificate rule (accept every certificate, or the check) could not be set up;
        // nothing sent, file untouched
        CertHookFailed = 22,
        // the host could not be resolved; nothing sent, file untouched
        ResolveFailed = 23,
        // the TCP connection (to every address of the host) or the TLS handshake failed, or both together
        // took more than 30 seconds; nothing sent, file untouched
        ConnectFailed = 24,
        // sending the request failed or stalled for 30 seconds
        SendFailed = 25,
        // the reply ended early (closed, failed, stalled for 30 seconds, broken framing, or a reply that
        // ends only with the connection ended without TLS close_notify), the file holding what arrived; for
        // GTaskReadReply the file holds no whole reply, for GTaskReadField the body is not JSON where the
        // path leads
        ReplyCutShort = 26,
        // a file could not be opened (the response file; for GTaskReadReply also the body file; for
        // GTaskReadField the body file), or it is neither a regular file nor a character device (a FIFO, a
        // socket, a folder); nothing sent
        FileOpenFailed = 27,
        // writing to the response file (for GTaskReadReply the body file) or closing it failed
        FileWriteFailed = 28,
        // the server's certificate was refused (only in a build that checks it); nothing sent, file
        // untouched
        CertRefused = 29,
        // GTaskReadField: the path names nothing in the body (no such member, an index past the end, a step
        // into a string, number or literal)
        FieldMissing = 30,
        // GTaskReadReplyAt: the response file holds no reply at that index
        NoSuchReply = 31,
        // request sent, whole reply in the response file (for GTaskReadField: the value written whole); it
        // says nothing of the HTTP status, which is the file's first line
        ExchangeComplete = 999
    }

    // The library's exports under their own names, one declaration each, in
    // the order of their ordinals. Each returns a result code, except
    // GTaskReadReply, which returns an HTTP status or a result code.
    internal static class NativeMethods
    {
        internal const string LibraryName = "taskclient";

        // 1: authorization code (out-of-band redirect) to tokens.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GoogleTasksGetTokenSSL(string authorizationCode, string clientSecret,
            string clientId, string responsePath);

        // 2: a fresh access token for a refresh token.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GoogleTasksTokenRefreshSSL(string refreshToken, string clientSecret,
            string clientId, string responsePath);

        // 3: the user's task lists.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskListTasksSSL(string accessToken, string responsePath);

        // 4: the tasks of one task list (the service's first page).
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskListTasksListSSL(string accessToken, string taskListId, string responsePath);

        // 5: adds a task; reserved is never read and passed as a null pointer.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskTaskAddSSL(string accessToken, string taskListId, string title,
            IntPtr reserved, string responsePath);

        // 6: deletes a task.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskTaskDeleteSSL(string accessToken, string taskListId, string taskId,
            string responsePath);

        // 7: authorization code (loopback redirect, PKCE) to tokens.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GoogleTasksGetTokenPkceSSL(string authorizationCode, string clientSecret,
            string clientId, string redirectUri, string codeVerifier, string responsePath);

        // 8: one page of up to 100 tasks, completed and hidden ones included.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskListTasksListPageSSL(string accessToken, string taskListId,
            string pageToken, string responsePath);

        // 9: marks a task completed.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskTaskCompleteSSL(string accessToken, string taskListId, string taskId,
            string responsePath);

        // 10: any request of the tasks API.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskRequestSSL(string accessToken, string method, string target,
            string jsonBody, string responsePath);

        // 11: the final reply's status (100 to 599) or a result code; the
        // body, framing removed, into bodyPath.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskReadReply(string responsePath, string bodyPath);

        // 12: one value of a JSON body file by dotted path, written into value
        // (valueCapacity 16-bit units, NUL included).
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskReadField(string bodyPath, string fieldPath, StringBuilder value,
            int valueCapacity);

        // 13: the requests of a file, one per line, in one call; the replies
        // back to back in responsePath.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskRequestsSSL(string accessToken, string requestsPath, string responsePath);

        // 14: as 11, for the reply at index (from 0) of the response file.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        internal static extern int GTaskReadReplyAt(string responsePath, int index, string bodyPath);
    }

    // One exchange with the service per call: each opens its own connection,
    // sends one request and writes the raw reply (status line, headers, body)
    // to responsePath, created or emptied. Read it with Reply.Read.
    public static class TaskClient
    {
        // An authorization code from the out-of-band redirect to tokens; the
        // reply carries access_token and refresh_token.
        public static Result GetToken(string authorizationCode, string clientSecret, string clientId,
            string responsePath)
        {
            return (Result)NativeMethods.GoogleTasksGetTokenSSL(authorizationCode, clientSecret, clientId,
                responsePath);
        }

        // An authorization code from a loopback redirect (http://127.0.0.1:PORT
        // or http://localhost) with PKCE to tokens. redirectUri is the one the
        // code was obtained with; an empty codeVerifier sends none.
        public static Result GetTokenPkce(string authorizationCode, string clientSecret, string clientId,
            string redirectUri, string codeVerifier, string responsePath)
        {
            return (Result)NativeMethods.GoogleTasksGetTokenPkceSSL(authorizationCode, clientSecret, clientId,
                redirectUri, codeVerifier, responsePath);
        }

        // A fresh access token for a refresh token (no new refresh token).
        public static Result RefreshToken(string refreshToken, string clientSecret, string clientId,
            string responsePath)
        {
            return (Result)NativeMethods.GoogleTasksTokenRefreshSSL(refreshToken, clientSecret, clientId,
                responsePath);
        }

        // The user's task lists.
        public static Result ListTaskLists(string accessToken, string responsePath)
        {
            return (Result)NativeMethods.GTaskListTasksSSL(accessToken, responsePath);
        }

        // The tasks of one task list: the service's first page.
        public static Result ListTasks(string accessToken, string taskListId, string responsePath)
        {
            return (Result)NativeMethods.GTaskListTasksListSSL(accessToken, taskListId, responsePath);
        }

        // One page of up to 100 tasks, completed and hidden ones included:
        // pageToken "" for the first page, then each reply's nextPageToken
        // until a reply has none.
        public static Result ListTasksPage(string accessToken, string taskListId, string pageToken,
            string responsePath)
        {
            return (Result)NativeMethods.GTaskListTasksListPageSSL(accessToken, taskListId, pageToken,
                responsePath);
        }

        // Adds a task with a title; the reply is the created task.
        public static Result AddTask(string accessToken, string taskListId, string title, string responsePath)
        {
            return (Result)NativeMethods.GTaskTaskAddSSL(accessToken, taskListId, title, IntPtr.Zero,
                responsePath);
        }

        // Marks a task completed; the reply is the task.
        public static Result CompleteTask(string accessToken, string taskListId, string taskId,
            string responsePath)
        {
            return (Result)NativeMethods.GTaskTaskCompleteSSL(accessToken, taskListId, taskId, responsePath);
        }

        // Deletes a task; the reply is 204 No Content.
        public static Result DeleteTask(string accessToken, string taskListId, string taskId,
            string responsePath)
        {
            return (Result)NativeMethods.GTaskTaskDeleteSSL(accessToken, taskListId, taskId, responsePath);
        }

        // Any request of the tasks API. method: GET, POST, PUT, PATCH or
        // DELETE. target: path and query as they go on the wire, already
        // percent-encoded, beginning "/tasks/v1/". jsonBody: null or "" for
        // none (GET and DELETE take none), else JSON text sent as UTF-8.
        public static Result Request(string accessToken, string method, string target, string jsonBody,
            string responsePath)
        {
            return (Result)NativeMethods.GTaskRequestSSL(accessToken, method, target, jsonBody, responsePath);
        }

        // A sequence of requests in one call, over one connection: the file at
        // requestsPath holds one request per line, "METHOD TARGET" or
        // "METHOD TARGET JSON", as Request takes them, in UTF-8 without a byte
        // order mark (new UTF8Encoding(false)), at most 1000 lines. A line that
        // breaks a rule is BadArgument (TooLong for a length) with nothing
        // sent. The replies go into responsePath back to back in request order;
        // read each with Reply.ReadAt(responsePath, index). ExchangeComplete
        // when every reply is whole; a 4xx or 5xx reply does not stop the
        // sequence. A POST or PATCH whose reply the server cut off is never
        // sent again: ReplyCutShort, the replies before it in the file.
        public static Result Requests(string accessToken, string requestsPath, string responsePath)
        {
            return (Result)NativeMethods.GTaskRequestsSSL(accessToken, requestsPath, responsePath);
        }

        // One value of a JSON body file (as Reply.Read's body, or
        // GTaskReadReply's body file) by a dotted path: "access_token",
        // "items.3.title", "nextPageToken", "items.#" for an array's length.
        // ExchangeComplete with the value (a string unescaped, a number or
        // literal as written, an object or array as its JSON text);
        // FieldMissing when the path names nothing; BadArgument for a path
        // that is not a dotted path; ReplyCutShort when the body is not JSON
        // there; FileOpenFailed when the file cannot be opened. value is null
        // unless the result is ExchangeComplete. The buffer grows as the
        // value needs.
        public static Result ReadField(string bodyPath, string fieldPath, out string value)
        {
            value = null;
            for (int capacity = 256; ; capacity *= 4)
            {
                StringBuilder buffer = new StringBuilder(capacity);
                Result result = (Result)NativeMethods.GTaskReadField(bodyPath, fieldPath, buffer, capacity);
                if (result == Result.ExchangeComplete) value = buffer.ToString();
                if (result != Result.TooLong || capacity >= 1 << 26) return result;
            }
        }
    }

    // The final reply in a response file, read once through the library:
    //
    // - the file holds a whole reply: Result is ExchangeComplete, Status the
    //   HTTP status (100 to 599) and Body the body as UTF-8 text ("" for a
    //   reply without one, such as 204), chunked framing removed;
    // - otherwise: Result is the library's answer (BadArgument for a null
    //   path, FileOpenFailed, FileWriteFailed, or ReplyCutShort for a reply
    //   that ended early or has broken framing), Status 0 and Body null.
    //
    // Reply.ReadAt reads any reply of a response file that holds several
    // (TaskClient.Requests): NoSuchReply past the last, BadArgument for a
    // negative index.
    public sealed class Reply
    {
        private readonly Result result;
        private readonly int status;
        private readonly string body;

        private Reply(Result result, int status, string body)
        {
            this.result = result;
            this.status = status;
            this.body = body;
        }

        public Result Result
        {
            get { return result; }
        }

        public int Status
        {
            get { return status; }
        }

        public string Body
        {
            get { return body; }
        }

        // True for a 2xx status.
        public bool IsSuccess
        {
            get { return status >= 200 && status <= 299; }
        }

        // Reads the response file at responsePath. The library writes the
        // body to a temporary file, which is read once and deleted. Throws
        // only when the temporary file cannot be created or read back
        // (IOException, UnauthorizedAccessException).
        public static Reply Read(string responsePath)
        {
            return ReadWith(delegate(string bodyPath) { return NativeMethods.GTaskReadReply(responsePath, bodyPath); });
        }

        // Reads the reply at index (0 is the first, as Read reads it) of the
        // response file at responsePath, in the same way.
        public static Reply ReadAt(string responsePath, int index)
        {
            return ReadWith(delegate(string bodyPath)
            {
                return NativeMethods.GTaskReadReplyAt(responsePath, index, bodyPath);
            });
        }

        private delegate int BodyReader(string bodyPath);

        // One read through the library into a temporary body file.
        private static Reply ReadWith(BodyReader reader)
        {
            string bodyPath = Path.GetTempFileName();
            try
            {
                int answer = reader(bodyPath);
                if (answer < 100 || answer > 599)
                {
                    return new Reply((Result)answer, 0, null);
                }
                return new Reply(Result.ExchangeComplete, answer, ReadUtf8File(bodyPath));
            }
            finally
            {
                File.Delete(bodyPath);
            }
        }

        // The whole file as UTF-8 text. A read loop rather than
        // File.ReadAllBytes, which the Compact Framework does not have.
        private static string ReadUtf8File(string path)
        {
            FileStream stream = new FileStream(path, FileMode.Open, FileAccess.Read);
            try
            {
                MemoryStream bytes = new MemoryStream();
                byte[] buffer = new byte[8192];
                int count;
                while ((count = stream.Read(buffer, 0, buffer.Length)) > 0)
                {
                    bytes.Write(buffer, 0, count);
                }
                return Encoding.UTF8.GetString(bytes.GetBuffer(), 0, (int)bytes.Length);
            }
            finally
            {
                stream.Close();
            }
        }
    }
}
