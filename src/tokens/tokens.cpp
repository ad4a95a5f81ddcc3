#include "tokens/tokens.h"

#include <string.h>

#include "exchange/arguments.h"
#include "exchange/exchange.h"
#include "text/escape.h"

namespace taskclient {

namespace {

const char kTokenPath[] = "/oauth2/v3/token";
const char kOutOfBandRedirect[] = "urn:ietf:wg:oauth:2.0:oob";

// One field of a form body: its name with the separator before it, and either
// the caller's value or a fixed one.
struct FormField {
  const char* name;
  const tc_text16* value;
  const char* fixedValue;
  bool omitWhenEmpty;  // an empty value leaves out the whole field
};

// Builds the form body field by field, each value encoded straight into the
// body, and posts it to the token path. Nothing is sent unless every value is
// present and the whole body fits.
Result PostForm(Platform& platform, const Service& service, const FormField* fields, size_t count,
                 const tc_text16* responsePath) {
  if (!responsePath) return kBadArgument;
  for (size_t i = 0; i < count; ++i) {
    if (!fields[i].fixedValue && !fields[i].value) return kBadArgument;
  }

  FixedText<kBodyCapacity> body;
  for (size_t i = 0; i < count; ++i) {
    if (fields[i].fixedValue) {
      body.Append(fields[i].name);
      FormEncode(fields[i].fixedValue, strlen(fields[i].fixedValue), &body);
    } else {
      FixedText<kBodyCapacity> value;
      Result result = NarrowArgument(platform, fields[i].value, &value);
      if (result != kOk) return result;
      if (value.size() == 0 && fields[i].omitWhenEmpty) continue;
      body.Append(fields[i].name);
      FormEncode(value.data(), value.size(), &body);
    }
    if (body.overflowed()) return kTooLong;
  }

  FixedText<kPathCapacity> path;
  path.Append(kTokenPath);
  RequestParts parts = {"POST ", &path, service.host, 0, kFormContentType, &body};
  return SendRequest(platform, service, parts, responsePath);
}

}  // namespace

Result GetToken(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                 const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath) {
  const FormField fields[] = {
      {"code=", authorizationCode, 0, false},
      {"&client_secret=", clientSecret, 0, false},
      {"&client_id=", clientId, 0, false},
      {"&redirect_uri=", 0, kOutOfBandRedirect, false},
      {"&grant_type=", 0, "authorization_code", false},
  };
  return PostForm(platform, service, fields, sizeof fields / sizeof fields[0], responsePath);
}

Result RefreshToken(Platform& platform, const Service& service, const tc_text16* refreshToken,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* responsePath) {
  // The service expects the client id first, although it is the third argument.
  const FormField fields[] = {
      {"client_id=", clientId, 0, false},
      {"&client_secret=", clientSecret, 0, false},
      {"&refresh_token=", refreshToken, 0, false},
      {"&grant_type=", 0, "refresh_token", false},
  };
  return PostForm(platform, service, fields, sizeof fields / sizeof fields[0], responsePath);
}

Result GetTokenPkce(Platform& platform, const Service& service, const tc_text16* authorizationCode,
                     const tc_text16* clientSecret, const tc_text16* clientId, const tc_text16* redirectUri,
                     const tc_text16* codeVerifier, const tc_text16* responsePath) {
  const FormField fields[] = {
      {"code=", authorizationCode, 0, false},
      {"&client_secret=", clientSecret, 0, false},
      {"&client_id=", clientId, 0, false},
      {"&redirect_uri=", redirectUri, 0, false},
      {"&grant_type=", 0, "authorization_code", false},
      {"&code_verifier=", codeVerifier, 0, true},
  };
  return PostForm(platform, service, fields, sizeof fields / sizeof fields[0], responsePath);
}

}  // namespace taskclient
