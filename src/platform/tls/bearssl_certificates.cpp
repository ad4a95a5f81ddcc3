// The certificate rules of the BearSSL path (bearssl_certificates.h).
#include "platform/tls/bearssl_certificates.h"

#include <string.h>

#if defined(UNDER_CE)
#include <windows.h>
#endif

#if TASKCLIENT_VERIFY_SERVER
// The trust anchors compiled in from the bundle the build named.
extern "C" const br_x509_trust_anchor* taskclient_trust_anchors(size_t* count);
#endif

namespace taskclient {

namespace {

#if TASKCLIENT_VERIFY_SERVER

const unsigned char kSubjectAltNameOid[] = {0x55, 0x1D, 0x11};           // 2.5.29.17
const unsigned char kExtKeyUsageOid[] = {0x55, 0x1D, 0x25};              // 2.5.29.37
const unsigned char kServerAuthOid[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};  // 1.3.6.1.5.5.7.3.1

bool CapturedIs(const LeafReading* reading, const unsigned char* oid, size_t length) {
  return reading->capturedLength == length && memcmp(reading->captured, oid, length) == 0;
}

// A captured OID, read in full: an extension's, or a purpose of the extended
// key usage.
void Captured(LeafReading* reading) {
  if (reading->depth == 5) {
    if (CapturedIs(reading, kSubjectAltNameOid, sizeof kSubjectAltNameOid)) reading->hasNames = true;
    if (CapturedIs(reading, kExtKeyUsageOid, sizeof kExtKeyUsageOid)) reading->extension = LeafReading::kUsageExtension;
  } else if (CapturedIs(reading, kServerAuthOid, sizeof kServerAuthOid)) {
    reading->serverUsage = true;
  }
}

// Closes the open elements that end where the reading is.
void CloseEnded(LeafReading* reading) {
  while (reading->depth > 0 && reading->position == reading->ends[reading->depth - 1]) --reading->depth;
}

// The header of an element has been read (its content is `length` bytes):
// descends into it, captures it or skips it, by where it stands.
void Begin(LeafReading* reading, uint32_t length) {
  unsigned depth = reading->depth;
  unsigned index = reading->children[depth]++;
  unsigned char tag = reading->tag;
  if (depth > 0 && length > reading->ends[depth - 1] - reading->position) {
    reading->malformed = true;
    return;
  }
  bool usage = reading->extension == LeafReading::kUsageExtension;
  bool descend = false, capture = false;
  switch (depth) {
    case 0:  // Certificate
    case 1:  // tbsCertificate, its first element
      descend = tag == 0x30 && index == 0;
      break;
    case 2:  // [3], the extensions
      descend = tag == 0xA3;
      break;
    case 3:  // Extensions
      descend = tag == 0x30;
      break;
    case 4:  // an Extension
      descend = tag == 0x30;
      reading->extension = LeafReading::kOtherExtension;
      break;
    case 5:  // extnID, critical, extnValue
      capture = tag == 0x06;
      descend = tag == 0x04 && usage;
      break;
    case 6:  // the extended key usage's purposes
      descend = tag == 0x30 && usage;
      if (descend) reading->hasUsage = true;
      break;
    case 7:  // one purpose
      capture = tag == 0x06 && usage;
      break;
  }
  reading->left = length;
  reading->step = LeafReading::kSkip;
  if (descend) {
    reading->ends[depth] = reading->position + length;
    reading->children[depth + 1] = 0;
    reading->depth = depth + 1;
    reading->step = LeafReading::kTag;
  } else if (capture) {
    reading->capturedLength = length;
    reading->step = LeafReading::kCapture;
    if (length == 0) Captured(reading);
  }
  if (length == 0) {
    reading->step = LeafReading::kTag;
    CloseEnded(reading);
  }
}

void StartReading(LeafReading* reading) {
  memset(reading, 0, sizeof *reading);
  reading->step = LeafReading::kTag;
}

void Read(LeafReading* reading, const unsigned char* bytes, size_t length) {
  while (length > 0 && !reading->malformed) {
    if (reading->step == LeafReading::kSkip) {
      uint32_t piece = length < reading->left ? static_cast<uint32_t>(length) : reading->left;
      bytes += piece;
      length -= piece;
      reading->position += piece;
      reading->left -= piece;
      if (reading->left == 0) {
        reading->step = LeafReading::kTag;
        CloseEnded(reading);
      }
      continue;
    }
    unsigned char byte = *bytes++;
    --length;
    ++reading->position;
    switch (reading->step) {
      case LeafReading::kTag:
        // A certificate holds nothing past its one outer element, and no
        // tag number above 30; deeper than the way down is never opened.
        if ((reading->depth == 0 && reading->children[0] > 0) || (byte & 0x1F) == 0x1F ||
            reading->depth >= LeafReading::kMaxDepth) {
          reading->malformed = true;
          break;
        }
        reading->tag = byte;
        reading->step = LeafReading::kLength;
        break;
      case LeafReading::kLength:
        if (byte < 0x80) {
          Begin(reading, byte);
        } else {
          reading->lengthBytes = byte & 0x7Fu;
          reading->left = 0;
          reading->step = LeafReading::kLengthMore;
          if (reading->lengthBytes == 0 || reading->lengthBytes > 3) reading->malformed = true;
        }
        break;
      case LeafReading::kLengthMore:
        reading->left = (reading->left << 8) | byte;
        if (--reading->lengthBytes == 0) Begin(reading, reading->left);
        break;
      case LeafReading::kCapture: {
        uint32_t at = reading->capturedLength - reading->left;
        if (at < sizeof reading->captured) reading->captured[at] = byte;
        if (--reading->left == 0) {
          Captured(reading);
          reading->step = LeafReading::kTag;
          CloseEnded(reading);
        }
        break;
      }
      case LeafReading::kSkip:
        break;
    }
  }
}


CheckedCertificate* CheckOf(const br_x509_class** context) {
  return reinterpret_cast<CheckedCertificate*>(context);
}

const br_x509_class** Inner(const br_x509_class** context) { return &CheckOf(context)->minimal.vtable; }

void CheckedStartChain(const br_x509_class** context, const char* /*announced*/) {
  CheckOf(context)->certificates = 0;
  (*Inner(context))->start_chain(Inner(context), CheckOf(context)->host);
}
void CheckedStartCertificate(const br_x509_class** context, uint32_t length) {
  if (CheckOf(context)->certificates++ == 0) StartReading(&CheckOf(context)->leaf);
  (*Inner(context))->start_cert(Inner(context), length);
}
void CheckedAppend(const br_x509_class** context, const unsigned char* bytes, size_t length) {
  if (CheckOf(context)->certificates == 1) Read(&CheckOf(context)->leaf, bytes, length);
  (*Inner(context))->append(Inner(context), bytes, length);
}
void CheckedEndCertificate(const br_x509_class** context) { (*Inner(context))->end_cert(Inner(context)); }

// The engine's verdict, then the server certificate's names and usage: zero
// accepts the chain.
unsigned CheckedEndChain(const br_x509_class** context) {
  unsigned verdict = (*Inner(context))->end_chain(Inner(context));
  if (verdict != BR_ERR_OK) return verdict;
  const LeafReading& leaf = CheckOf(context)->leaf;
  if (leaf.malformed || leaf.depth != 0) return BR_ERR_X509_UNEXPECTED;
  if (!leaf.hasNames) return BR_ERR_X509_BAD_SERVER_NAME;
  if (leaf.hasUsage && !leaf.serverUsage) return BR_ERR_X509_FORBIDDEN_KEY_USAGE;
  return BR_ERR_OK;
}
const br_x509_pkey* CheckedServerKey(const br_x509_class* const* context, unsigned* usages) {
  const br_x509_class** inner = Inner(const_cast<const br_x509_class**>(context));
  return (*inner)->get_pkey(inner, usages);
}

const br_x509_class kCheckedCertificate = {
    sizeof(CheckedCertificate), CheckedStartChain, CheckedStartCertificate, CheckedAppend, CheckedEndCertificate,
    CheckedEndChain,            CheckedServerKey,
};

}  // namespace

void SetUpChecking(CheckedCertificate* check, const char* host) {
  size_t count = 0;
  const br_x509_trust_anchor* anchors = taskclient_trust_anchors(&count);
  br_x509_minimal_context* minimal = &check->minimal;
  br_x509_minimal_init(minimal, &br_sha256_vtable, anchors, count);
  // No SHA-1: a certificate signed with it is refused as unsupported. An
  // anchor's own signature is never checked.
  br_x509_minimal_set_hash(minimal, br_sha224_ID, &br_sha224_vtable);
  br_x509_minimal_set_hash(minimal, br_sha256_ID, &br_sha256_vtable);
  br_x509_minimal_set_hash(minimal, br_sha384_ID, &br_sha384_vtable);
  br_x509_minimal_set_hash(minimal, br_sha512_ID, &br_sha512_vtable);
  br_x509_minimal_set_rsa(minimal, br_rsa_pkcs1_vrfy_get_default());
  br_x509_minimal_set_ecdsa(minimal, br_ec_get_default(), br_ecdsa_vrfy_asn1_get_default());
  // RSA keys of at least 2048 bits (256 bytes), in every certificate. EC keys
  // are on P-256, P-384 or P-521: the engine refuses any other curve.
  br_x509_minimal_set_minrsa(minimal, 256);
#if defined(UNDER_CE)
  // Windows CE's build of BearSSL has no clock of its own: the device's
  // clock, as days since January 1st of year 0 and seconds in the day.
  SYSTEMTIME now;
  FILETIME ticks;
  GetSystemTime(&now);
  if (SystemTimeToFileTime(&now, &ticks)) {
    uint64_t seconds = ((static_cast<uint64_t>(ticks.dwHighDateTime) << 32) | ticks.dwLowDateTime) / 10000000u;
    br_x509_minimal_set_time(minimal, static_cast<uint32_t>(584754u + seconds / 86400u),
                             static_cast<uint32_t>(seconds % 86400u));
  }
#endif
  check->vtable = &kCheckedCertificate;
  check->host = host;
}

namespace {
#endif


AcceptAnyCertificate* RuleOf(const br_x509_class** context) {
  return reinterpret_cast<AcceptAnyCertificate*>(context);
}

void StartChain(const br_x509_class** context, const char* /*serverName*/) { RuleOf(context)->certificates = 0; }

void StartCertificate(const br_x509_class** context, uint32_t /*length*/) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) br_x509_decoder_init(&rule->decoder, 0, 0);
}

