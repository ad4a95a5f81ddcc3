// Runs every method of bindings/dotnet/TaskClient.cs, and so every export of
// the real libtaskclient, against the local stand-in for the service, reached
// as www.googleapis.com:443 under scripts/with-local-service.sh, whose
// variables give the authorization codes. C# 2.0, like the binding. Cases run
// in order, later ones using the tokens and ids earlier ones read; prints
// "N passed, M failed" last and exits 1 when any failed. Each case is named
// by the method and, in parentheses, the export it calls.
//
// The response files are read here by the test's own reader (status line,
// headers, chunked or plain body), not through the binding, so the cases of
// the first nine exports do not depend on GTaskReadReply. The cases named
// "Reply.Read" and "Request" exercise exports 11 and 10 alone; "Requests"
// exports 13 and 14 together.
using System;
using System.Collections;
using System.IO;
using System.Text;
using System.Text.RegularExpressions;
using TaskClientInterop;

class TaskClientTest
{
    delegate void Case();
    delegate Result Call(string path);

    const string Secret = "dotnet-secret";
    const string ClientId = "dotnet-client";
    const string Untouched = "untouched\n";

    static string work;
    static int passed, failed;
    static string accessToken, firstAccessToken, refreshToken, listId, backlogId, taskId;
    // Response files of finished exchanges, read again by the Reply.Read cases.
    static ArrayList replies = new ArrayList();

