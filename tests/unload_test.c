/* Loads the shipped library, makes one call and unloads it, many times over,
 * in a process run under LeakSanitizer: whatever the library made for the
 * process (its TLS configuration, its socket method table) must be freed when
 * it is unloaded, or the leak check at exit reports it.
 *
 * The library always connects to the service's API host. This program's own
 * getaddrinfo, exported to the library, answers 127.0.0.1 for every name, so
 * each call sets up TLS and then finds nothing listening on port 443: result
 * 24, no traffic beyond this machine. Usage: unload_test LIBRARY COUNT */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "taskclient.h"

static struct {
  struct addrinfo info;
  struct sockaddr_in address;
} answer;

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints, struct addrinfo** result) {
  (void)node;
  (void)service;
  (void)hints;
  memset(&answer, 0, sizeof answer);
  answer.address.sin_family = AF_INET;
  answer.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  answer.info.ai_family = AF_INET;
  answer.info.ai_socktype = SOCK_STREAM;
  answer.info.ai_addr = (struct sockaddr*)&answer.address;
  answer.info.ai_addrlen = sizeof answer.address;
  *result = &answer.info;
  return 0;
}

void freeaddrinfo(struct addrinfo* info) { (void)info; }

int main(int argc, char** argv) {
  static const tc_text16 token[] = {'t', 0};
  static const tc_text16 path[] = {'/', 'd', 'e', 'v', '/', 'n', 'u', 'l', 'l', 0};
  int count = argc > 2 ? atoi(argv[2]) : 200;
  if (argc < 2) {
    fprintf(stderr, "usage: unload_test LIBRARY COUNT\n");
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      fprintf(stderr, "dlopen: %s\n", dlerror());
      return 1;
    }
    int32_t (*list)(const tc_text16*, const tc_text16*);
    *(void**)&list = dlsym(library, "GTaskListTasksSSL");
    int32_t result = list ? list(token, path) : -1;
    if (result != TC_CONNECT_FAILED) {
      fprintf(stderr, "call %d: result %d, expected %d\n", i, (int)result, TC_CONNECT_FAILED);
      return 1;
    }
    if (dlclose(library) != 0) {
      fprintf(stderr, "dlclose: %s\n", dlerror());
      return 1;
    }
  }
  printf("%d loads, calls and unloads\n", count);
  return 0;
}