void AppendCertificate(const br_x509_class** context, const unsigned char* bytes, size_t length) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) br_x509_decoder_push(&rule->decoder, bytes, length);
}

void EndCertificate(const br_x509_class** context) { ++RuleOf(context)->certificates; }

// Zero accepts the chain. Only a chain without a certificate, or whose first
// certificate holds no key BearSSL can read, is refused: there is no key to
// go on with.
unsigned EndChain(const br_x509_class** context) {
  AcceptAnyCertificate* rule = RuleOf(context);
  if (rule->certificates == 0) return BR_ERR_X509_EMPTY_CHAIN;
  return static_cast<unsigned>(br_x509_decoder_last_error(&rule->decoder));
}

const br_x509_pkey* ServerKey(const br_x509_class* const* context, unsigned* usages) {
  if (usages) *usages = BR_KEYTYPE_KEYX | BR_KEYTYPE_SIGN;
  return br_x509_decoder_get_pkey(&RuleOf(const_cast<const br_x509_class**>(context))->decoder);
}

const br_x509_class kAcceptAnyCertificate = {
    sizeof(AcceptAnyCertificate), StartChain, StartCertificate, AppendCertificate, EndCertificate, EndChain,
    ServerKey,
};

}  // namespace

void SetUpAcceptAny(AcceptAnyCertificate* rule) {
  rule->vtable = &kAcceptAnyCertificate;
  rule->certificates = 0;
}

}  // namespace taskclient
