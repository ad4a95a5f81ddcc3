// The local stand-in for the task service. Requests are read strictly by the
// shared TLS server (CRLF line ends, a body of exactly Content-Length bytes);
// a request that breaks those rules gets 400 and the connection is closed, so
// a malformed request fails loudly. Each route in kRoutes below is one method,
// one path pattern and one handler: adding an operation is adding a line to
// kRoutes and its handler, in the file of its group (local_service_store.h).
#include "local_service.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "local_service_store.h"

namespace tools {

namespace {

using testsupport::HttpRequest;
using testsupport::TlsStream;

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

std::string HttpDate() { return UtcNow("%a, %d %b %Y %H:%M:%S GMT"); }

Response Unauthenticated() {
  Response response = ApiError(
      401, "UNAUTHENTICATED", "authError",
      "Request had invalid authentication credentials. Expected OAuth 2 access token, login cookie or other valid "
      "authentication credential.");
  response.extraHeaders.emplace_back("WWW-Authenticate",
                                     "Bearer realm=\"https://accounts.google.com/\", error=\"invalid_token\"");
  return response;
}

}  // namespace

std::vector<std::string> LocalService::Impl::Split(const std::string& path) {
  std::vector<std::string> segments;
  size_t position = 1;  // past the leading '/'
  while (position <= path.size()) {
    size_t end = std::min(path.find('/', position), path.size());
    segments.push_back(path.substr(position, end - position));
    position = end + 1;
  }
  return segments;
}

bool LocalService::Impl::Matches(const char* pattern, Call* call) {
  std::vector<std::string> parts = Split(pattern);
  if (parts.size() != call->segments.size()) return false;
  std::map<std::string, std::string> captured;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.size() > 2 && part.front() == '{' && part.back() == '}') {
      captured[part.substr(1, part.size() - 2)] = call->segments[i];
    } else if (part != call->segments[i]) {
      return false;
    }
  }
  call->captured = std::move(captured);
  return true;
}

Response LocalService::Impl::Dispatch(const HttpRequest& http) {
  if (http.headers.count("host") == 0) return BadRequest("The Host header is missing.");
  if ((http.method == "POST" || http.method == "PATCH" || http.method == "PUT") &&
      http.headers.count("content-length") == 0) {
    return ApiError(411, "INVALID_ARGUMENT", "lengthRequired", "A request with a body needs a Content-Length.");
  }
  if (http.target.empty() || http.target[0] != '/') return BadRequest("Malformed request target.");
  Call call{http, {}, {}, {}};
  size_t question = http.target.find('?');
  if (question != std::string::npos && !ParseFields(http.target.substr(question + 1), &call.query)) {
    return BadRequest("Malformed query string.");
  }
  for (const std::string& raw : Split(http.target.substr(0, question))) {
    std::string segment;
    if (!PercentDecode(raw, false, &segment)) return BadRequest("Malformed escape in the path.");
    call.segments.push_back(segment);
  }
  bool pathKnown = false;
  for (const Route* route = kRoutes; route->method; ++route) {
    if (!Matches(route->pattern, &call)) continue;
    pathKnown = true;
    if (http.method != route->method) continue;
    if (route->bearer) {
      auto authorization = http.headers.find("authorization");
      const std::string prefix = "Bearer ";
      if (authorization == http.headers.end() || authorization->second.compare(0, prefix.size(), prefix) != 0 ||
          accessTokens.count(authorization->second.substr(prefix.size())) == 0) {
        return Unauthenticated();
      }
      if (failuresLeft > 0) {
        --failuresLeft;
        return ServiceFailure(failureStatus);
      }
    }
    return (this->*(route->handler))(call);
  }
  if (pathKnown) {
    return ApiError(405, "INVALID_ARGUMENT", "methodNotAllowed", "Method " + http.method + " is not allowed here.");
  }
  return NotFound();
}

// Head in one write, then the body in chunks of several writes, as the
// service sends them.
bool LocalService::Impl::Send(TlsStream& stream, const Response& response) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
  if (!response.body.empty()) head += "Content-Type: application/json; charset=UTF-8\r\n";
  head += "Vary: Origin\r\nVary: X-Origin\r\nVary: Referer\r\nDate: " + HttpDate() +
          "\r\nServer: taskclient-local-service\r\nCache-Control: private\r\nX-Content-Type-Options: nosniff\r\n";
  for (const auto& header : response.extraHeaders) head += header.first + ": " + header.second + "\r\n";
  if (response.close) head += "Connection: close\r\n";
  if (response.body.empty()) {
    // 204 has no body by definition; any other status says it has none.
    if (response.status != 204) head += "Content-Length: 0\r\n";
    return stream.Write(head + "\r\n");
  }
  head += "Transfer-Encoding: chunked\r\n\r\n";
  if (!stream.Write(head)) return false;
  const size_t pieces = 3;
  const size_t size = (response.body.size() + pieces - 1) / pieces;
  for (size_t at = 0; at < response.body.size(); at += size) {
    std::string piece = response.body.substr(at, size);
    char length[16];
    std::snprintf(length, sizeof length, "%zx\r\n", piece.size());
    if (!stream.Write(length + piece + "\r\n")) return false;
  }
  return stream.Write("0\r\n\r\n");
}

