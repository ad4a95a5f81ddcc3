// The result codes are told in four places besides tools/result_codes.h: the
// comments of include/taskclient.h, README.md's table, the Result enum of the
// .NET binding, and the command-line tool's --verbose line, which is made
// from the table. Each must give every code of the table, and no other, with
// the same number, name and meaning.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>

#include "result_codes.h"
#include "testing/text16.h"

namespace {

struct Told {
  int code = -1;
  std::string meaning;
};
typedef std::map<std::string, Told> Codes;  // by the header's name

std::string Source(const std::string& path) {
  return testsupport::ReadFile(std::string(TASKCLIENT_SOURCE_DIR) + "/" + path);
}

// Words separated by single spaces, without comment marks (a "*" or "//"
// that begins a line) or Markdown's backquotes.
std::string Words(const std::string& text) {
  std::string words;
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (lineStart && (c == ' ' || c == '*' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/'))) {
      if (c == '/') ++i;
      continue;
    }
    lineStart = c == '\n';
    if (c == '`') continue;
    if (c == ' ' || c == '\n' || c == '\t') {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += c;
    }
  }
  while (!words.empty() && words.back() == ' ') words.pop_back();
  return words;
}

// TC_TLS_MODE_FAILED as the .NET enum names it: TlsModeFailed.
std::string DotNetName(const std::string& name) {
  std::string camel;
  bool upper = true;
  for (char c : name.substr(3)) {
    if (c == '_') {
      upper = true;
    } else {
      camel += upper ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      upper = false;
    }
  }
  return camel;
}

// "/* meaning */" right before each "#define TC_NAME N".
Codes FromHeader(const std::string& text) {
  Codes codes;
  for (size_t at = text.find("\n#define TC_"); at != std::string::npos; at = text.find("\n#define TC_", at + 1)) {
    const size_t nameAt = at + 9, space = text.find(' ', nameAt), end = text.find('\n', space);
    Told& told = codes[text.substr(nameAt, space - nameAt)];
    told.code = std::atoi(text.c_str() + space + 1);
    const size_t close = text.rfind("*/", at), open = text.rfind("/*", at);
    if (close != std::string::npos && close + 2 == at && open != std::string::npos) {
      told.meaning = Words(text.substr(open + 2, close - open - 2));
    }
    at = end - 1;
  }
  return codes;
}

// The rows "| N | `TC_NAME` | meaning |" under "| code | name | meaning |".
Codes FromReadme(const std::string& text) {
  Codes codes;
  size_t at = text.find("\n| code | name | meaning |\n");
  if (at == std::string::npos) return codes;
  at = text.find('\n', text.find('\n', at + 1) + 1);  // past the header and its rule
  while (at != std::string::npos && text.compare(at + 1, 2, "| ") == 0) {
    const size_t end = text.find('\n', at + 1);
    const std::string row = text.substr(at + 1, end - at - 1);
    const size_t first = row.find(" | "), second = row.find(" | ", first + 3);
    if (second != std::string::npos && row.size() >= 2 && row.compare(row.size() - 2, 2, " |") == 0) {
      Told& told = codes[Words(row.substr(first + 3, second - first - 3))];
      told.code = std::atoi(row.c_str() + 2);
      told.meaning = Words(row.substr(second + 3, row.size() - 2 - second - 3));
    }
    at = end;
  }
  return codes;
}

// "// meaning" lines, then "Name = N," in the enum Result.
Codes FromDotNet(const std::string& text, const Codes& names) {
  Codes codes;
  const size_t begin = text.find("public enum Result"), end = text.find('}', begin);
  if (begin == std::string::npos) return codes;
  std::map<std::string, std::string> byDotNetName;
  for (const auto& [name, told] : names) byDotNetName[DotNetName(name)] = name;
  std::string comment;
  for (size_t at = text.find('\n', begin); at < end; at = text.find('\n', at + 1)) {
    const size_t lineEnd = text.find('\n', at + 1);
    const std::string line = Words(text.substr(at + 1, lineEnd - at - 1));
    const size_t equals = line.find(" = ");
    if (text.compare(text.find_first_not_of(' ', at + 1), 2, "//") == 0) {
      comment += " " + line;
    } else if (equals != std::string::npos) {
      const std::string name = line.substr(0, equals);
      Told& told = codes[byDotNetName.count(name) ? byDotNetName[name] : name];
      told.code = std::atoi(line.c_str() + equals + 3);
      told.meaning = Words(comment);
      comment.clear();
    }
  }
  return codes;
}

void ExpectTable(const Codes& codes, const std::string& where) {
  Codes table;
  for (const tools::ResultCode& row : tools::kResultCodes) table[row.name] = {row.code, row.meaning};
  for (const auto& [name, told] : table) {
    auto found = codes.find(name);
    if (found == codes.end()) {
      ADD_FAILURE() << where << " has no " << name;
      continue;
    }
    EXPECT_EQ(found->second.code, told.code) << where << ": " << name;
    EXPECT_EQ(found->second.meaning, told.meaning) << where << ": " << name;
  }
  for (const auto& [name, told] : codes) {
    EXPECT_TRUE(table.count(name)) << where << " has " << name << ", the table not";
  }
}

TEST(ResultCodes, HeaderReadmeDotNetAndToolTellTheTable) {
  const Codes header = FromHeader(Source("include/taskclient.h"));
  ExpectTable(header, "include/taskclient.h");
  ExpectTable(FromReadme(Source("README.md")), "README.md");
  ExpectTable(FromDotNet(Source("bindings/dotnet/TaskClient.cs"), header), "bindings/dotnet/TaskClient.cs");

  // The tool's --verbose line for a reply it reads back.
  testsupport::TempDir dir;
  testsupport::WriteFile(dir / "reply", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
  const std::string command = std::string("'") + TASKCLIENT_CLI + "' --verbose read '" + (dir / "reply").string() +
                              "' >/dev/null 2>'" + (dir / "err").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const tools::ResultCode& complete = tools::kResultCodes[std::size(tools::kResultCodes) - 1];
  EXPECT_EQ(testsupport::ReadFile(dir / "err").substr(0, testsupport::ReadFile(dir / "err").find('\n')),
            "result 999 " + std::string(complete.name) + ": " + complete.meaning);
}

}  // namespace
