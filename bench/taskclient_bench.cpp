// Per-call cost of the library against the TLS floor and against libcurl,
// every figure taken in one run against the same local server. See README.md
// beside this file for what each figure means.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "clients.h"
#include "interpose.h"
#include "platform/platform.h"
#include "taskclient.h"
#include "tasks/requests.h"
#include "tasks/tasks.h"

namespace {

using bench::AllocationCounts;
using bench::BenchServer;
using bench::CurlClient;
using bench::FloorClient;

const size_t kCaptureBytes = size_t{50} << 20;  // body of each capture reply
const size_t kChunkBytes = 8000;                 // chunk size of the chunked capture reply

struct World {
  std::string dir;
  std::string token;
  std::u16string token16;
  std::string listingReply, lengthReply, chunkedReply;
  std::string listingRequest, lengthRequest, chunkedRequest;  // as the library sent them
  std::unique_ptr<BenchServer> server;
  taskclient::Service service{};
  std::unique_ptr<FloorClient> floor, floorContextPerCall;
  std::unique_ptr<CurlClient> curl;
  bool exported = false;  // the exported function can reach the local server
  std::string requestsFile;  // a sequence of ten requests, one of them a PATCH with the 8 KB body
  std::u16string requestsPath;
};

World* gWorld = nullptr;

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string FilePath(const std::string& name) { return gWorld->dir + "/" + name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A reply of the size and shape the service sends for a user's task lists.
std::string ListingReply() {
  std::string body =
      "{\n  \"kind\": \"tasks#taskLists\",\n  \"etag\": \"\\\"LTE2NTk0NjQ5NTY\\\"\",\n  \"items\": [\n";
  for (int i = 0; i < 3; ++i) {
    body += "    {\n      \"kind\": \"tasks#taskList\",\n      \"id\": \"MDk2NTk0NjQ5NTY3OTk1MjcxNjk6MDow" +
            std::to_string(i) +
            "\",\n      \"etag\": \"\\\"LTE0NjQ5NTY3OTk1\\\"\",\n      \"title\": \"List " + std::to_string(i) +
            "\",\n      \"updated\": \"2024-03-01T10:00:00.000Z\",\n      \"selfLink\": "
            "\"https://www.googleapis.com/tasks/v1/users/@me/lists/MDk2NTk0NjQ5NTY3OTk1MjcxNjk6MDow" +
            std::to_string(i) + "\"\n    }" + (i < 2 ? ",\n" : "\n");
  }
  body += "  ]\n}\n";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\nVary: Origin\r\nVary: X-Origin\r\n"
         "Vary: Referer\r\nDate: Fri, 01 Mar 2024 10:00:00 GMT\r\nServer: ESF\r\nCache-Control: private\r\n"
         "X-XSS-Protection: 0\r\nX-Frame-Options: SAMEORIGIN\r\nX-Content-Type-Options: nosniff\r\n"
         "Alt-Svc: h3=\":443\"; ma=2592000\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// kCaptureBytes of task items.
std::string CaptureBody() {
  const std::string item =
      "{\"kind\":\"tasks#task\",\"id\":\"MTIzNDU2Nzg5MDEyMzQ1Njc4OTA\",\"title\":\"Buy milk\",\"status\":"
      "\"needsAction\",\"updated\":\"2024-03-01T10:00:00.000Z\"},\n";
  std::string body;
  body.reserve(kCaptureBytes + item.size());
  while (body.size() < kCaptureBytes) body += item;
  body.resize(kCaptureBytes);
  return body;
}

const char kCaptureHead[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\n";

std::string LengthReply(const std::string& body) {
  return kCaptureHead + std::string("Content-Length: ") + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string ChunkedReply(const std::string& body) {
  std::string reply = kCaptureHead + std::string("Transfer-Encoding: chunked\r\n\r\n");
  reply.reserve(body.size() + body.size() / kChunkBytes * 8 + 100);
  char size[16];
  for (size_t at = 0; at < body.size(); at += kChunkBytes) {
    size_t length = std::min(kChunkBytes, body.size() - at);
    snprintf(size, sizeof size, "%zx\r\n", length);
    reply += size;
    reply.append(body, at, length);
    reply += "\r\n";
  }
  return reply + "0\r\n\r\n";
}

// --- the calls measured -----------------------------------------------------

bool LibraryListing(const std::u16string& path) {
  return taskclient::ListTaskLists(taskclient::SystemPlatform(), gWorld->service, gWorld->token16.c_str(),
                                   path.c_str()) == TC_EXCHANGE_COMPLETE;
}

bool ExportedListing(const std::u16string& path) {
  return GTaskListTasksSSL(gWorld->token16.c_str(), path.c_str()) == TC_EXCHANGE_COMPLETE;
}

bool LibraryCapture(const char16_t* listId, const std::u16string& path) {
  return taskclient::ListTasks(taskclient::SystemPlatform(), gWorld->service, gWorld->token16.c_str(), listId,
                               path.c_str()) == TC_EXCHANGE_COMPLETE;
}

// A PATCH whose JSON body is 8,192 bytes of UTF-8, multi-byte characters
// included: sent as the head and as much body as fits, then the rest in
// pieces.
const std::u16string& LargeJsonBody() {
  static const std::u16string body = [] {
    std::u16string text = u"{\"notes\": \"";
    while (text.size() < 4000) text += u"\u00e9";  // two bytes each in UTF-8
    size_t bytes = 11 + (text.size() - 11) * 2;
    text += std::u16string(8192 - 2 - bytes, u'x');
    return text + u"\"}";
  }();
  return body;
}

bool LibraryRequest8K(const std::u16string& path) {
  return taskclient::SendApiRequest(taskclient::SystemPlatform(), gWorld->service, gWorld->token16.c_str(), u"PATCH",
                                    u"/tasks/v1/users/@me/lists/L1", LargeJsonBody().c_str(),
                                    path.c_str()) == TC_EXCHANGE_COMPLETE;
}

// The 8 KB body as UTF-8, for a line of a requests file.
std::string LargeJsonBodyUtf8() {
  std::string bytes;
  for (char16_t unit : LargeJsonBody()) {
    if (unit < 0x80) {
      bytes += static_cast<char>(unit);
    } else {
      bytes += static_cast<char>(0xC0 | (unit >> 6));
      bytes += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return bytes;
}

const int kSequenceLength = 10;
const int kSequencePatchAt = 4;  // the line of the PATCH with the 8 KB body

// Ten requests in one sequence call: listings, and the same PATCH with an
// 8 KB body as LibraryRequest8K's, so that the largest body of the sequence
// is that of the single request.
std::string SequenceLines() {
  std::string lines;
  for (int i = 0; i < kSequenceLength; ++i) {
    lines += i == kSequencePatchAt ? "PATCH /tasks/v1/users/@me/lists/L1 " + LargeJsonBodyUtf8() + "\n"
                                   : "GET /tasks/v1/users/@me/lists\n";
  }
  return lines;
}

bool LibrarySequence(const std::u16string& path) {
  return taskclient::SendRequests(taskclient::SystemPlatform(), gWorld->service, gWorld->token16.c_str(),
                                  gWorld->requestsPath.c_str(), path.c_str()) == TC_EXCHANGE_COMPLETE;
}

bool FloorListing(const FloorClient& client) {
  return client.Call(gWorld->server->port(), gWorld->listingRequest, gWorld->listingReply.size(), nullptr);
}

// --- 1. latency and 2. capture throughput ------------------------------------------

// One contender of a paired benchmark.
struct Contender {
  std::string name;
  std::function<bool()> call;
};

double Median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Every iteration makes one call of each contender, in an order that turns
// by one each iteration, and times each call on its own (wall clock, and the
// calling thread's CPU time). The figures are the medians, so a disturbance
// of the machine weighs on no contender more than on another, and ratios
// between contenders come from calls made side by side.
void Paired(benchmark::State& state, std::vector<Contender> contenders, size_t replyBytes) {
  const size_t n = contenders.size();
  std::vector<std::vector<double>> wall(n), cpu(n);
  size_t turn = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < n; ++k) {
      size_t which = (k + turn) % n;
      double cpuStart = ThreadCpuSeconds();
      auto start = std::chrono::steady_clock::now();
      bool ok = contenders[which].call();
      wall[which].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      cpu[which].push_back(ThreadCpuSeconds() - cpuStart);
      if (!ok) {
        state.SkipWithError((contenders[which].name + " call failed").c_str());
        return;
      }
    }
    ++turn;
  }
  std::vector<double> medians(n);
  for (size_t i = 0; i < n; ++i) {
    medians[i] = Median(wall[i]);
    const std::string& name = contenders[i].name;
    if (replyBytes > 0) {
      state.counters[name + "_MiBps"] = static_cast<double>(replyBytes) / medians[i] / (1 << 20);
    } else {
      state.counters[name + "_us"] = medians[i] * 1e6;
      state.counters[name + "_cpu_us"] = Median(cpu[i]) * 1e6;
    }
  }
  // Against the first contender, the floor: time for time (for throughput,
  // the inverse: speed for speed).
  for (size_t i = 1; i < n; ++i) {
    double ratio = medians[i] / medians[0];
    state.counters[contenders[i].name + "_per_" + contenders[0].name] = replyBytes > 0 ? 1 / ratio : ratio;
  }
}

// What creating and freeing a client TLS context costs on its own.
void ContextNew(benchmark::State& state) {
  for (auto _ : state) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    benchmark::DoNotOptimize(context);
    SSL_CTX_free(context);
  }
}

// --- 3. heap allocations per call -----------------------------------------------

void Allocations(benchmark::State& state, std::function<bool()> call) {
  AllocationCounts total;
  for (auto _ : state) {
    bench::StartCountingAllocations();
    bool ok = call();
    AllocationCounts counts = bench::StopCountingAllocations();
    if (!ok) {
      state.SkipWithError("call failed");
      break;
    }
    if (total.own == 0 && counts.own > 0) total.firstOwnCaller = counts.firstOwnCaller;
    total.own += counts.own;
    total.openssl += counts.openssl;
    total.libc += counts.libc;
    total.curl += counts.curl;
    total.other += counts.other;
  }
  using benchmark::Counter;
  state.counters["own"] = Counter(static_cast<double>(total.own), Counter::kAvgIterations);
  state.counters["openssl"] = Counter(static_cast<double>(total.openssl), Counter::kAvgIterations);
  state.counters["libc"] = Counter(static_cast<double>(total.libc), Counter::kAvgIterations);
  state.counters["curl"] = Counter(static_cast<double>(total.curl), Counter::kAvgIterations);
  state.counters["other"] = Counter(static_cast<double>(total.other), Counter::kAvgIterations);
  if (total.own > 0) state.SetLabel("first own allocation in " + total.firstOwnCaller);
}

// --- 4. stack and size -------------------------------------------------------------

const unsigned char kPaint = 0xA5;

struct StackJob {
  std::function<bool()> call;
  unsigned char* base;
  size_t firstCall = 0;
  size_t laterCall = 0;
  bool ok = true;
};

size_t Touched(const unsigned char* base, const unsigned char* top) {
  const unsigned char* low = base;
  while (low < top && *low == kPaint) ++low;
  return static_cast<size_t>(top - low);
}

__attribute__((noinline)) void Repaint(unsigned char* base, unsigned char* below) {
  memset(base, kPaint, static_cast<size_t>(below - base));
}

void* RunStackJob(void* argument) {
  StackJob* job = static_cast<StackJob*>(argument);
  unsigned char* top = static_cast<unsigned char*>(__builtin_frame_address(0));
  // The first call on a fresh thread, then a later one on the same thread
  // (after the stack below this frame is painted again).
  job->ok = job->call();
  job->firstCall = Touched(job->base, top);
  Repaint(job->base, top - 16384);
  job->ok = job->call() && job->ok;
  job->laterCall = Touched(job->base, top);
  return nullptr;
}

// Runs `call` twice on a thread whose stack was painted beforehand; the
// deepest byte changed below the thread function's frame is the peak.
bool MeasureStack(std::function<bool()> call, size_t* firstCall, size_t* laterCall) {
  const size_t size = size_t{1} << 20;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  StackJob job;
  job.call = std::move(call);
  job.base = static_cast<unsigned char*>(memory);
  memset(memory, kPaint, size);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstack(&attributes, memory, size);
  pthread_t thread;
  bool ok = pthread_create(&thread, &attributes, RunStackJob, &job) == 0;
  if (ok) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  munmap(memory, size);
  *firstCall = job.firstCall;
  *laterCall = job.laterCall;
  return ok && job.ok;
}

void Stack(benchmark::State& state, std::function<bool()> call) {
  size_t firstCall = 0, laterCall = 0;
  for (auto _ : state) {
    if (!MeasureStack(call, &firstCall, &laterCall)) {
      state.SkipWithError("call failed");
      break;
    }
  }
  state.counters["first_call_bytes"] = static_cast<double>(firstCall);
  state.counters["call_bytes"] = static_cast<double>(laterCall);
}

void StrippedSize(benchmark::State& state) {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&GTaskListTasksSSL), &info) || !info.dli_fname) {
    state.SkipWithError("libtaskclient.so not found");
    return;
  }
  const std::string stripped = FilePath("libtaskclient-stripped.so");
  std::string command = "strip --strip-all -o '" + stripped + "' '" + info.dli_fname + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("strip failed");
      return;
    }
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(stripped));
  state.counters["unstripped_bytes"] = static_cast<double>(std::filesystem::file_size(info.dli_fname));
  state.SetLabel(info.dli_fname);
}