void LocalService::Impl::Log(const std::string& line) {
  if (options.log) std::fprintf(stderr, "local service: %s\n", line.c_str());
}

// One connection: requests one after another until the client closes or a
// request breaks the rules.
void LocalService::Impl::Handle(TlsStream& stream) {
  for (;;) {
    std::string error;
    std::optional<HttpRequest> request = stream.ReadRequest(options.readTimeoutMs, &error);
    if (!request) {
      if (error == "no request") return;  // closed, or idle for too long
      std::lock_guard<std::mutex> lock(mutex);
      Log("refused a malformed request (" + error + ")");
      Response response = BadRequest("Malformed request: " + error + ".");
      response.close = true;
      Send(stream, response);
      return;
    }
    Response response;
    {
      std::lock_guard<std::mutex> lock(mutex);
      response = Dispatch(*request);
      Log(request->method + " " + request->target.substr(0, 120) + " -> " + std::to_string(response.status));
    }
    auto connection = request->headers.find("connection");
    if (connection != request->headers.end() && Lower(connection->second) == "close") response.close = true;
    if (!Send(stream, response) || response.close) return;
  }
}

const LocalService::Impl::Route LocalService::Impl::kRoutes[] = {
    {"GET", "/o/oauth2/v2/auth", false, &Impl::Authorize},
    {"POST", "/oauth2/v3/token", false, &Impl::Token},
    {"GET", "/tasks/v1/users/@me/lists", true, &Impl::ListTaskLists},
    {"POST", "/tasks/v1/users/@me/lists", true, &Impl::InsertTaskList},
    {"GET", "/tasks/v1/users/@me/lists/{list}", true, &Impl::GetTaskList},
    {"PUT", "/tasks/v1/users/@me/lists/{list}", true, &Impl::UpdateTaskList},
    {"PATCH", "/tasks/v1/users/@me/lists/{list}", true, &Impl::PatchTaskList},
    {"DELETE", "/tasks/v1/users/@me/lists/{list}", true, &Impl::DeleteTaskList},
    {"GET", "/tasks/v1/lists/{list}/tasks", true, &Impl::ListTasks},
    {"POST", "/tasks/v1/lists/{list}/tasks", true, &Impl::InsertTask},
    {"POST", "/tasks/v1/lists/{list}/clear", true, &Impl::ClearTasks},
    {"GET", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::GetTask},
    {"PUT", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::UpdateTask},
    {"PATCH", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::PatchTask},
    {"DELETE", "/tasks/v1/lists/{list}/tasks/{task}", true, &Impl::DeleteTask},
    {"POST", "/tasks/v1/lists/{list}/tasks/{task}/move", true, &Impl::MoveTask},
    {nullptr, nullptr, false, nullptr},
};

LocalService::LocalService(LocalServiceOptions options) : impl_(new Impl(std::move(options))) {
  Impl* impl = impl_.get();
  impl->server.reset(new testsupport::TlsServer([impl](TlsStream& stream) { impl->Handle(stream); },
                                                impl->options.port));
  impl->port = impl->server->port();
}

LocalService::~LocalService() { Stop(); }

uint16_t LocalService::port() const { return impl_->port.load(); }

std::string LocalService::authorizationCode() const { return impl_->firstCode; }

std::string LocalService::IssueAuthorizationCode() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::string code = impl_->MakeCode();
  impl_->authorizationCodes[code] = IssuedCode{kOutOfBandRedirect, ""};
  return code;
}

std::string LocalService::IssueLoopbackCode(const std::string& redirectUri, const std::string& codeChallenge) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::string code = impl_->MakeCode();
  impl_->authorizationCodes[code] = IssuedCode{redirectUri, codeChallenge};
  return code;
}

void LocalService::FailNextRequests(int count, int status) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->FailNext(count, status);
}

void LocalService::Stop() {
  if (impl_->server) impl_->server->Stop();
}

}  // namespace tools
