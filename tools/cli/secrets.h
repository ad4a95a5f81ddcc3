// Secrets and texts given as @FILE or @-: tokens, client secrets, codes and
// verifiers (a file's or standard input's first line), titles and request
// bodies (the whole file or input).
#pragma once

#include <string>

namespace cli {

// A secret argument's value: VALUE itself, or from @FILE the file's first
// line, from @- the first line of standard input, without the line end.
// False with *error when it cannot be read or is empty.
bool ReadSecret(const std::string& name, const std::string& value, std::string* secret, std::string* error);

// Whether the argument is a text: a title or a request body.
bool IsText(const std::string& argument);

// A title or a request body: from @FILE or @- the whole of the file or of
// standard input (a title without one line end at its end); "@@..." stands
// for the text "@...". False with *error when it cannot be read.
bool ReadText(const std::string& name, std::string* value, std::string* error);

// Whether the argument is a secret: accessToken, refreshToken, clientSecret,
// authorizationCode.
bool IsSecret(const std::string& argument);

}  // namespace cli
