// A test with a scripted TLS server on 127.0.0.1 and a response file of its
// own in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include "support/scripted_server.h"
#include "testing/text16.h"

namespace testsupport {

class ServerTest : public ::testing::Test {
 protected:
  ScriptedServer server;
  TempDir dir;
  std::filesystem::path file = dir / "reply.bin";
  std::u16string path = PathText(file);
};

}  // namespace testsupport
