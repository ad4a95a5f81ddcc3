// The sign-in of an installed application with a loopback redirect and PKCE
// (RFC 7636): the code verifier a client keeps, the S256 code challenge it
// sends, and the authorization URL the user opens. The command-line tool
// makes them; the local stand-in for the service checks them. C++17 over
// OpenSSL: not device code.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// BASE64URL(SHA-256(verifier)) without padding: the "S256" code challenge.
std::string PkceChallenge(std::string_view verifier);

// A fresh verifier: 32 random bytes as base64url, 43 characters.
std::string MakePkceVerifier();

// True for 43 to 128 characters of A-Z a-z 0-9 - . _ ~, the verifier's form.
bool IsPkceVerifier(std::string_view verifier);

// Bytes as base64url without padding.
std::string Base64Url(std::string_view bytes);

// Every byte but A-Z a-z 0-9 - . _ ~ as %XX, for a query value.
std::string PercentEncode(std::string_view text);

// The scope that grants the task lists and tasks.
extern const char kTasksScope[];

// The authorization request of an installed application: `page` (the sign-in
// page, e.g. "https://accounts.google.com/o/oauth2/v2/auth") with
// response_type=code, client_id, redirect_uri, scope and, when `codeChallenge`
// is not empty, code_challenge with code_challenge_method=S256.
std::string AuthorizationUrl(std::string_view page, std::string_view clientId, std::string_view redirectUri,
                             std::string_view codeChallenge);

}  // namespace tools