    static int Main()
    {
        work = Path.Combine(Path.GetTempPath(), "taskclient-dotnet-" + Guid.NewGuid().ToString("N"));
        Directory.CreateDirectory(work);
        try
        {
            Run("GetToken (GoogleTasksGetTokenSSL): the issued code gives an access and a refresh token", TokenFromCode);
            Run("GetToken (GoogleTasksGetTokenSSL): a spent code gets 400 invalid_grant", SpentCodeRefused);
            Run("GetTokenPkce (GoogleTasksGetTokenPkceSSL): a loopback code with its verifier gives tokens", TokenFromPkceCode);
            Run("RefreshToken (GoogleTasksTokenRefreshSSL): a new access token, no new refresh token", Refresh);
            Run("ListTaskLists (GTaskListTasksSSL): the three task lists", ListLists);
            Run("ListTaskLists (GTaskListTasksSSL): an unknown access token gets 401", UnknownTokenRefused);
            Run("AddTask (GTaskTaskAddSSL): a non-ASCII title comes back as sent", AddTask);
            Run("ListTasks (GTaskListTasksListSSL): the added task is listed", ListTasks);
            Run("CompleteTask (GTaskTaskCompleteSSL): the task is completed", CompleteTask);
            Run("ListTasksPage (GTaskListTasksListPageSSL): 120 tasks of Backlog over two pages", ListEveryPage);
            Run("DeleteTask (GTaskTaskDeleteSSL): 204 without a body, then 404", DeleteTask);
            Run("each of the nine calls refuses a null argument with 10, the file untouched", NullsRefused);
            Run("a response file that cannot be opened gives 27", UnopenableFileRefused);

            Run("Reply.Read (GTaskReadReply): status, body and IsSuccess as the response files hold them", ReadRepliesOfTheRun);
            Run("Reply.Read (GTaskReadReply): a missing file gives 27, status 0 and no body", ReadMissingFile);
            Run("Reply.Read (GTaskReadReply): a reply cut inside its body gives 26, status 0 and no body", ReadCutReply);
            Run("Reply.Read (GTaskReadReply): a null response path gives 10", ReadNullPath);
            Run("ReadField (GTaskReadField): values, a count, JSON text and each refusal", ReadFields);

            Run("Request (GTaskRequestSSL): GET the task lists without a body", RequestGet);
            Run("Request (GTaskRequestSSL): POST, PATCH and DELETE one task", RequestWriteCycle);
            Run("Request (GTaskRequestSSL): a null argument or a CR LF gives 10, the file untouched", RequestBadInputRefused);
            Run("Request (GTaskRequestSSL): a target outside /tasks/v1/ is not sent", RequestOutsideTasksRefused);
            Run("Requests (GTaskRequestsSSL), Reply.ReadAt (GTaskReadReplyAt): POST, PATCH, GET, DELETE in one call, each reply read back", RequestsSequence);
            Run("Requests (GTaskRequestsSSL): a null argument or a broken line gives 10, the file untouched", RequestsRefused);
        }
        finally
        {
            Directory.Delete(work, true);
        }
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    static void Run(string name, Case body)
    {
        try
        {
            body();
            passed++;
            Console.WriteLine("ok    " + name);
        }
        catch (Exception e)
        {
            failed++;
            Console.WriteLine("FAIL  " + name + ": " + e.GetType().Name + ": " + e.Message);
        }
    }

    // --- Reading a response file, independently of the library ---------------

    class Raw
    {
        public int Status;
        public string Headers;
        public string Body;
    }

    static Raw Read(string path)
    {
        byte[] bytes = ReadAll(path);
        string text = Encoding.UTF8.GetString(bytes, 0, bytes.Length);
        Match head = Regex.Match(text, "^HTTP/1\\.1 (\\d{3}) [^\\r\\n]*\\r\\n");
        int end = text.IndexOf("\r\n\r\n");
        Expect(head.Success && end > 0, "no status line and headers in " + Path.GetFileName(path));
        Raw reply = new Raw();
        reply.Status = int.Parse(head.Groups[1].Value);
        reply.Headers = text.Substring(0, end + 2);
        string rest = text.Substring(end + 4);
        if (!Regex.IsMatch(reply.Headers, "\\r\\nTransfer-Encoding: *chunked\\r\\n", RegexOptions.IgnoreCase))
        {
            reply.Body = rest;
            return reply;
        }
        // Chunks are counted in bytes: walk the bytes, then decode the body.
        MemoryStream body = new MemoryStream();
        int at = Encoding.UTF8.GetByteCount(text.Substring(0, end + 4));
        while (true)
        {
            int lineEnd = IndexOf(bytes, at);
            string sizeLine = Encoding.ASCII.GetString(bytes, at, lineEnd - at).Split(';')[0].Trim();
            int size = Convert.ToInt32(sizeLine, 16);
            at = lineEnd + 2;
            if (size == 0) break;
            Expect(at + size + 2 <= bytes.Length, "a chunk runs past the end of the file");
            body.Write(bytes, at, size);
            at += size + 2;
        }
        reply.Body = Encoding.UTF8.GetString(body.ToArray(), 0, (int)body.Length);
        return reply;
    }

    static int IndexOf(byte[] bytes, int from)
    {
        for (int i = from; i + 1 < bytes.Length; i++)
        {
            if (bytes[i] == '\r' && bytes[i + 1] == '\n') return i;
        }
        throw new Exception("a chunk size line without an end");
    }

    static byte[] ReadAll(string path)
    {
        FileStream stream = new FileStream(path, FileMode.Open, FileAccess.Read);
        try
        {
            byte[] bytes = new byte[stream.Length];
            int at = 0, count;
            while (at < bytes.Length && (count = stream.Read(bytes, at, bytes.Length - at)) > 0) at += count;
            return bytes;
        }
        finally
        {
            stream.Close();
        }
    }

    // --- Shared steps ------------------------------------------------------------

    static string InWork(string name)
    {
        return Path.Combine(work, name);
    }

    static void Expect(bool condition, string what)
    {
        if (!condition) throw new Exception(what);
    }

    static string Env(string name)
    {
        string value = Environment.GetEnvironmentVariable(name);
        Expect(value != null && value.Length > 0, name + " is not set: run under scripts/with-local-service.sh");
        return value;
    }

    // One exchange that must complete with the given HTTP status; its reply.
    static Raw Exchanged(Result result, string path, int status)
    {
        Expect(result == Result.ExchangeComplete, "result " + (int)result + ", expected 999");
        Raw reply = Read(path);
        Expect(reply.Status == status, "HTTP " + reply.Status + ", expected " + status + ": " + reply.Body);
        replies.Add(path);
        return reply;
    }

    // The string members called name in a JSON text, in order.
    static ArrayList Fields(string json, string name)
    {
        ArrayList values = new ArrayList();
        foreach (Match m in Regex.Matches(json, "\"" + name + "\"\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*)\""))
        {
            values.Add(m.Groups[1].Value);
        }
        return values;
    }

    static string Field(string json, string name)
    {
        ArrayList values = Fields(json, name);
        Expect(values.Count > 0, "no " + name + " in " + json);
        return (string)values[0];
    }

    static void Untouch(string path)
    {
        using (StreamWriter writer = new StreamWriter(path, false)) writer.Write(Untouched);
    }

    static void ExpectUntouched(string path)
    {
        using (StreamReader reader = new StreamReader(path)) Expect(reader.ReadToEnd() == Untouched, "the file was changed");
    }

    // --- The nine exports --------------------------------------------------------

    static void TokenFromCode()
    {
        string path = InWork("token.http");
        Raw reply = Exchanged(TaskClient.GetToken(Env("TASKCLIENT_LOCAL_CODE"), Secret, ClientId, path), path, 200);
        firstAccessToken = accessToken = Field(reply.Body, "access_token");
        refreshToken = Field(reply.Body, "refresh_token");
        Expect(Field(reply.Body, "token_type") == "Bearer", "token_type is not Bearer");
    }

    static void SpentCodeRefused()
    {
        string path = InWork("token-again.http");
        Raw reply = Exchanged(TaskClient.GetToken(Env("TASKCLIENT_LOCAL_CODE"), Secret, ClientId, path), path, 400);
        Expect(Field(reply.Body, "error") == "invalid_grant", "error is not invalid_grant");
    }

    static void TokenFromPkceCode()
    {
        string path = InWork("token-pkce.http");
        Raw reply = Exchanged(TaskClient.GetTokenPkce(Env("TASKCLIENT_LOCAL_PKCE_CODE"), Secret, ClientId,
            Env("TASKCLIENT_LOCAL_REDIRECT_URI"), Env("TASKCLIENT_LOCAL_PKCE_VERIFIER"), path), path, 200);
        Field(reply.Body, "access_token");
        Field(reply.Body, "refresh_token");
    }

    static void Refresh()
    {
        string path = InWork("refresh.http");
        Raw reply = Exchanged(TaskClient.RefreshToken(refreshToken, Secret, ClientId, path), path, 200);
        accessToken = Field(reply.Body, "access_token");
        Expect(accessToken != firstAccessToken, "the same access token again");
        Expect(Fields(reply.Body, "refresh_token").Count == 0, "a refresh token in a refresh reply");
    }

    static void ListLists()
    {
        string path = InWork("lists.http");
        Raw reply = Exchanged(TaskClient.ListTaskLists(accessToken, path), path, 200);
        ArrayList titles = Fields(reply.Body, "title");
        ArrayList ids = Fields(reply.Body, "id");
        Expect(string.Join("|", (string[])titles.ToArray(typeof(string))) == "My Tasks|Groceries|Backlog",
            "lists: " + reply.Body);
        listId = (string)ids[0];
        backlogId = (string)ids[titles.IndexOf("Backlog")];
    }

    static void UnknownTokenRefused()
    {
        string path = InWork("lists-401.http");
        Raw reply = Exchanged(TaskClient.ListTaskLists("ya29.not-issued", path), path, 401);
        Expect(reply.Headers.IndexOf("WWW-Authenticate: Bearer") >= 0, "no WWW-Authenticate header");
    }

    const string Title = "Milch & Brot f\u00fcr morgen \u2014 10 \u20ac";

    static void AddTask()
    {
        string path = InWork("add.http");
        Raw reply = Exchanged(TaskClient.AddTask(accessToken, listId, Title, path), path, 200);
        Expect(Field(reply.Body, "title") == Title, "title came back as " + Field(reply.Body, "title"));
        Expect(Field(reply.Body, "status") == "needsAction", "status is not needsAction");
        taskId = Field(reply.Body, "id");
    }

    static void ListTasks()
    {
        string path = InWork("tasks.http");
        Raw reply = Exchanged(TaskClient.ListTasks(accessToken, listId, path), path, 200);
        Expect(Field(reply.Body, "kind") == "tasks#tasks", "not a list of tasks");
        Expect(Fields(reply.Body, "id").Contains(taskId), "the added task is not listed");
    }

    static void CompleteTask()
    {
        string path = InWork("complete.http");
        Raw reply = Exchanged(TaskClient.CompleteTask(accessToken, listId, taskId, path), path, 200);
        Expect(Field(reply.Body, "status") == "completed", "status is not completed");
        Field(reply.Body, "completed");
    }

    static void ListEveryPage()
    {
        string pageToken = "";
        int pages = 0, tasks = 0;
        do
        {
            pages++;
            string path = InWork("backlog-" + pages + ".http");
            Raw reply = Exchanged(TaskClient.ListTasksPage(accessToken, backlogId, pageToken, path), path, 200);
            tasks += Fields(reply.Body, "id").Count;
            ArrayList next = Fields(reply.Body, "nextPageToken");
            pageToken = next.Count > 0 ? (string)next[0] : null;
        } while (pageToken != null && pages < 10);
        Expect(pages == 2 && tasks == 120, pages + " pages, " + tasks + " tasks");
    }

    static void DeleteTask()
    {
        string path = InWork("delete.http");
        Raw reply = Exchanged(TaskClient.DeleteTask(accessToken, listId, taskId, path), path, 204);
        Expect(reply.Body.Length == 0, "a body with 204");
        path = InWork("delete-again.http");
        Exchanged(TaskClient.DeleteTask(accessToken, listId, taskId, path), path, 404);
    }

    // Every export with null first argument: refused before any networking.
    static void NullsRefused()
    {
        Call[] calls = new Call[] {
            delegate(string p) { return TaskClient.GetToken(null, Secret, ClientId, p); },
            delegate(string p) { return TaskClient.RefreshToken(null, Secret, ClientId, p); },
            delegate(string p) { return TaskClient.ListTaskLists(null, p); },
            delegate(string p) { return TaskClient.ListTasks(null, "list", p); },
            delegate(string p) { return TaskClient.AddTask(null, "list", "title", p); },
            delegate(string p) { return TaskClient.DeleteTask(null, "list", "task", p); },
            delegate(string p) { return TaskClient.GetTokenPkce(null, Secret, ClientId, "http://127.0.0.1", "", p); },
            delegate(string p) { return TaskClient.ListTasksPage(null, "list", "", p); },
            delegate(string p) { return TaskClient.CompleteTask(null, "list", "task", p); },
        };
        ExpectRefused(calls);
    }

    static void ExpectRefused(Call[] calls)
    {
        for (int i = 0; i < calls.Length; i++)
        {
            string path = InWork("refused-" + i + ".http");
            Untouch(path);
            Result result = calls[i](path);
            Expect(result == Result.BadArgument, "call " + (i + 1) + ": result " + result + ", expected 10");
            ExpectUntouched(path);
        }
    }

    static void UnopenableFileRefused()
    {
        Result result = TaskClient.ListTaskLists(accessToken, InWork("no-such-folder/lists.http"));
        Expect(result == Result.FileOpenFailed, "result " + (int)result + ", expected 27");
    }

    // --- Export 11: reading a response file (Reply.Read) ----------------------

    // Reply.Read, which must leave no temporary body file behind.
    // scripts/check-dotnet.sh gives the test a temporary folder of its own.
    static Reply ReadThrough(string path)
    {
        int before = Directory.GetFiles(Path.GetTempPath()).Length;
        Reply reply = Reply.Read(path);
        int after = Directory.GetFiles(Path.GetTempPath()).Length;
        Expect(after == before, (after - before) + " file(s) left in " + Path.GetTempPath());
        return reply;
    }

    static void ReadRepliesOfTheRun()
    {
        Expect(replies.Count >= 10, "too few replies to read: " + replies.Count);
        int successes = 0;
        foreach (string path in replies)
        {
            Raw expected = Read(path);
            string name = Path.GetFileName(path);
            Reply reply = ReadThrough(path);
            Expect(reply.Result == Result.ExchangeComplete, name + ": result " + (int)reply.Result);
            Expect(reply.Status == expected.Status, name + ": status " + reply.Status);
            Expect(reply.Body == expected.Body, name + ": the body differs");
            Expect(reply.IsSuccess == (expected.Status / 100 == 2), name + ": IsSuccess with " + reply.Status);
            if (reply.IsSuccess) successes++;
        }
        // Both sides of IsSuccess: 200 and 204, and 400, 401 and 404.
        Expect(successes > 0 && successes < replies.Count, successes + " of " + replies.Count + " succeeded");
    }

    // A reply that could not be read: the library's answer, no status, no body.
    static void ExpectUnread(Reply reply, Result expected)
    {
        Expect(reply.Result == expected, "result " + (int)reply.Result + ", expected " + (int)expected);
        Expect(reply.Status == 0 && !reply.IsSuccess, "status " + reply.Status);
        Expect(reply.Body == null, "a body: " + reply.Body);
    }

    static void ReadMissingFile()
    {
        ExpectUnread(ReadThrough(InWork("missing.http")), Result.FileOpenFailed);
    }

    static void ReadCutReply()
    {
        byte[] whole = ReadAll(InWork("lists.http"));
        string path = InWork("lists-cut.http");
        using (FileStream cut = new FileStream(path, FileMode.Create)) cut.Write(whole, 0, whole.Length - 40);
        ExpectUnread(ReadThrough(path), Result.ReplyCutShort);
    }

    static void ReadNullPath()
    {
        ExpectUnread(ReadThrough(null), Result.BadArgument);
    }

    static void ReadFields()
    {
        string body = InWork("lists-body.json");
        using (StreamWriter writer = new StreamWriter(body, false, new UTF8Encoding(false)))
            writer.Write(ReadThrough(InWork("lists.http")).Body);
        string[,] rows = {
            {"kind", "ExchangeComplete", "tasks#taskLists"},
            {"items.#", "ExchangeComplete", "3"},
            {"items.0.id", "ExchangeComplete", listId},
            {"items.9.id", "FieldMissing", null},
            {"nothing", "FieldMissing", null},
            {"items..id", "BadArgument", null},
        };
        for (int i = 0; i < rows.GetLength(0); i++)
        {
            string value;
            Result result = TaskClient.ReadField(body, rows[i, 0], out value);
            Expect(result.ToString() == rows[i, 1], rows[i, 0] + ": " + result);
            Expect(value == rows[i, 2], rows[i, 0] + ": \"" + value + "\"");
        }
        string text;
        Expect(TaskClient.ReadField(body, "items.0", out text) == Result.ExchangeComplete && text.StartsWith("{")
            && text.EndsWith("}"), "an object as its JSON text: " + text);
        Expect(TaskClient.ReadField(InWork("missing.json"), "kind", out text) == Result.FileOpenFailed, "a missing body");
        Expect(TaskClient.ReadField(InWork("lists.http"), "kind", out text) == Result.ReplyCutShort,
            "a response file, head and all, is no JSON body");
    }

    // --- Export 10: any request (checked with the test's own reader) -----------

    static void RequestGet()
    {
        string path = InWork("request-lists.http");
        Raw reply = Exchanged(TaskClient.Request(accessToken, "GET", "/tasks/v1/users/@me/lists", null, path), path, 200);
        Expect(Fields(reply.Body, "id").Contains(backlogId), "Backlog is not listed");
    }

    static void RequestWriteCycle()
    {
        string tasks = "/tasks/v1/lists/" + listId + "/tasks";
        string path = InWork("request-post.http");
        Raw reply = Exchanged(TaskClient.Request(accessToken, "POST", tasks,
            "{\"title\": \"Request \u00fc\"}", path), path, 200);
        Expect(Field(reply.Body, "title") == "Request \u00fc", "title came back as " + Field(reply.Body, "title"));
        string task = tasks + "/" + Field(reply.Body, "id");

        path = InWork("request-patch.http");
        reply = Exchanged(TaskClient.Request(accessToken, "PATCH", task, "{\"title\": \"Renamed\"}", path), path, 200);
        Expect(Field(reply.Body, "title") == "Renamed", "not renamed");

        path = InWork("request-delete.http");
        Exchanged(TaskClient.Request(accessToken, "DELETE", task, null, path), path, 204);
        path = InWork("request-delete-again.http");
        Exchanged(TaskClient.Request(accessToken, "DELETE", task, null, path), path, 404);
    }

    static void RequestBadInputRefused()
    {
        Call[] calls = new Call[] {
            delegate(string p) { return TaskClient.Request(null, "GET", "/tasks/v1/users/@me/lists", null, p); },
            delegate(string p) { return TaskClient.Request(accessToken, null, "/tasks/v1/users/@me/lists", null, p); },
            delegate(string p) { return TaskClient.Request(accessToken, "GET", null, null, p); },
            delegate(string p) { return TaskClient.Request(accessToken, "GET", "/tasks/v1/users/@me/lists\r\nX: y", null, p); },
            delegate(string p) { return TaskClient.Request("ya29\r\nX: y", "GET", "/tasks/v1/users/@me/lists", null, p); },
        };
        ExpectRefused(calls);
        Result result = TaskClient.Request(accessToken, "GET", "/tasks/v1/users/@me/lists", null, null);
        Expect(result == Result.BadArgument, "null response path: result " + (int)result);
    }

    static void RequestOutsideTasksRefused()
    {
        string path = InWork("request-token.http");
        Untouch(path);
        Result result = TaskClient.Request(accessToken, "POST", "/oauth2/v3/token", "{}", path);
        Expect(result != Result.ExchangeComplete, "sent");
        ExpectUntouched(path);
    }

    // --- Exports 13 and 14: a sequence in one call, read back reply by reply ----

    static void WriteRequests(string path, string text)
    {
        using (StreamWriter writer = new StreamWriter(path, false, new UTF8Encoding(false))) writer.Write(text);
    }

    static void RequestsSequence()
    {
        string tasks = "/tasks/v1/lists/" + listId + "/tasks";
        string requests = InWork("add.requests"), path = InWork("add-sequence.http");
        WriteRequests(requests, "POST " + tasks + " {\"title\": \"Sequence \u00fc\"}\n");
        Expect(TaskClient.Requests(accessToken, requests, path) == Result.ExchangeComplete, "the POST");
        Reply added = Reply.ReadAt(path, 0);
        Expect(added.Status == 200 && Field(added.Body, "title") == "Sequence \u00fc", "added: " + added.Body);
        string task = tasks + "/" + Field(added.Body, "id");

        requests = InWork("cycle.requests");
        path = InWork("cycle-sequence.http");
        WriteRequests(requests, "PATCH " + task + " {\"status\": \"completed\"}\r\nGET " + task + "\r\nDELETE " + task +
            "\r\nDELETE " + task + "\r\n");
        Expect(TaskClient.Requests(accessToken, requests, path) == Result.ExchangeComplete, "the sequence");
        int[] statuses = { 200, 200, 204, 404 };
        for (int i = 0; i < statuses.Length; i++)
        {
            Reply reply = Reply.ReadAt(path, i);
            Expect(reply.Result == Result.ExchangeComplete && reply.Status == statuses[i],
                "reply " + i + ": " + reply.Result + ", HTTP " + reply.Status);
        }
        Expect(Field(Reply.ReadAt(path, 1).Body, "status") == "completed", "the GET after the PATCH sees it");
        Expect(Reply.ReadAt(path, 0).Body == Reply.Read(path).Body, "index 0 is what Read reads");
        Reply none = Reply.ReadAt(path, 4);
        Expect(none.Result == Result.NoSuchReply && none.Status == 0 && none.Body == null, "past the last: " + none.Result);
        Expect(Reply.ReadAt(path, -1).Result == Result.BadArgument, "a negative index");
    }

    static void RequestsRefused()
    {
        string requests = InWork("refused.requests");
        WriteRequests(requests, "GET /tasks/v1/users/@me/lists\nget /tasks/v1/users/@me/lists\n");
        Call[] calls = new Call[] {
            delegate(string p) { return TaskClient.Requests(null, requests, p); },
            delegate(string p) { return TaskClient.Requests(accessToken, null, p); },
            delegate(string p) { return TaskClient.Requests(accessToken, requests, p); },
        };
        ExpectRefused(calls);
        Expect(TaskClient.Requests(accessToken, requests, null) == Result.BadArgument, "null response path");
    }
}
