#include "support/scripted_server.h"

#include <chrono>
#include <thread>

namespace testsupport {

Reply Respond(std::string bytes) {
  Reply reply;
  reply.pieces.push_back(std::move(bytes));
  return reply;
}

ScriptedServer::ScriptedServer(Reply reply)
    : reply_(std::move(reply)), server_([this](TlsStream& stream) { Handle(stream); }) {}

void ScriptedServer::SetReply(Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_ = std::move(reply);
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string ScriptedServer::LastRequest() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? std::string() : requests_.back();
}

taskclient::Service ScriptedServer::service(int timeoutMs) const {
  return taskclient::Service{"127.0.0.1", server_.port(), timeoutMs, timeoutMs};
}

void ScriptedServer::Handle(TlsStream& stream) {
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reply = reply_;
  }
  if (reply.readRequest) {
    std::string error;
    auto request = stream.ReadRequest(5000, &error);
    std::string recorded = request ? request->raw + stream.ReadPending(30) : "!" + error;
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(recorded);
  }
  for (const std::string& piece : reply.pieces) {
    if (!stream.Write(piece)) break;
    if (reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
  }
  switch (reply.end) {
    case Reply::End::kClose:
      stream.Close();
      break;
    case Reply::End::kAbruptClose:
      stream.Close(true);
      break;
    case Reply::End::kHold:
      stream.AwaitClose(20000);
      break;
  }
}

}  // namespace testsupport
