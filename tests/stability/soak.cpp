// Resource use over many calls in one process. The TLS server runs in a
// child process, so every descriptor, thread and page counted here belongs to
// the library and its caller. Reports the open descriptors, threads and
// resident memory before and after N calls of mixed outcomes, and the peak
// resident memory while one call captures a reply of M megabytes (the
// library streams it to the file, so the peak should not move).
//
// Usage: taskclient_soak [CALLS [MEGABYTES]]   (default 10000 and 100)
// Exit status 1 when a call gives an unexpected result or a descriptor or
// thread is left behind; memory is reported, not judged.
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "testing/text16.h"
#include "testing/tls_server.h"
#include "tasks/tasks.h"

using namespace taskclient;

namespace {

int CountEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count - 2;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line[length] == ':') return std::atol(line.c_str() + length + 1);
  }
  return -1;
}

// Starts the peak (VmHWM) afresh from the current resident size.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

struct Snapshot {
  int descriptors, threads;
  long rssKb;
};

Snapshot Take() { return Snapshot{CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), StatusKb("VmRSS")}; }

// The server: the access token names the reply.
[[noreturn]] void RunServer(int reportPort, int untilClosed, size_t bigBytes) {
  testsupport::TlsServer server([bigBytes](testsupport::TlsStream& stream) {
    auto request = stream.ReadRequest(10000);
    if (!request) return;
    const std::string token = request->headers["authorization"];
    if (token == "Bearer big") {
      stream.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bigBytes) + "\r\n\r\n");
      std::string piece(1 << 20, 'x');
      for (size_t sent = 0; sent < bigBytes; sent += piece.size()) {
        if (!stream.Write(std::string_view(piece).substr(0, std::min(piece.size(), bigBytes - sent)))) return;
      }
    } else if (token == "Bearer chunked") {
      stream.Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n");
    } else if (token == "Bearer cut") {
      stream.Write("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{}");
      stream.Close(true);
      return;
    } else {
      stream.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
    }
    stream.AwaitClose(10000);
  });
  server.SetRawHandler([](int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
  });
  uint16_t port = server.port();
  if (write(reportPort, &port, sizeof port) != sizeof port) _exit(2);
  char byte;
  while (read(untilClosed, &byte, 1) > 0) {
  }
  server.Stop();
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10000;
  const size_t megabytes = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 100;

  int portPipe[2], lifePipe[2];
  if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return 2;
  pid_t child = fork();
  if (child == 0) {
    close(portPipe[0]);
    close(lifePipe[1]);
    RunServer(portPipe[1], lifePipe[0], megabytes << 20);
  }
  close(portPipe[1]);
  close(lifePipe[0]);
  uint16_t port = 0;
  if (read(portPipe[0], &port, sizeof port) != sizeof port) return 2;
  close(portPipe[0]);

  const Service service = {"127.0.0.1", port, 10000, 10000};
  char folder[] = "/tmp/taskclient-soak-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  const std::string file = std::string(folder) + "/reply.bin";
  const std::u16string path = testsupport::U(file);
  const std::u16string missing = testsupport::U(std::string(folder) + "/missing/reply.bin");

  struct Kind {
    const char16_t* token;
    const std::u16string* path;
    int32_t result;
  } kinds[] = {
      {u"ok", &path, TC_EXCHANGE_COMPLETE},       {u"chunked", &path, TC_EXCHANGE_COMPLETE},
      {u"cut", &path, TC_REPLY_CUT_SHORT},        {u"ok", &missing, TC_FILE_OPEN_FAILED},
      {u"bad\ntoken", &path, TC_BAD_ARGUMENT},
  };
  const int kKinds = sizeof kinds / sizeof kinds[0];
  int wrong = 0;
  auto run = [&](int count) {
    for (int i = 0; i < count; ++i) {
      const Kind& kind = kinds[i % kKinds];
      if (ListTaskLists(SystemPlatform(), service, reinterpret_cast<const tc_text16*>(kind.token),
                        testsupport::T(*kind.path)) != kind.result) {
        ++wrong;
      }
    }
  };

  run(200);  // warm-up: OpenSSL's one-time set-up, the allocator's arenas
  const Snapshot before = Take();
  auto started = std::chrono::steady_clock::now();
  run(calls);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const Snapshot after = Take();

  ResetPeak();
  const long rssBeforeBig = StatusKb("VmRSS");
  auto bigStarted = std::chrono::steady_clock::now();
  int32_t big = ListTaskLists(SystemPlatform(), service, testsupport::T(u"big"), testsupport::T(path));
  double bigSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - bigStarted).count();
  const long peakDuringBig = StatusKb("VmHWM");
  std::ifstream captured(file, std::ios::binary | std::ios::ate);
  const long long capturedBytes = static_cast<long long>(captured.tellg());
  captured.close();
  std::remove(file.c_str());
  rmdir(folder);

  close(lifePipe[1]);
  int status = 0;
  waitpid(child, &status, 0);

  std::printf("calls                      %d in %.1f s (%.0f calls/s), %d with an unexpected result\n", calls, seconds,
              calls / seconds, wrong);
  std::printf("open descriptors           %d before, %d after\n", before.descriptors, after.descriptors);
  std::printf("threads                    %d before, %d after\n", before.threads, after.threads);
  std::printf("resident memory (VmRSS)    %ld KiB before, %ld KiB after (%+ld KiB)\n", before.rssKb, after.rssKb,
              after.rssKb - before.rssKb);
  std::printf("%zu MB reply                result %d, %lld bytes in the file, %.2f s (%.0f MB/s)\n", megabytes, big,
              capturedBytes, bigSeconds, static_cast<double>(megabytes) / bigSeconds);
  std::printf("peak resident during it    %ld KiB (%+ld KiB over the %ld KiB before it)\n", peakDuringBig,
              peakDuringBig - rssBeforeBig, rssBeforeBig);

  const long long expectedBytes = static_cast<long long>((megabytes << 20) + std::string("HTTP/1.1 200 OK\r\nContent-Length: ").size() +
                                                         std::to_string(megabytes << 20).size() + 4);
  bool ok = wrong == 0 && before.descriptors == after.descriptors && before.threads == after.threads &&
            big == TC_EXCHANGE_COMPLETE && capturedBytes == expectedBytes;
  std::printf("%s\n", ok ? "soak: no call went wrong, nothing left behind" : "soak: FAILED");
  return ok ? 0 : 1;
}
