#include <cstdio>
#include "cli/fields.h"

#include <algorithm>
#include <map>

#include "cli/text.h"

namespace cli {

namespace {

// Tabs and line ends as spaces, so that a value stays within its cell and line.
std::string OneLine(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

}  // namespace

FieldValue ReadField(const std::string& body, const std::string& path) {
  FieldValue field;
  std::u16string path16;
  if (!Widen(path, &path16) || taskclient::CheckFieldPath(T(path16)) != taskclient::kOk) return field;
  // No value is longer in units than the body is in bytes.
  std::vector<tc_text16> value(body.size() + 1);
  taskclient::FieldReader reader(T(path16), value.data(), value.size());
  taskclient::FieldReader::Verdict verdict = reader.Feed(body.data(), body.size());
  if (verdict == taskclient::FieldReader::kNeedMore) verdict = reader.End();
  if (verdict != taskclient::FieldReader::kFound) {
    if (verdict == taskclient::FieldReader::kMalformed) field.found = FieldValue::kNotJson;
    return field;
  }
  field.found = FieldValue::kValue;
  field.text = Utf8(std::u16string(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(reader.length())));
  field.kind = reader.kind();
  return field;
}

std::string ServiceReason(const std::string& body) {
  const FieldValue error = ReadField(body, "error");
  if (error.kind == taskclient::FieldReader::kString) return error.text;
  const FieldValue reason = ReadField(body, "error.errors.0.reason");
  return reason.kind == taskclient::FieldReader::kString ? reason.text : "";
}

std::string ServiceMessage(const std::string& body) {
  const FieldValue error = ReadField(body, "error");
  std::string message;
  if (error.kind == taskclient::FieldReader::kObject) {
    const FieldValue text = ReadField(body, "error.message");
    if (text.kind == taskclient::FieldReader::kString) message = text.text;
  } else if (error.kind == taskclient::FieldReader::kString) {
    message = error.text;
    const FieldValue description = ReadField(body, "error_description");
    if (description.kind == taskclient::FieldReader::kString && !description.text.empty()) {
      message += ": " + description.text;
    }
  }
  return OneLine(message);
}

namespace {

// The elements of the array at `path` in the JSON value `json` (an empty
// path: `json` itself), each as its exact text; none where there is no
// array. False when the text is not JSON there. The array is read once, by
// the library's reader, and then only split at its top-level commas: each
// element is read again only for its own cells.
bool Elements(const std::string& json, const std::string& path, std::vector<std::string>* elements) {
  elements->clear();
  std::string array;
  if (path.empty()) {
    const FieldValue count = ReadField(json, "#");
    if (count.found == FieldValue::kNotJson) return false;
    if (count.kind != taskclient::FieldReader::kCount) return true;
    array = json;
  } else {
    const FieldValue field = ReadField(json, path);
    if (field.found == FieldValue::kNotJson) return false;
    if (field.kind != taskclient::FieldReader::kArray) return true;
    array = field.text;
  }
  // JSON the reader has taken: only strings can hold brackets and commas.
  size_t depth = 0, start = 0;
  bool inString = false, escaped = false;
  auto take = [&](size_t end) {
    const size_t first = array.find_first_not_of(" \t\n\r", start);
    if (first == std::string::npos || first >= end) return;
    const size_t last = array.find_last_not_of(" \t\n\r", end - 1);
    elements->push_back(array.substr(first, last + 1 - first));
  };
  for (size_t i = array.find('['); i < array.size(); ++i) {
    const char c = array[i];
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth == 1) start = i + 1;
    } else if (c == ']' || c == '}') {
      if (--depth == 0) {
        take(i);
        break;
      }
    } else if (c == ',' && depth == 1) {
      take(i);
      start = i + 1;
    }
  }
  return true;
}

// The value at `path` in the JSON value `json`; an empty path: `json` itself.
FieldValue ValueAt(const std::string& json, const std::string& path) {
  return path.empty() ? ReadField("[" + json + "]", "0") : ReadField(json, path);
}

// Every value `rest` leads to from the JSON value `json`, where a "*" step
// stands for every element of an array, in order and each on one line. False
// when the text is not JSON where they are.
bool AllValues(const std::string& json, const std::string& rest, std::vector<std::string>* values) {
  const size_t star = rest.find('*');
  if (star == std::string::npos) {
    const FieldValue field = ValueAt(json, rest);
    if (field.found == FieldValue::kValue) values->push_back(OneLine(field.text));
    return field.found != FieldValue::kNotJson;
  }
  std::vector<std::string> elements;
  if (!Elements(json, rest.substr(0, star > 0 ? star - 1 : 0), &elements)) return false;
  const std::string after = rest.substr(std::min(rest.size(), star + 2));
  for (const std::string& element : elements) {
    if (!AllValues(element, after, values)) return false;
  }
  return true;
}

}  // namespace

bool FieldRows(const std::string& body, const std::vector<std::string>& fields, std::string* rows,
               std::string* missing, bool* notJson) {
  struct Column {
    bool perItem = false;
    std::string value;                  // a path without "*"
    std::vector<std::string> elements;  // the array before the "*", element by element
    std::string rest;                   // the path after the "*"
  };
  std::vector<Column> columns;
  std::map<std::string, size_t> arrays;  // a column of each array's path: each array is read once
  size_t lines = 1;
  bool anyPerItem = false;
  for (const std::string& field : fields) {
    Column column;
    const size_t star = field.find('*');
    if (star == std::string::npos) {
      const FieldValue value = ReadField(body, field);
      *notJson = value.found == FieldValue::kNotJson;
      if (value.found != FieldValue::kValue) {
        *missing = field;
        return false;
      }
      column.value = OneLine(value.text);
    } else {
      column.perItem = true;
      column.rest = field.substr(std::min(field.size(), star + 2));
      const std::string array = field.substr(0, star > 0 ? star - 1 : 0);
      if (arrays.count(array)) {
        column.elements = columns[arrays[array]].elements;
      } else if (!Elements(body, array, &column.elements)) {
        return *notJson = true, false;
      }
      lines = anyPerItem ? std::max(lines, column.elements.size()) : column.elements.size();
      anyPerItem = true;
    }
    columns.push_back(std::move(column));
    if (columns.back().perItem) arrays.emplace(field.substr(0, star > 0 ? star - 1 : 0), columns.size() - 1);
  }
  for (size_t line = 0; line < lines; ++line) {
    std::string text;
    bool found = !anyPerItem;
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& column = columns[i];
      if (i) text += '\t';
      if (!column.perItem) {
        text += column.value;
        continue;
      }
      std::vector<std::string> values;
      if (line < column.elements.size() && !AllValues(column.elements[line], column.rest, &values)) {
        return *notJson = true, false;
      }
      for (size_t k = 0; k < values.size(); ++k) text += (k ? "," : "") + values[k];
      found = found || !values.empty();
    }
    if (found) *rows += text + "\n";
  }
  return true;
}

bool FieldRowsOrSay(const std::string& label, const std::string& body, const std::vector<std::string>& fields,
                    std::string* rows) {
  std::string missing;
  bool notJson = false;
  if (FieldRows(body, fields, rows, &missing, &notJson)) return true;
  if (notJson) {
    std::fprintf(stderr, "taskclient: %s: the reply's body is not JSON\n", label.c_str());
  } else {
    std::fprintf(stderr, "taskclient: %s: no \"%s\" in the reply\n", label.c_str(), missing.c_str());
  }
  return false;
}

}  // namespace cli
