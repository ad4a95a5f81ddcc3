#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "taskclient.h"

namespace cli {

namespace {

// The temporary reply file while one exists, for the signal handler: the
// reply may hold tokens, so an interrupted run must not leave it behind.
char gTemporaryPath[4096];
volatile std::sig_atomic_t gTemporaryHeld = 0;

extern "C" void RemoveTemporaryAndStop(int signal) {
  if (gTemporaryHeld) unlink(gTemporaryPath);  // async-signal-safe
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

TemporaryReply::TemporaryReply() {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/taskclient-reply-XXXXXX";
  if (pattern.size() >= sizeof gTemporaryPath) pattern = "/tmp/taskclient-reply-XXXXXX";
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTemporaryAndStop);
  int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) {
    std::fprintf(stderr, "taskclient: cannot make a temporary file in %s\n", folder && *folder ? folder : "/tmp");
    return;
  }
  close(descriptor);
  std::memcpy(gTemporaryPath, pattern.c_str(), pattern.size() + 1);
  gTemporaryHeld = 1;
  path_ = pattern;
}

TemporaryReply::~TemporaryReply() {
  if (path_.empty()) return;
  gTemporaryHeld = 0;
  unlink(path_.c_str());
}

bool Output::Open(const std::string& path) {
  path_ = path;
  if (path.empty() || path == "-") {
    file_ = stdout;
    return true;
  }
  // Created here or found: told by the open itself, not by a look before.
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  created_ = descriptor >= 0;
  if (descriptor < 0 && errno == EEXIST) descriptor = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  file_ = fdopen(descriptor, "w");  // opens for writing without emptying
  if (!file_) close(descriptor);
  return file_ != nullptr;
}

void Output::Write(const std::string& bytes) {
  if (!started_ && file_ != stdout) {
    // Emptied only if it is a regular file: /dev/null and pipes cannot be.
    struct stat info;
    if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fileno(file_), 0) != 0) {
      failed_ = true;
    }
  }
  started_ = true;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
}

bool Output::Close() {
  if (!file_) return !failed_;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && !failed_;
  if (file_ != stdout) {
    // The file it created, unused, goes: removed only while the name still
    // leads to that very file, not to whatever took its place.
    struct stat held;
    struct stat named;
    if (!started_ && created_ && fstat(fileno(file_), &held) == 0 && lstat(path_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      unlink(path_.c_str());
    }
    ok = std::fclose(file_) == 0 && ok;
  }
  file_ = nullptr;
  failed_ = !ok;
  return ok;
}

std::string Output::Name() const {
  return file_ == stdout || path_.empty() || path_ == "-" ? "standard output" : path_;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int CannotOpen(const std::string& label, const std::string& path) {
  std::fprintf(stderr, "taskclient: %s: result %d TC_FILE_OPEN_FAILED: cannot open %s: %s; nothing sent\n",
               label.c_str(), TC_FILE_OPEN_FAILED, path.c_str(), std::strerror(errno));
  return TC_FILE_OPEN_FAILED;
}

int CannotWrite(const std::string& label, const Output& out) {
  std::fprintf(stderr, "taskclient: %s: result %d TC_FILE_WRITE_FAILED: cannot write %s\n", label.c_str(),
               TC_FILE_WRITE_FAILED, out.Name().c_str());
  return TC_FILE_WRITE_FAILED;
}

}  // namespace cli
