#include "platform/system_platform.h"

#include "platform/system_io.h"

namespace taskclient {

bool SystemIoPlatform::StartNetworking() { return io::StartNetworking(); }

void SystemIoPlatform::StopNetworking() { io::StopNetworking(); }

bool SystemIoPlatform::Resolve(const char* host, uint32_t* address) { return io::Resolve(host, address); }

bool SystemIoPlatform::OpenSocket(Connection* connection) {
  connection->socket = io::OpenStreamSocket();
  return connection->socket != kNoSocket;
}

bool SystemIoPlatform::OpenResponseFile(const tc_text16* path, ResponseFile* file) {
  return io::OpenResponseFile(path, file);
}

bool SystemIoPlatform::WriteResponseFile(ResponseFile* file, const char* bytes, size_t length) {
  return io::WriteResponseFile(file, bytes, length);
}

bool SystemIoPlatform::OpenFileForReading(const tc_text16* path, ResponseFile* file) {
  return io::OpenFileForReading(path, file);
}

long SystemIoPlatform::ReadFile(ResponseFile* file, char* buffer, size_t capacity) {
  return io::ReadFile(file, buffer, capacity);
}

bool SystemIoPlatform::CloseResponseFile(ResponseFile* file) { return io::CloseResponseFile(file); }

bool SystemIoPlatform::Narrow(const tc_text16* text, NarrowEncoding encoding, char* output, size_t capacity,
                              size_t* length) {
  return io::Narrow(text, encoding, output, capacity, length);
}

}  // namespace taskclient