// --- 5. threads ----------------------------------------------------------------------

// One contender of the threads benchmark: a call made on thread `index`.
struct ThreadContender {
  std::string name;
  std::function<bool(int index)> call;
};

const int kCallsPerThread = 8;

// `threads` threads, started together, each make kCallsPerThread calls; the
// rate is all their calls over the time from the start to the last one's end.
double CallsPerSecond(const ThreadContender& contender, int threads, bool* ok) {
  std::atomic<bool> go{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCallsPerThread; ++i) {
        if (!contender.call(t)) ++failures;
      }
    });
  }
  auto start = std::chrono::steady_clock::now();
  go = true;
  for (auto& thread : pool) thread.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *ok = failures.load() == 0;
  return threads * kCallsPerThread / seconds;
}

// The contenders take turns, one burst each per iteration, so that both see
// the same machine; the figures are the medians of the bursts.
void Threads(benchmark::State& state, std::vector<ThreadContender> contenders, int threads) {
  const size_t n = contenders.size();
  std::vector<std::vector<double>> rates(n);
  size_t turn = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < n; ++k) {
      size_t which = (k + turn) % n;
      bool ok = true;
      rates[which].push_back(CallsPerSecond(contenders[which], threads, &ok));
      if (!ok) {
        state.SkipWithError((contenders[which].name + " call failed").c_str());
        return;
      }
    }
    ++turn;
  }
  for (size_t i = 0; i < n; ++i) state.counters[contenders[i].name + "_calls_per_s"] = Median(rates[i]);
  for (size_t i = 1; i < n; ++i) {
    state.counters[contenders[i].name + "_per_" + contenders[0].name] = Median(rates[i]) / Median(rates[0]);
  }
}

