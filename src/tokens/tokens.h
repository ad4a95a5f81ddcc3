// The two requests to the service's OAuth 2.0 token path.
#ifndef TASKCLIENT_TOKENS_TOKENS_H
#define TASKCLIENT_TOKENS_TOKENS_H

#include <stdint.h>

#include "exchange/request.h"
#include "platform/platform.h"

namespace taskclient {

// Exchanges an authorization code for tokens (out-of-band redirect).
int32_t GetToken(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                 const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath);

// Obtains a fresh access token with a refresh token.
int32_t RefreshToken(Platform& platform, const Service& service, const tc_text16* refreshToken,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath);

// Exchanges an authorization code obtained with a loopback redirect and PKCE.
// An empty code verifier leaves the field out.
int32_t GetTokenPkce(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* redirectUri,
                     const tc_text16* codeVerifier, const tc_text16* responsePath);

}  // namespace taskclient

#endif
