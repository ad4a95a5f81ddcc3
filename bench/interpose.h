// Process-wide hooks the benchmarks install by defining C library functions
// in the benchmark executable, where they take precedence over libc's for the
// executable and every shared library it loads (libtaskclient.so included).
//
//  - Allocation counting: malloc, calloc, realloc and the aligned variants
//    are counted on the calling thread while counting is on, and each
//    allocation is put down to the object file that called the allocator.
//  - Loopback redirection: getaddrinfo only ever answers numeric addresses
//    (no name lookup can happen), except that the service's API host is
//    answered with 127.0.0.1; connect refuses every address outside
//    127.0.0.0/8 and sends 127.0.0.1:443 to the benchmark server's port. That
//    lets the exported functions, which always go to the API host on port 443,
//    run against the local server.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct AllocationCounts {
  long own = 0;      // called from the library's code (libtaskclient.so, or its objects in this executable)
  long openssl = 0;  // from libssl or libcrypto
  long libc = 0;     // from the C library (for the library: its resolver, getaddrinfo)
  long curl = 0;     // from libcurl
  long other = 0;    // from anything else (libstdc++, curl's own dependencies)
  std::string firstOwnCaller;  // symbol of the first allocation put down to the library, if any
};

// Counting covers the calling thread only, from Start to Stop.
void StartCountingAllocations();
AllocationCounts StopCountingAllocations();

// Whether the executable's getaddrinfo and connect are the ones every library
// reaches; without that, the exported functions must not be called.
bool RedirectionActive();
// Where connections to 127.0.0.1:443 go; 0 refuses them.
void RedirectApiPortTo(uint16_t port);
// getaddrinfo calls answered for the API host so far.
long RedirectedLookups();

}  // namespace bench
