#include "interpose.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include <atomic>

#include "exchange/request.h"

// glibc's allocator under its own names, so the hooks below can reach it
// without looking anything up.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace bench {

namespace {

thread_local bool tCounting = false;
thread_local bool tInHook = false;
thread_local AllocationCounts tCounts;

// Where this executable is mapped: allocations called from here are the
// library's own (its objects are linked in), since only library code runs on
// the counting thread while counting is on.
const void* ExecutableBase() {
  static const void* base = [] {
    Dl_info info;
    return dladdr(reinterpret_cast<void*>(&ExecutableBase), &info) ? info.dli_fbase : nullptr;
  }();
  return base;
}

void Note(void* caller) {
  if (!tCounting || tInHook) return;
  tInHook = true;
  Dl_info info;
  memset(&info, 0, sizeof info);
  dladdr(caller, &info);
  const char* file = info.dli_fname ? info.dli_fname : "";
  if (info.dli_fbase == ExecutableBase() || strstr(file, "libtaskclient")) {
    if (tCounts.own++ == 0) tCounts.firstOwnCaller = info.dli_sname ? info.dli_sname : "?";
  } else if (strstr(file, "libssl") || strstr(file, "libcrypto")) {
    ++tCounts.openssl;
  } else if (strstr(file, "/libc.so")) {
    ++tCounts.libc;
  } else if (strstr(file, "libcurl")) {
    ++tCounts.curl;
  } else {
    ++tCounts.other;
  }
  tInHook = false;
}

using GetAddrInfo = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
using Connect = int (*)(int, const struct sockaddr*, socklen_t);

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

std::atomic<uint16_t> gApiPort{0};
std::atomic<long> gRedirectedLookups{0};

}  // namespace

void StartCountingAllocations() {
  ExecutableBase();
  tCounts = AllocationCounts();
  tCounting = true;
}

AllocationCounts StopCountingAllocations() {
  tCounting = false;
  return tCounts;
}

bool RedirectionActive() {
  return dlsym(RTLD_DEFAULT, "getaddrinfo") == reinterpret_cast<void*>(&::getaddrinfo) &&
         dlsym(RTLD_DEFAULT, "connect") == reinterpret_cast<void*>(&::connect) &&
         Next<GetAddrInfo>("getaddrinfo") != nullptr && Next<Connect>("connect") != nullptr;
}

void RedirectApiPortTo(uint16_t port) { gApiPort = port; }

long RedirectedLookups() { return gRedirectedLookups.load(); }

}  // namespace bench

using bench::Note;

extern "C" {

void* malloc(size_t size) {
  Note(__builtin_return_address(0));
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) {
  Note(__builtin_return_address(0));
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* memory = __libc_memalign(alignment, size);
  if (!memory) return ENOMEM;
  *block = memory;
  return 0;
}

// Numeric addresses only (AI_NUMERICHOST is forced, so no name is ever looked
// up); the API host stands for 127.0.0.1.
int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints, struct addrinfo** result) {
  static const bench::GetAddrInfo next = bench::Next<bench::GetAddrInfo>("getaddrinfo");
  if (!next) return EAI_FAIL;
  struct addrinfo numeric;
  memset(&numeric, 0, sizeof numeric);
  if (hints) numeric = *hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  if (node && strcmp(node, taskclient::kApiHost) == 0) {
    node = "127.0.0.1";
    ++bench::gRedirectedLookups;
  }
  return next(node, service, &numeric, result);
}

// Loopback only; 127.0.0.1:443 goes to the benchmark server.
int connect(int socket, const struct sockaddr* address, socklen_t length) {
  static const bench::Connect next = bench::Next<bench::Connect>("connect");
  if (!next) {
    errno = ENETUNREACH;
    return -1;
  }
  if (address && (address->sa_family == AF_INET || address->sa_family == AF_INET6)) {
    if (address->sa_family != AF_INET || length < sizeof(struct sockaddr_in)) {
      errno = ENETUNREACH;
      return -1;
    }
    struct sockaddr_in peer;
    memcpy(&peer, address, sizeof peer);
    if ((ntohl(peer.sin_addr.s_addr) >> 24) != 127) {
      errno = ENETUNREACH;
      return -1;
    }
    if (peer.sin_addr.s_addr == htonl(INADDR_LOOPBACK) && ntohs(peer.sin_port) == 443) {
      uint16_t port = bench::gApiPort.load();
      if (port == 0) {
        errno = ECONNREFUSED;
        return -1;
      }
      peer.sin_port = htons(port);
    }
    return next(socket, reinterpret_cast<const struct sockaddr*>(&peer), sizeof peer);
  }
  return next(socket, address, length);
}

}  // extern "C"
