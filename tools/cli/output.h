// Where the output goes, and the private temporary file the library writes
// its response file to.
#pragma once

#include <cstdio>
#include <string>

namespace cli {

// A private file (0600) in TMPDIR (or /tmp) for the library's response file,
// removed when the object goes, or on SIGINT, SIGTERM or SIGHUP. path() is
// empty when none could be made.
class TemporaryReply {
 public:
  TemporaryReply();
  ~TemporaryReply();
  TemporaryReply(const TemporaryReply&) = delete;
  TemporaryReply& operator=(const TemporaryReply&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where the output goes: standard output, or the file of -o. The file is
// opened before the exchange, so a path that cannot be written costs no
// request (an authorization code is good once), but emptied only when the
// first output arrives: a call that ends with nothing to write leaves an
// existing file as it was and removes one it created. A file it creates is
// its owner's only (0600): the output may be tokens.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() { Close(); }

  // "" and "-" are standard output. False (errno set) when FILE cannot be opened.
  bool Open(const std::string& path);
  void Write(const std::string& bytes);
  // False when some output could not be written.
  bool Close();
  std::string Name() const;

 private:
  std::string path_;
  FILE* file_ = nullptr;
  bool created_ = false;
  bool started_ = false;
  bool failed_ = false;
};

// The whole file, empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Report on stderr that `path` (the output) cannot be opened, or `out` not
// written; return the exit status, 27 or 28.
int CannotOpen(const std::string& label, const std::string& path);
int CannotWrite(const std::string& label, const Output& out);

}  // namespace cli
