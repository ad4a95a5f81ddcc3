// The half of a platform that is the operating system's, shared by every TLS
// choice: networking, name resolution, the socket itself, files and text,
// each handed to system_io.h. A platform derives from it and adds its TLS.
#ifndef TASKCLIENT_PLATFORM_SYSTEM_PLATFORM_H
#define TASKCLIENT_PLATFORM_SYSTEM_PLATFORM_H

#include "platform/platform.h"

namespace taskclient {

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
  virtual bool Narrow(const tc_text16* text, NarrowEncoding encoding, char* output, size_t capacity,
                      size_t* length);

 protected:
  ~SystemIoPlatform() = default;
};

}  // namespace taskclient

#endif
