// The two requests to the service's OAuth 2.0 token path.
#ifndef TASKCLIENT_TOKENS_TOKENS_H
#define TASKCLIENT_TOKENS_TOKENS_H

#include "portable.h"
#include "result.h"
#include "exchange/service.h"
#include "platform/platform.h"

namespace taskclient {

// Exchanges an authorization code for tokens (out-of-band redirect).
Result GetToken(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                 const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath);

// Obtains a fresh access token with a refresh token.
Result RefreshToken(Platform& platform, const Service& service, const tc_text16* refreshToken,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath);

// Exchanges an authorization code obtained with a loopback redirect and PKCE.
// An empty code verifier leaves the field out.
Result GetTokenPkce(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* redirectUri,
                     const tc_text16* codeVerifier, const tc_text16* responsePath);

}  // namespace taskclient

#endif
