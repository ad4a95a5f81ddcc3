// POSIX sockets with OpenSSL for TLS.
#ifndef TASKCLIENT_PLATFORM_POSIX_POSIX_PLATFORM_H
#define TASKCLIENT_PLATFORM_POSIX_POSIX_PLATFORM_H

#include "platform/system_platform.h"

namespace taskclient {

class PosixPlatform : public SystemIoPlatform {
 public:
  virtual void StopNetworking();
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallAcceptAllHook(Connection* connection);
  virtual bool Connect(Connection* connection, uint32_t address, uint16_t port, int timeoutMs);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);

 protected:
  ~PosixPlatform() = default;
};

}  // namespace taskclient

#endif
