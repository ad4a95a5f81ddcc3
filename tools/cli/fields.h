// Values out of a JSON body, as the library's field reader (the one
// GTaskReadField uses) finds them: one by its dotted path, the --field rows,
// and the service's reason and message on a failed request.
#pragma once

#include <string>
#include <vector>

#include "readers/field_reader.h"

namespace cli {

// What the library's field reader (the one GTaskReadField uses) finds at a
// dotted path in a JSON body held in memory: the value as UTF-8 and what it
// is, or that the path names nothing (a path the reader refuses names
// nothing), or that the body is not JSON where the path leads.
struct FieldValue {
  enum Found { kValue, kMissing, kNotJson } found = kMissing;
  std::string text;
  taskclient::FieldReader::Kind kind = taskclient::FieldReader::kNone;
};

FieldValue ReadField(const std::string& body, const std::string& path);

// The service's reason for refusing, where it gives one:
// "error.errors.0.reason" on the task paths, "error" (a string) on the token
// path. Empty when the body has neither.
std::string ServiceReason(const std::string& body);

// The service's own words on a failed request: "error.message" on the task
// paths, "error" and "error_description" on the token path. Empty when the
// body has neither.
std::string ServiceMessage(const std::string& body);

// The --field values of the JSON `body`, one line per item, the fields side
// by side and separated by tabs. A path with "*" gives one cell per element
// of the array before its first "*" (a further "*" joins its values with
// commas); a path without gives one value, repeated on every line. An item
// where no "*" path leads anywhere gives no line. False, with the path in
// *missing, when a path without "*" leads nowhere, or with *notJson set when
// the body is not JSON where a path leads.
bool FieldRows(const std::string& body, const std::vector<std::string>& fields, std::string* rows,
               std::string* missing, bool* notJson);

// FieldRows for the reply of `label`, saying on stderr why when it fails.
bool FieldRowsOrSay(const std::string& label, const std::string& body, const std::vector<std::string>& fields,
                    std::string* rows);

}  // namespace cli
