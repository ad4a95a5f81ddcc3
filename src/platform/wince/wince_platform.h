// The device: Winsock with the platform's secure sockets for TLS, the
// platform's code page for system text, and the C runtime for the response
// file. Desktop Windows compiles the same code (the secure-socket calls then
// fail at run time); only the device runs it.
#ifndef TASKCLIENT_PLATFORM_WINCE_WINCE_PLATFORM_H
#define TASKCLIENT_PLATFORM_WINCE_WINCE_PLATFORM_H

#include "platform/system_platform.h"

namespace taskclient {

class WinCePlatform : public SystemIoPlatform {
 public:
  virtual bool OpenSocket(Connection* connection);
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallAcceptAllHook(Connection* connection);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Connect(Connection* connection, uint32_t address, uint16_t port, int timeoutMs);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);

 protected:
  ~WinCePlatform() = default;
};

}  // namespace taskclient

#endif
