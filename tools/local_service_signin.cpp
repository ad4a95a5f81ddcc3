// The stand-in's sign-in routes: the token path (an authorization code or a
// refresh token for tokens) and the sign-in page (a code for a loopback
// redirect, optionally with PKCE).
#include "local_service_store.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tools {

namespace {

// A loopback redirect as installed applications use them: "http://", then
// 127.0.0.1, [::1] or localhost, an optional port, an optional path; no
// query, no fragment.
bool IsLoopbackRedirect(const std::string& uri) {
  const std::string scheme = "http://";
  if (uri.compare(0, scheme.size(), scheme) != 0) return false;
  const std::string rest = uri.substr(scheme.size());
  if (rest.find_first_of("?#") != std::string::npos) return false;
  const std::string authority = rest.substr(0, rest.find('/'));
  std::string host = authority;
  const size_t bracket = authority.find(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {  // a port follows
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !IsDigits(port)) return false;
    const long number = std::stol(port);
    if (number < 1 || number > 65535) return false;
    host = authority.substr(0, colon);
  }
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

// The token path's own error form.
Response TokenError(int status, const std::string& error, const std::string& description) {
  Response response;
  response.status = status;
  response.body = "{\n  \"error\": " + JsonQuote(error) + ",\n  \"error_description\": " + JsonQuote(description) +
                  "\n}";
  return response;
}

}  // namespace

Response LocalService::Impl::Token(Call& call) {
  auto type = call.http.headers.find("content-type");
  if (type == call.http.headers.end() || Lower(type->second).find("application/x-www-form-urlencoded") != 0) {
    return TokenError(400, "invalid_request", "Content-Type must be application/x-www-form-urlencoded.");
  }
  std::map<std::string, std::string> form;
  if (!ParseFields(call.http.body, &form)) return TokenError(400, "invalid_request", "Malformed form body.");
  auto field = [&](const char* name) {
    auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
  };
  if (field("client_id").empty()) return TokenError(401, "invalid_client", "The OAuth client was not found.");
  if (field("client_secret").empty()) return TokenError(400, "invalid_request", "client_secret is missing.");
  std::string grant = field("grant_type");
  bool issueRefresh;
  if (grant == "authorization_code") {
    // A code is good for one attempt: any exchange that names it spends it.
    auto issued = authorizationCodes.find(field("code"));
    if (issued == authorizationCodes.end()) return TokenError(400, "invalid_grant", "Malformed auth code.");
    const IssuedCode code = issued->second;
    authorizationCodes.erase(issued);
    if (field("redirect_uri") != code.redirectUri) return TokenError(400, "redirect_uri_mismatch", "Bad Request");
    const bool hasVerifier = form.count("code_verifier") != 0;
    if (code.codeChallenge.empty() && hasVerifier) {
      return TokenError(400, "invalid_grant", "code_verifier given for a code issued without code_challenge.");
    }
    if (!code.codeChallenge.empty()) {
      if (!hasVerifier) return TokenError(400, "invalid_grant", "Missing code verifier.");
      const std::string verifier = field("code_verifier");
      if (!IsPkceVerifier(verifier) || PkceChallenge(verifier) != code.codeChallenge) {
        return TokenError(400, "invalid_grant", "Invalid code verifier.");
      }
    }
    issueRefresh = true;
  } else if (grant == "refresh_token") {
    if (refreshTokens.count(field("refresh_token")) == 0) {
      return TokenError(400, "invalid_grant", "Token has been expired or revoked.");
    }
    issueRefresh = false;  // the service keeps the refresh token and sends none
  } else {
    return TokenError(400, "unsupported_grant_type", "Invalid grant_type: " + grant);
  }
  std::string access = "ya29.local-" + MakeId(100);
  accessTokens.insert(access);
  Response response;
  response.body = "{\n  \"access_token\": " + JsonQuote(access) + ",\n  \"expires_in\": 3599,\n";
  if (issueRefresh) {
    std::string refresh = "1//local-" + MakeId(90);
    refreshTokens.insert(refresh);
    response.body += "  \"refresh_token\": " + JsonQuote(refresh) + ",\n";
  }
  response.body += std::string("  \"scope\": \"") + kTasksScope + "\",\n  \"token_type\": \"Bearer\"\n}";
  return response;
}

// The sign-in page, with the user's consent taken as given: checks the
// authorization request of an installed application (loopback redirect,
// optionally PKCE with S256) and redirects to the loopback address with a
// fresh code, as the browser would be.
Response LocalService::Impl::Authorize(Call& call) {
  auto field = [&](const char* name) {
    auto found = call.query.find(name);
    return found == call.query.end() ? std::string() : found->second;
  };
  if (field("client_id").empty()) return TokenError(401, "invalid_client", "The OAuth client was not found.");
  const std::string redirect = field("redirect_uri");
  if (!IsLoopbackRedirect(redirect)) {
    return TokenError(400, "invalid_request",
                      "redirect_uri must be a loopback address: http://127.0.0.1:PORT or http://localhost[:PORT].");
  }
  if (field("response_type") != "code") {
    return TokenError(400, "unsupported_response_type", "response_type must be code.");
  }
  bool tasksScope = false;
  const std::string scope = field("scope");
  for (size_t at = 0; at <= scope.size();) {
    size_t end = std::min(scope.find(' ', at), scope.size());
    tasksScope = tasksScope || scope.substr(at, end - at) == kTasksScope;
    at = end + 1;
  }
  if (!tasksScope) return TokenError(400, "invalid_scope", std::string("scope must include ") + kTasksScope + ".");
  const std::string challenge = field("code_challenge");
  const std::string method = field("code_challenge_method");
  if (!challenge.empty() || !method.empty()) {
    if (method != "S256") return TokenError(400, "invalid_request", "code_challenge_method must be S256.");
    if (challenge.size() != 43 || !std::all_of(challenge.begin(), challenge.end(), [](unsigned char c) {
          return std::isalnum(c) || c == '-' || c == '_';
        })) {
      return TokenError(400, "invalid_request", "Invalid code_challenge.");
    }
  }
  const std::string code = MakeCode();
  authorizationCodes[code] = IssuedCode{redirect, challenge};
  const bool hasPath = redirect.find('/', std::strlen("http://")) != std::string::npos;
  std::string location = redirect + (hasPath ? "?" : "/?");
  if (call.query.count("state")) location += "state=" + PercentEncode(field("state")) + "&";
  location += "code=" + PercentEncode(code) + "&scope=" + PercentEncode(kTasksScope);
  Response response;
  response.status = 302;
  response.extraHeaders.emplace_back("Location", location);
  return response;
}

}  // namespace tools
