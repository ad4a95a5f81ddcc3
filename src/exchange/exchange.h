// One whole exchange with the service: connection, request, reply capture.
#ifndef TASKCLIENT_EXCHANGE_EXCHANGE_H
#define TASKCLIENT_EXCHANGE_EXCHANGE_H

#include <stddef.h>

#include "portable.h"
#include "exchange/request.h"
#include "result.h"
#include "exchange/service.h"
#include "text/text.h"
#include "platform/platform.h"

namespace taskclient {

// The platform's room for one call (kConnectionStorage bytes on the call's
// stack), aligned for any type.
union ConnectionStorage {
  char bytes[kConnectionStorage];
  void* pointer;
  uint64_t integer;
  double real;
};

// Resolves the service's host: its addresses, as many as the list keeps, or
// kResolveFailed when there is none.
Result Resolved(Platform& platform, const Service& service, AddressList* addresses);

// Connects to the host's addresses in turn until one completes the TLS
// handshake, each on a socket of its own family set up afresh: a refused or
// unreachable address, or a handshake that fails there, moves on to the next
// (nothing has been sent yet). The connect budget covers every attempt
// together, handshakes included, so a host with many dead addresses or a
// server that trickles its handshake costs no more than the budget. An
// address whose family the system cannot make a socket for is passed over. A
// refused certificate ends the call: every address presents the same host.
// Returns kOk, or kTlsModeFailed, kCertHookFailed, kConnectFailed or
// kCertRefused. What it leaves held in `connection` the caller releases.
Result Connected(Platform& platform, const Service& service, const AddressList& addresses,
                 Connection* connection);

// Connects to `service` (its host's addresses in turn, until one completes
// the handshake within the connect budget), sends `request` and then the
// `restLength` bytes at `rest` (the part of the body the request text had no
// room for), and copies the reply, byte for byte, into the file at
// `responsePath` until the reply's HTTP framing says it has ended.
// Networking, socket and file are acquired in that order and released as
// socket, file, networking on every path; the socket of an address that
// failed is released before the next address gets one.
//
// The file is opened once the connection is up and before anything is sent,
// so a file that cannot be opened costs no request, and every failure before
// that point leaves an existing file as it was.
Result RunExchange(Platform& platform, const Service& service, const Text& request, const char* rest,
                   size_t restLength, const tc_text16* responsePath);

// Composes the request from `parts` and runs the exchange: the one way every
// operation sends. The body goes into the request text as far as it fits, so
// a small request leaves in one piece; the rest follows it.
Result SendRequest(Platform& platform, const Service& service, const RequestParts& parts,
                   const tc_text16* responsePath);

}  // namespace taskclient

#endif
