// The half of a platform that is the operating system's, shared by every TLS
// backend: networking, name resolution, the socket itself, files and text,
// each handed to the OS layer (os/system_io.h). A backend (tls/) derives
// from it and adds its TLS.
#ifndef TASKCLIENT_PLATFORM_SYSTEM_PLATFORM_H
#define TASKCLIENT_PLATFORM_SYSTEM_PLATFORM_H

#include "platform/platform.h"

// Whether the build checks the server's certificate: 0 (every certificate
// accepted) unless the build sets it to 1.
#ifndef TASKCLIENT_VERIFY_SERVER
#define TASKCLIENT_VERIFY_SERVER 0
#endif

namespace taskclient {

// Bytes one receive takes from the connection into the connection's storage,
// for a backend that receives into it.
const size_t kReceiveChunk = 20000;

class SystemIoPlatform : public Platform {
 public:
  virtual bool StartNetworking();
  virtual void StopNetworking();
  virtual bool Resolve(const char* host, uint32_t* address);
  // A non-blocking stream socket.
  virtual bool OpenSocket(Connection* connection);
  virtual bool OpenResponseFile(const tc_text16* path, ResponseFile* file);
  virtual bool WriteResponseFile(ResponseFile* file, const char* bytes, size_t length);
  virtual bool OpenFileForReading(const tc_text16* path, ResponseFile* file);
  virtual long ReadFile(ResponseFile* file, char* buffer, size_t capacity);
  virtual bool CloseResponseFile(ResponseFile* file);
  virtual bool Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length);
};

}  // namespace taskclient

#endif
