// TLS by BearSSL over the system's plain sockets (system_io.h): POSIX
// sockets on Linux, Winsock on desktop Windows and Windows CE. The session's
// state and its record buffer live in the storage the core lends each call,
// so a call allocates nothing and nothing outlives it.
#ifndef TASKCLIENT_PLATFORM_BEARSSL_BEARSSL_PLATFORM_H
#define TASKCLIENT_PLATFORM_BEARSSL_BEARSSL_PLATFORM_H

#include "platform/system_platform.h"

namespace taskclient {

class BearSslPlatform : public SystemIoPlatform {
 public:
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallAcceptAllHook(Connection* connection);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Connect(Connection* connection, uint32_t address, uint16_t port, int timeoutMs);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);

 protected:
  ~BearSslPlatform() = default;
};

}  // namespace taskclient

#endif
