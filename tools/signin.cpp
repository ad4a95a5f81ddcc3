#include "signin.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>

namespace tools {

std::string Base64Url(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned long group = static_cast<unsigned long>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<unsigned long>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned long group = static_cast<unsigned long>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) group |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    if (rest == 2) out += kAlphabet[(group >> 6) & 63];
  }
  return out;
}

std::string PkceChallenge(std::string_view verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(verifier.data(), verifier.size(), digest, &size, EVP_sha256(), nullptr) != 1) std::abort();
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), size));
}

std::string MakePkceVerifier() {
  unsigned char random[32];
  if (RAND_bytes(random, sizeof random) != 1) std::abort();
  return Base64Url(std::string_view(reinterpret_cast<const char*>(random), sizeof random));
}

const char kTasksScope[] = "https://www.googleapis.com/auth/tasks";

std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char byte : text) {
    unsigned char c = static_cast<unsigned char>(byte);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += byte;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string AuthorizationUrl(std::string_view page, std::string_view clientId, std::string_view redirectUri,
                             std::string_view codeChallenge) {
  std::string url = std::string(page) + "?response_type=code&client_id=" + PercentEncode(clientId) +
                    "&redirect_uri=" + PercentEncode(redirectUri) + "&scope=" + PercentEncode(kTasksScope);
  if (!codeChallenge.empty()) url += "&code_challenge=" + PercentEncode(codeChallenge) + "&code_challenge_method=S256";
  return url;
}

bool IsPkceVerifier(std::string_view verifier) {
  if (verifier.size() < 43 || verifier.size() > 128) return false;
  for (char c : verifier) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (!unreserved) return false;
  }
  return true;
}

}  // namespace tools
