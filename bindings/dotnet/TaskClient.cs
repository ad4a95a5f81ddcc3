// taskclient for .NET: the library's exports as P/Invoke declarations, its
// result codes, and helpers that read a response file through the library.
//
// Written at the C# 2.0 language level, so that the compilers of the .NET
// Compact Framework 2.0 and 3.5 take it as well as desktop .NET and Mono.
// "taskclient" is taskclient.dll on the device; on Linux an application's
// .config maps it to libtaskclient.so.1 with a <dllmap> entry.
//
// Every string goes to the library as NUL-terminated UTF-16 (CharSet.Unicode);
// null is passed as a null pointer, which every export refuses with
// BadArgument except where a parameter says it takes null.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace TaskClientInterop
{
    public static class TaskClient
    {
        public const string LibraryName = "taskclient";

        // Result codes. Only ExchangeComplete means the exchange ran to its end;
        // the HTTP status is then the response file's first line.
        public const int NetworkingFailed = 0;      // networking could not be started
        public const int BadArgument = 10;          // a null, or a byte the request cannot carry; nothing sent
        public const int TooLong = 11;              // an argument does not fit its buffer; nothing sent
        public const int TlsModeFailed = 21;        // the connection could not be put into TLS mode
        public const int CertHookFailed = 22;       // the certificate rule could not be set up
        public const int ResolveFailed = 23;        // the host could not be resolved
        public const int ConnectFailed = 24;        // TCP connection or TLS handshake failed or timed out
        public const int SendFailed = 25;           // sending the request failed
        public const int ReplyCutShort = 26;        // the reply ended early; the file holds what arrived
        public const int FileOpenFailed = 27;       // the response file could not be opened; nothing sent
        public const int FileWriteFailed = 28;      // writing a file failed
        public const int CertRefused = 29;          // the server's certificate was refused; nothing sent
        public const int ExchangeComplete = 999;    // request sent, whole reply in the response file

        // 1: authorization code (out-of-band redirect) to tokens.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GoogleTasksGetTokenSSL(string authorizationCode, string clientSecret,
            string clientId, string responsePath);

        // 2: a fresh access token for a refresh token.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GoogleTasksTokenRefreshSSL(string refreshToken, string clientSecret,
            string clientId, string responsePath);

        // 3: the user's task lists.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskListTasksSSL(string accessToken, string responsePath);

        // 4: the tasks of one task list (the service's first page).
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskListTasksListSSL(string accessToken, string taskListId, string responsePath);

        // 5: adds a task; pass IntPtr.Zero as reserved. The reply is the created task.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskTaskAddSSL(string accessToken, string taskListId, string title,
            IntPtr reserved, string responsePath);

        // 6: deletes a task; the reply is 204 No Content.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskTaskDeleteSSL(string accessToken, string taskListId, string taskId,
            string responsePath);

        // 7: authorization code (loopback redirect, PKCE) to tokens; an empty
        // codeVerifier sends none.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GoogleTasksGetTokenPkceSSL(string authorizationCode, string clientSecret,
            string clientId, string redirectUri, string codeVerifier, string responsePath);

        // 8: one page of up to 100 tasks, completed and hidden ones included;
        // "" for the first page, then each reply's nextPageToken.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskListTasksListPageSSL(string accessToken, string taskListId,
            string pageToken, string responsePath);

        // 9: marks a task completed.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskTaskCompleteSSL(string accessToken, string taskListId, string taskId,
            string responsePath);

        // 10: any request of the tasks API: method GET, POST, PUT, PATCH or
        // DELETE; target beginning "/tasks/v1/"; jsonBody null for none.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskRequestSSL(string accessToken, string method, string target,
            string jsonBody, string responsePath);

        // 11: reads a response file and writes the final reply's body, framing
        // removed, to bodyPath. Returns the HTTP status (100 to 599), or
        // BadArgument, ReplyCutShort, FileOpenFailed or FileWriteFailed.
        [DllImport(LibraryName, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Winapi)]
        public static extern int GTaskReadReply(string responsePath, string bodyPath);

        // True for an HTTP status, false for one of the library's error codes.
        public static bool IsHttpStatus(int result)
        {
            return result >= 100 && result <= 599;
        }

        // The HTTP status of the final reply in a response file, or the
        // library's error code when the file cannot be read as a reply.
        public static int ReadStatus(string responsePath)
        {
            string body;
            return ReadReply(responsePath, out body);
        }

        // The final reply's body as text (UTF-8), "" for a reply without one.
        // Throws IOException when the file cannot be read as a reply.
        public static string ReadBody(string responsePath)
        {
            string body;
            int status = ReadReply(responsePath, out body);
            if (!IsHttpStatus(status))
            {
                throw new IOException("taskclient: cannot read the reply in " + responsePath + " (result " + status + ")");
            }
            return body;
        }

        // Both at once: returns the status (or error code) and, for a status,
        // sets body to the reply's body text; null otherwise.
        public static int ReadReply(string responsePath, out string body)
        {
            body = null;
            string bodyPath = Path.GetTempFileName();
            try
            {
                int status = GTaskReadReply(responsePath, bodyPath);
                if (IsHttpStatus(status))
                {
                    body = ReadUtf8File(bodyPath);
                }
                return status;
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