// --- the summary ----------------------------------------------------------------------

// Shows every run as the console reporter does, keeps each figure's samples,
// and prints the ratios at the end (medians when repeated).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (run.error_occurred) {
        ++errors_;
        continue;
      }
      std::map<std::string, double> values;
      values["seconds"] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      for (const auto& counter : run.counters) values[counter.first] = counter.second.value;
      std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Iteration) {
        samples_[name].push_back(values);
      } else if (run.aggregate_name == "median") {
        medians_[name] = values;
      }
    }
  }

  void PrintSummary() {
    std::FILE* out = stdout;
    std::fprintf(out, "\nSummary (medians; over the repetitions too where repeated)\n");
    std::fprintf(out, "  latency per listing call, us (client thread's CPU in brackets):\n");
    for (const char* who : {"floor", "floor_file", "floor_context_per_call", "library", "exported", "curl"}) {
      std::fprintf(out, "    %-24s %8.1f  (%.1f)\n", who, Get("Latency", std::string(who) + "_us"),
                   Get("Latency", std::string(who) + "_cpu_us"));
    }
    double library = Get("Latency", "library_us"), exported = Get("Latency", "exported_us");
    double curl = Get("Latency", "curl_us"), floor = Get("Latency", "floor_us");
    std::fprintf(out, "  library/floor %.3f | exported/floor %.3f | library/libcurl %.3f | exported/libcurl %.3f | "
                 "library/floor_file %.3f\n", Get("Latency", "library_per_floor"), Get("Latency", "exported_per_floor"),
                 library / curl, exported / curl, library / Get("Latency", "floor_file_us"));
    std::fprintf(out, "  request with an 8 KB body %.1f us (%.1f) | listing %.1f us | request_8k/listing %.3f\n",
                 Get("Request8K", "request_8k_us"), Get("Request8K", "request_8k_cpu_us"), Get("Request8K", "listing_us"),
                 Get("Request8K", "request_8k_per_listing"));
    double context = Get("ContextNew", "seconds") * 1e6;
    std::fprintf(out, "  SSL_CTX_new+free alone: %.1f us = %.1f%% of a floor call\n", context, 100 * context / floor);
    for (const char* mode : {"ContentLength", "Chunked"}) {
      std::string name = std::string("Capture/") + mode;
      std::fprintf(out, "  capture of a 50 MiB body, %s, MiB/s: floor %.0f | library %.0f | library/floor %.3f\n",
                   mode, Get(name, "floor_MiBps"), Get(name, "library_MiBps"), Get(name, "library_per_floor"));
    }
    for (const char* who : {"Library", "Exported", "Sequence", "Floor", "Curl"}) {
      std::string name = std::string("Allocations/") + who;
      std::fprintf(out, "  heap allocations per call, %s: own code %.1f | OpenSSL %.1f | libc %.1f | libcurl %.1f | "
                   "other %.1f\n", who, Get(name, "own"), Get(name, "openssl"), Get(name, "libc"),
                   Get(name, "curl"), Get(name, "other"));
    }
    for (const char* who : {"Library", "Request8K", "Sequence8K", "Exported", "Floor", "Curl"}) {
      std::string name = std::string("Stack/") + who;
      std::fprintf(out, "  peak stack, %s: first call on a thread %.0f bytes | later call %.0f bytes\n", who,
                   Get(name, "first_call_bytes"), Get(name, "call_bytes"));
    }
    const double sequence = Get("Stack/Sequence8K", "call_bytes"), request = Get("Stack/Request8K", "call_bytes");
    std::fprintf(out, "  peak stack, sequence of ten with the 8 KB body %.0f bytes | request with the 8 KB body %.0f "
                 "bytes | sequence/request %.3f (target at most 1: %s)\n", sequence, request, sequence / request,
                 sequence <= request ? "met" : "NOT met");
    std::fprintf(out, "  libtaskclient.so stripped: %.0f bytes (unstripped %.0f)\n", Get("Size/Stripped", "bytes"),
                 Get("Size/Stripped", "unstripped_bytes"));
    for (int threads : {1, 2, 4, 8}) {
      const std::string name = "Threads/" + std::to_string(threads);
      std::fprintf(out, "  calls/s with %d thread(s): library %.0f | floor %.0f | library/floor %.3f\n", threads,
                   Get(name, "library_calls_per_s"), Get(name, "floor_calls_per_s"), Get(name, "library_per_floor"));
    }
  }

  // Whether every benchmark ran and the library's own code made no heap
  // allocation: the one target that is a property rather than a speed.
  bool Passed() {
    bool ok = errors_ == 0;
    for (const char* who : {"Allocations/Library", "Allocations/Exported", "Allocations/Sequence"}) {
      double own = Get(who, "own");
      if (own > 0) {
        std::fprintf(stderr, "%s: the library's own code made %.1f heap allocations per call\n", who, own);
        ok = false;
      }
#if !defined(TASKCLIENT_TLS_BEARSSL)
      // OpenSSL allocates in every handshake: none counted means the hooks
      // were not in force, and the zero above would prove nothing.
      if (Get(who, "openssl") == 0) {
        std::fprintf(stderr, "%s: no allocation counted at all\n", who);
        ok = false;
      }
#endif
    }
#if defined(TASKCLIENT_TLS_BEARSSL)
    // BearSSL, inside the library, allocates nothing; the floor's OpenSSL
    // handshake shows that the hooks were in force.
    if (Get("Allocations/Floor", "openssl") == 0) {
      std::fprintf(stderr, "Allocations/Floor: no allocation counted at all\n");
      ok = false;
    }
    // With BearSSL the whole call, TLS included, stays within 40 KB of stack
    // (docs/device-build.md: what a host thread needs).
    for (const char* who : {"Stack/Library", "Stack/Exported"}) {
      for (const char* key : {"first_call_bytes", "call_bytes"}) {
        if (Get(who, key) > 40 * 1024) {
          std::fprintf(stderr, "%s: %s %.0f, above 40 KB\n", who, key, Get(who, key));
          ok = false;
        }
      }
    }
#endif
    if (errors_) std::fprintf(stderr, "%d benchmark run(s) failed\n", errors_);
    return ok;
  }

 private:
  // The figure `key` of the first run whose name starts with `prefix` and
  // contains `part`; NaN when there is none.
  double Get(const std::string& prefix, const std::string& key, const std::string& part = "") {
    auto matches = [&](const std::string& name) {
      return name.compare(0, prefix.size(), prefix) == 0 &&
             (name.size() == prefix.size() || name[prefix.size()] == '/') && name.find(part) != std::string::npos;
    };
    for (const auto& entry : medians_) {
      if (matches(entry.first) && entry.second.count(key)) return entry.second.at(key);
    }
    for (const auto& entry : samples_) {
      if (!matches(entry.first)) continue;
      std::vector<double> values;
      for (const auto& sample : entry.second) {
        if (sample.count(key)) values.push_back(sample.at(key));
      }
      if (!values.empty()) return Median(values);
    }
    return std::nan("");
  }

  int errors_ = 0;
  std::map<std::string, std::vector<std::map<std::string, double>>> samples_;
  std::map<std::string, std::map<std::string, double>> medians_;
};

