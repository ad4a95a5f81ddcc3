// The half of a platform that is the operating system's, shared by every TLS
// backend: networking, name resolution, the socket itself, files and text,
// each handed to the OS layer (os/system_io.h). A backend (tls/) derives
// from it and adds its TLS.
#ifndef TASKCLIENT_PLATFORM_SYSTEM_IO_PLATFORM_H
#define TASKCLIENT_PLATFORM_SYSTEM_IO_PLATFORM_H

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
  virtual bool Resolve(const char* host, AddressList* addresses);
  // A non-blocking stream socket.
  virtual bool OpenSocket(Connection* connection, int family);
  virtual uint32_t Milliseconds();
  virtual bool OpenFileForWriting(const tc_text16* path, File* file);
  virtual BodyFileOpening OpenBodyFile(const tc_text16* path, const File* source, File* file);
  virtual bool WriteToFile(File* file, const char* bytes, size_t length);
  virtual bool OpenFileForReading(const tc_text16* path, File* file);
  virtual long ReadFile(File* file, char* buffer, size_t capacity);
  virtual bool CloseFile(File* file);
  virtual bool Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length);
};

// The one object of a build's backend, which its SystemPlatform() returns.
// It is made on the first call rather than when the library is loaded: before
// C++11 an object with virtual functions at namespace scope is set up by code
// that runs at load, and a DLL must run none. It needs no destructor, so
// nothing is registered to run at unload either. The library is compiled
// without thread-safe local statics (no runtime lock the device lacks, as
// with Microsoft's compilers before Visual Studio 2015): two first calls at
// once may both set the object up, which only stores its table of virtual
// functions, the same for both, and it holds no data.
template <class Backend>
Platform& TheBackend() {
  static Backend backend;
  return backend;
}

}  // namespace taskclient

#endif
