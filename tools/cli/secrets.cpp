#include "cli/secrets.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

namespace cli {

bool ReadSecret(const std::string& name, const std::string& value, std::string* secret, std::string* error) {
  if (value.size() < 2 || value[0] != '@') {
    *secret = value;
    return true;
  }
  const std::string source = value.substr(1);
  bool read = false;
  if (source == "-") {
    read = static_cast<bool>(std::getline(std::cin, *secret));
  } else {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      *error = "cannot read " + name + " from " + source + ": " + std::strerror(errno);
      return false;
    }
    read = static_cast<bool>(std::getline(in, *secret));
  }
  if (!secret->empty() && secret->back() == '\r') secret->pop_back();
  if (!read || secret->empty()) {
    *error = name + " from " + (source == "-" ? "standard input" : source) + " is empty";
    return false;
  }
  return true;
}

bool IsText(const std::string& argument) { return argument == "title" || argument == "[jsonBody]"; }

bool ReadText(const std::string& name, std::string* value, std::string* error) {
  if (value->size() < 2 || (*value)[0] != '@') return true;
  if ((*value)[1] == '@') {
    value->erase(0, 1);
    return true;
  }
  const std::string source = value->substr(1);
  std::string text;
  if (source == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      *error = "cannot read " + name + " from " + source + ": " + std::strerror(errno);
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (name == "title") {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  *value = text;
  return true;
}

bool IsSecret(const std::string& argument) {
  return argument.find("Token") != std::string::npos || argument.find("Secret") != std::string::npos ||
         argument.find("Code") != std::string::npos;
}

}  // namespace cli