// --- set-up -----------------------------------------------------------------------------

bool SetUp(World& world) {
  // Response files go to a RAM file system where there is one, as on the
  // device, whose object store is in RAM: on a disk file system, emptying and
  // rewriting a file can start a write-back that costs more than the call.
  const char* base = getenv("TASKCLIENT_BENCH_DIR");
  if (!base) base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/taskclient-bench-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    std::fprintf(stderr, "set-up: cannot make a directory in %s\n", base);
    return false;
  }
  world.dir = pattern;
  // An access token of the length the service hands out.
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  world.token = "ya29.";
  for (unsigned i = 0; world.token.size() < 220; ++i) world.token += alphabet[(i * 37 + 11) % 64];
  world.token16 = Widen(world.token);

  world.listingReply = ListingReply();
  std::string body = CaptureBody();
  world.lengthReply = LengthReply(body);
  world.chunkedReply = ChunkedReply(body);
  world.server.reset(new BenchServer({{"/lists/length50/", world.lengthReply},
                                      {"/lists/chunked50/", world.chunkedReply},
                                      {"/users/@me/lists", world.listingReply}},
                                     16));
  world.service = taskclient::Service{"127.0.0.1", world.server->port(), 10000, 10000};
  world.floor.reset(new FloorClient(false));
  world.floorContextPerCall.reset(new FloorClient(true));

  // The floor sends exactly the bytes the library sent.
  const std::string file = FilePath("setup.json");
  const std::u16string path = Widen(file);
  if (!LibraryListing(path) || ReadFile(file) != world.listingReply) {
    std::fprintf(stderr, "set-up: the library's listing call failed\n");
    return false;
  }
  world.listingRequest = world.server->LastRequest();
  if (!LibraryCapture(u"length50", path) || std::filesystem::file_size(file) != world.lengthReply.size()) return false;
  world.lengthRequest = world.server->LastRequest();
  if (!LibraryCapture(u"chunked50", path) || std::filesystem::file_size(file) != world.chunkedReply.size()) return false;
  world.chunkedRequest = world.server->LastRequest();
  if (!FloorListing(*world.floor)) {
    std::fprintf(stderr, "set-up: the floor client failed\n");
    return false;
  }

  // libcurl sends the identical request.
  world.curl.reset(new CurlClient("https://127.0.0.1:" + std::to_string(world.server->port()) +
                                      "/tasks/v1/users/@me/lists",
                                  "Host: 127.0.0.1", "Authorization: Bearer " + world.token));
  if (!world.curl->Call(file.c_str()) || ReadFile(file) != world.listingReply) {
    std::fprintf(stderr, "set-up: the libcurl call failed\n");
    return false;
  }
  if (world.server->LastRequest() != world.listingRequest) {
    std::fprintf(stderr, "set-up: libcurl's request differs from the library's:\n%s---\n%s---\n",
                 world.server->LastRequest().c_str(), world.listingRequest.c_str());
    return false;
  }

  // The exported function goes to the API host on port 443: only with the
  // redirection to the local server in force.
  if (bench::RedirectionActive()) {
    bench::RedirectApiPortTo(world.server->port());
    world.exported = ExportedListing(path) && bench::RedirectedLookups() > 0 && ReadFile(file) == world.listingReply;
  }
  if (!world.exported) std::fprintf(stderr, "set-up: the exported function cannot be measured here\n");

  // The sequence: every reply whole in the response file, in order.
  world.requestsFile = FilePath("sequence.requests");
  world.requestsPath = Widen(world.requestsFile);
  {
    std::ofstream out(world.requestsFile, std::ios::binary | std::ios::trunc);
    out << SequenceLines();
  }
  std::string replies;
  for (int i = 0; i < kSequenceLength; ++i) replies += world.listingReply;
  if (!LibrarySequence(path) || ReadFile(file) != replies) {
    std::fprintf(stderr, "set-up: the sequence call failed\n");
    return false;
  }
  return true;
}

