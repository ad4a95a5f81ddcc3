#include "support/scripted_server.h"

#include <chrono>
#include <thread>

namespace testsupport {

Reply Respond(std::string bytes) {
  Reply reply;
  reply.pieces.push_back(std::move(bytes));
  return reply;
}

Reply Pieces(std::vector<std::string> pieces, Reply::End end, int pauseMs) {
  Reply reply;
  reply.pieces = std::move(pieces);
  reply.end = end;
  reply.pauseMs = pauseMs;
  return reply;
}

std::vector<std::string> Split(const std::string& bytes, size_t size) {
  std::vector<std::string> pieces;
  for (size_t i = 0; i < bytes.size(); i += size) pieces.push_back(bytes.substr(i, size));
  return pieces;
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  return all;
}

ScriptedServer::ScriptedServer(Reply reply, bool ipv6, const char* ipv4)
    : reply_(std::move(reply)),
      host_(ipv6 ? "::1" : ipv4 ? ipv4 : "127.0.0.1"),
      server_([this](TlsStream& stream) { Handle(stream); }, 0, ipv6, ipv4) {}

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
  return taskclient::Service{host_, server_.port(), timeoutMs, timeoutMs};
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
