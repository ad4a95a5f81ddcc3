// The device: Winsock with the platform's secure sockets for TLS, the
// platform's code page for system text, and the C runtime for the response
// file. Desktop Windows compiles the same code (the secure-socket calls then
// fail at run time); only the device runs it.
#ifndef TASKCLIENT_PLATFORM_WINCE_WINCE_PLATFORM_H
#define TASKCLIENT_PLATFORM_WINCE_WINCE_PLATFORM_H

#include "platform/platform.h"

namespace taskclient {

class WinCePlatform : public Platform {
 public:
  virtual bool StartNetworking();
  virtual void StopNetworking();
  virtual bool Resolve(const char* host, uint32_t* address);
  virtual bool OpenSocket(Connection* connection);
  virtual bool SetTlsMode(Connection* connection, const char* serverName);
  virtual bool InstallAcceptAllHook(Connection* connection);
  virtual bool CertificateRefused(const Connection* connection);
  virtual bool Connect(Connection* connection, uint32_t address, uint16_t port, int timeoutMs);
  virtual bool Send(Connection* connection, const char* bytes, size_t length, int timeoutMs);
  virtual long Receive(Connection* connection, const char** bytes, int timeoutMs);
  virtual void CloseSocket(Connection* connection);
  virtual bool OpenResponseFile(const tc_text16* path, ResponseFile* file);
  virtual bool WriteResponseFile(ResponseFile* file, const char* bytes, size_t length);
  virtual bool OpenFileForReading(const tc_text16* path, ResponseFile* file);
  virtual long ReadFile(ResponseFile* file, char* buffer, size_t capacity);
  virtual bool CloseResponseFile(ResponseFile* file);
  virtual bool Narrow(const tc_text16* text, NarrowEncoding encoding, char* output, size_t capacity,
                      size_t* length);

 protected:
  ~WinCePlatform() = default;
};

}  // namespace taskclient

#endif
