// Where an exchange goes: the service's endpoint and its time limits.
#ifndef TASKCLIENT_EXCHANGE_SERVICE_H
#define TASKCLIENT_EXCHANGE_SERVICE_H

#include "portable.h"

namespace taskclient {

// The service's API host: resolved, announced in the TLS handshake and sent in
// the "Host" header. It serves the token path and the task paths alike.
extern const char kApiHost[];
const uint16_t kApiPort = 443;

// The default time limits: connecting, every address tried and the TLS
// handshake together, may take this long in all; after the handshake, a send
// or a receive may go this long without progress.
const int kDefaultTimeoutMs = 30000;

struct Service {
  const char* host;
  uint16_t port;
  int connectTimeoutMs;  // the whole connect, however it is spread over addresses and handshake
  int receiveTimeoutMs;  // each stall of a send or a receive
};

// The service's API host on port 443 with the default time limits.
Service ApiService();

// The endpoint the exported functions talk to. The shipped library defines it
// as ApiService(); the tools' build defines it from their own setting, so the
// demo runs the very wrappers that ship against a local service.
Service ExportedService();

}  // namespace taskclient

#endif