void Register(World& world) {
  using benchmark::RegisterBenchmark;
  const std::u16string latencyPath = Widen(FilePath("latency.json"));
  const std::string curlPath = FilePath("curl.json");
  const std::string floorFile = FilePath("floor.json");
  std::vector<Contender> latency = {
      {"floor", [] { return FloorListing(*gWorld->floor); }},
      {"floor_context_per_call", [] { return FloorListing(*gWorld->floorContextPerCall); }},
      {"floor_file",
       [floorFile] {
         return gWorld->floor->Call(gWorld->server->port(), gWorld->listingRequest, gWorld->listingReply.size(),
                                    floorFile.c_str());
       }},
      {"library", [latencyPath] { return LibraryListing(latencyPath); }},
      {"curl", [curlPath] { return gWorld->curl->Call(curlPath.c_str()); }},
  };
  if (world.exported) latency.push_back({"exported", [latencyPath] { return ExportedListing(latencyPath); }});
  RegisterBenchmark("Latency", Paired, latency, size_t{0});
  RegisterBenchmark("ContextNew", ContextNew);
  // A request with an 8 KB body against a bodiless listing, side by side: the
  // pieces it is sent in must not wait on delayed acknowledgements.
  std::vector<Contender> request8k = {
      {"listing", [latencyPath] { return LibraryListing(latencyPath); }},
      {"request_8k", [latencyPath] { return LibraryRequest8K(latencyPath); }},
  };
  RegisterBenchmark("Request8K", Paired, request8k, size_t{0});

  const std::string captureFile = FilePath("capture.json");
  const std::u16string capturePath = Widen(captureFile);
  for (int chunked = 0; chunked < 2; ++chunked) {
    const std::string* request = chunked ? &world.chunkedRequest : &world.lengthRequest;
    const std::string* reply = chunked ? &world.chunkedReply : &world.lengthReply;
    const char16_t* listId = chunked ? u"chunked50" : u"length50";
    std::vector<Contender> capture = {
        {"floor",
         [=] { return gWorld->floor->Call(gWorld->server->port(), *request, reply->size(), captureFile.c_str()); }},
        {"library",
         [=] {
           return LibraryCapture(listId, capturePath) && std::filesystem::file_size(captureFile) == reply->size();
         }},
    };
    RegisterBenchmark(chunked ? "Capture/Chunked" : "Capture/ContentLength", Paired, capture, reply->size());
  }

  const std::u16string path = Widen(FilePath("measure.json"));
  const std::string narrowPath = FilePath("measure.json");
  std::function<bool()> library = [path] { return LibraryListing(path); };
  std::function<bool()> exported = [path] { return ExportedListing(path); };
  std::function<bool()> floor = [] { return FloorListing(*gWorld->floor); };
  std::function<bool()> curl = [narrowPath] { return gWorld->curl->Call(narrowPath.c_str()); };
  RegisterBenchmark("Allocations/Library", Allocations, library)->Iterations(20);
  if (world.exported) RegisterBenchmark("Allocations/Exported", Allocations, exported)->Iterations(20);
  std::function<bool()> sequence = [path] { return LibrarySequence(path); };
  RegisterBenchmark("Allocations/Sequence", Allocations, sequence)->Iterations(5);
  RegisterBenchmark("Allocations/Floor", Allocations, floor)->Iterations(20);
  RegisterBenchmark("Allocations/Curl", Allocations, curl)->Iterations(20);

  RegisterBenchmark("Stack/Library", Stack, library)->Iterations(1);
  std::function<bool()> request8kCall = [path] { return LibraryRequest8K(path); };
  RegisterBenchmark("Stack/Request8K", Stack, request8kCall)->Iterations(1);
  RegisterBenchmark("Stack/Sequence8K", Stack, sequence)->Iterations(1);
  if (world.exported) RegisterBenchmark("Stack/Exported", Stack, exported)->Iterations(1);
  RegisterBenchmark("Stack/Floor", Stack, floor)->Iterations(1);
  RegisterBenchmark("Stack/Curl", Stack, curl)->Iterations(1);
  RegisterBenchmark("Size/Stripped", StrippedSize)->Iterations(1);

  std::vector<std::u16string> threadPaths;
  for (int t = 0; t < 8; ++t) threadPaths.push_back(Widen(FilePath("thread-" + std::to_string(t) + ".json")));
  std::vector<ThreadContender> threads = {
      {"floor", [](int) { return FloorListing(*gWorld->floor); }},
      {"library", [threadPaths](int t) { return LibraryListing(threadPaths[static_cast<size_t>(t)]); }},
  };
  for (int count : {1, 2, 4, 8}) {
    RegisterBenchmark(("Threads/" + std::to_string(count)).c_str(), Threads, threads, count)->UseRealTime();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The floor client writes with plain write(): a server that has gone must
  // not end the benchmark.
  signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  World world;
  gWorld = &world;
  bool ok = SetUp(world);
  if (ok) {
    Register(world);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    ok = reporter.Passed();
  }
  benchmark::Shutdown();
  world.server.reset();
  std::error_code ignored;
  if (!world.dir.empty()) std::filesystem::remove_all(world.dir, ignored);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
