// The certificate rules of the BearSSL path, as X.509 engines BearSSL calls
// during the handshake: one that accepts every chain (the default build), and,
// in a build that checks the server, BearSSL's own engine held to what
// OpenSSL's check refuses too. The driver (bearssl_platform.cpp) keeps one of
// them in each session's storage.
#ifndef TASKCLIENT_PLATFORM_TLS_BEARSSL_CERTIFICATES_H
#define TASKCLIENT_PLATFORM_TLS_BEARSSL_CERTIFICATES_H

#include <bearssl.h>

#include "portable.h"
#include "platform/system_io_platform.h"

namespace taskclient {

// The certificate rule as an X.509 engine for BearSSL: every chain is
// accepted, nothing in it is judged (issuer, dates, names, usages). The
// server's public key, which the handshake needs to check the server's key
// exchange signature, is taken from the first (end-entity) certificate.
struct AcceptAnyCertificate {
  const br_x509_class* vtable;  // first: BearSSL hands back a pointer to it
  br_x509_decoder_context decoder;
  unsigned certificates;  // seen so far in the chain
};

// Sets `rule` up to accept every chain: BearSSL is then handed &rule->vtable.
void SetUpAcceptAny(AcceptAnyCertificate* rule);

#if TASKCLIENT_VERIFY_SERVER
// What the check needs of the server's own certificate beyond what BearSSL's
// X.509 engine judges: whether it has alternative names (without them the
// engine would match the host against the subject's CN, which OpenSSL's check
// never does) and whether its extended key usage, if it has one, allows a
// server (the engine ignores the extension). A small DER reader takes the
// certificate as its bytes arrive and descends only along the way to those
// two extensions: Certificate, tbsCertificate, [3], Extensions, Extension,
// and for the extended key usage its OCTET STRING, SEQUENCE and purposes.
struct LeafReading {
  enum Step { kTag, kLength, kLengthMore, kSkip, kCapture };
  enum Extension { kOtherExtension, kUsageExtension };
  static const unsigned kMaxDepth = 8;
  Step step;
  uint32_t position;               // bytes read so far
  uint32_t ends[kMaxDepth];        // where each open element ends
  unsigned children[kMaxDepth + 1];  // elements begun so far at each depth
  unsigned depth;                  // open elements
  unsigned char tag;               // of the element being read
  unsigned lengthBytes;            // of its long-form length, still to come
  uint32_t left;                   // bytes of its content still to skip or capture
  unsigned char captured[10];      // the start of an OID being captured
  uint32_t capturedLength;         // its whole length
  Extension extension;             // the one being read
  bool malformed;
  bool hasNames;                   // a subjectAltName extension
  bool hasUsage;                   // an extKeyUsage extension
  bool serverUsage;                // with serverAuth among its purposes
};

// The certificate rule of a build that checks the server: BearSSL's X.509
// engine judges the chain against the compiled-in anchors, its dates against
// the device's clock, and the name against the host the call connects to;
// SetUpChecking and the reading above hold it to what OpenSSL's check
// refuses too. BearSSL hands the engine the name it announced, which is none
// for an address; this wrapper gives it the host itself, so an address is
// checked too (and refused: the engine matches host names only).
struct CheckedCertificate {
  const br_x509_class* vtable;  // first: BearSSL hands back a pointer to it
  br_x509_minimal_context minimal;
  const char* host;
  unsigned certificates;  // begun so far in the chain
  LeafReading leaf;
};

// Sets `check` up against the compiled-in anchors for `host`, the name the
// server's certificate must carry: BearSSL is then handed &check->vtable.
void SetUpChecking(CheckedCertificate* check, const char* host);
#endif

}  // namespace taskclient

#endif
