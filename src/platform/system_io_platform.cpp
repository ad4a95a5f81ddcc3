#include "platform/system_io_platform.h"

#include "platform/os/system_io.h"

namespace taskclient {

bool SystemIoPlatform::StartNetworking() { return io::StartSockets(); }

void SystemIoPlatform::StopNetworking() { io::StopSockets(); }

bool SystemIoPlatform::Resolve(const char* host, AddressList* addresses) {
  return io::LookUpHost(host, addresses);
}

bool SystemIoPlatform::OpenSocket(Connection* connection, int family) {
  connection->socket = io::OpenStreamSocket(family);
  return connection->socket != kNoSocket;
}

uint32_t SystemIoPlatform::Milliseconds() { return io::Milliseconds(); }

bool SystemIoPlatform::OpenFileForWriting(const tc_text16* path, File* file) {
  return io::OpenForWriting(path, file);
}

Platform::BodyFileOpening SystemIoPlatform::OpenBodyFile(const tc_text16* path, const File* source,
                                                         File* file) {
  // Opened before it is emptied, so that the same file is found by what it
  // is rather than by its name, and left whole.
  if (!io::OpenForWritingKept(path, file)) return kFileNotOpened;
  if (io::SameFile(source, file)) {
    io::CloseFileHandle(file);
    return kFileIsSource;
  }
  if (!io::EmptyFile(file)) {
    io::CloseFileHandle(file);
    return kFileNotOpened;
  }
  return kFileOpened;
}

bool SystemIoPlatform::WriteToFile(File* file, const char* bytes, size_t length) {
  return io::WriteAll(file, bytes, length);
}

bool SystemIoPlatform::OpenFileForReading(const tc_text16* path, File* file) {
  return io::OpenForReading(path, file);
}

long SystemIoPlatform::ReadFile(File* file, char* buffer, size_t capacity) {
  return io::ReadSome(file, buffer, capacity);
}

bool SystemIoPlatform::CloseFile(File* file) { return io::CloseFileHandle(file); }

bool SystemIoPlatform::Narrow(const tc_text16* text, char* output, size_t capacity, size_t* length) {
  return io::ToCodePage(text, output, capacity, length);
}

}  // namespace taskclient
