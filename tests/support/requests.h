// The exact bytes of the requests the library sends to a service at
// 127.0.0.1, to compare with what a server or a scripted platform received.
#pragma once

#include <string>

namespace testsupport {

// A request without a body (GET, DELETE).
inline std::string Bodiless(const std::string& method, const std::string& target, const std::string& token) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
         "\r\nAccept: */*\r\n\r\n";
}

// A request with a JSON body (POST to add a task, PATCH to complete one).
inline std::string JsonRequest(const std::string& method, const std::string& target, const std::string& body,
                               const std::string& token = "tok") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
         "\r\nContent-Type: application/json\r\nAccept: */*\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// A POST, PUT or PATCH without a body: its length says so.
inline std::string EmptyBodied(const std::string& method, const std::string& target, const std::string& token) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
         "\r\nAccept: */*\r\nContent-Length: 0\r\n\r\n";
}

// A form body to the token endpoint.
inline std::string FormRequest(const std::string& body) {
  return "POST /oauth2/v3/token HTTP/1.1\r\nHost: 127.0.0.1\r\n"
         "Content-type: application/x-www-form-urlencoded\r\nAccept: */*\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace testsupport
