// The network core in memory, for every test and benchmark that drives the status link
// without a network: messages the test pushes are received, messages sent are kept.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/ITiravo.h"
#include "interfaces/MMORPGPacket.h"
#include "statuslink/NetCore.h"

class FakeTiravo : public ITiravo {
 public:
  struct Message {
    std::string head;
    std::string body;
  };

  // Keeps at most `keep` sent messages, the latest (a fuzzer or a benchmark sends millions).
  explicit FakeTiravo(std::size_t keep = std::numeric_limits<std::size_t>::max()) : m_Keep(keep) {}

  int Start() override { return ++starts; }
  bool Connect(const char* ip, int port) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_ConnectIp = ip != nullptr ? ip : "<null>";
    connectPort = port;
    return connectResult;
  }
  int Resume() override { return ++resumes; }
  int Stop() override { return ++stops; }
  bool IsConnected() override { return connected.load(); }
  bool NeedLogin() override { return needLogin.load(); }
  void ClearNeedLogin() override { needLogin = false; }
  bool SendPack(const char* head, int headLen, const char* body, int bodyLen) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++sent;
    if (m_Keep == 0) return true;
    // The oldest message's buffers are reused, as a transport reuses its frame buffer.
    Message message;
    if (m_Sent.size() >= m_Keep) {
      message = std::move(m_Sent.front());
      m_Sent.erase(m_Sent.begin());
    }
    message.head.assign(head, static_cast<std::size_t>(headLen));
    message.body.assign(body, static_cast<std::size_t>(bodyLen));
    m_Sent.push_back(std::move(message));
    return true;
  }
  bool PopRecvPack(MMORPG::MMORPGPacket* packet) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Inbox.empty()) return false;
    const Message message = m_Inbox.front();
    m_Inbox.pop_front();
    std::string head = message.head;
    head.resize(9, '\0');
    packet->SetHead(head.data(), 9);
    packet->ReadData(message.body.data(), static_cast<int>(message.body.size()));
    return true;
  }
  int GetRecvCount() override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return static_cast<int>(m_Inbox.size());
  }
  void Shutdown() override { ++shutdowns; }

  // A message the core receives from the far side.
  void Receive(const std::string& head, const std::string& body) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Inbox.push_back({head, body});
  }
  std::vector<Message> Sent() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Sent;
  }
  // The body of the last message sent ("" when none was).
  std::string LastBody() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Sent.empty() ? std::string() : m_Sent.back().body;
  }
  // Head and body bytes of the last message sent (0 when none was).
  std::size_t LastSize() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Sent.empty() ? 0 : m_Sent.back().head.size() + m_Sent.back().body.size();
  }
  void ClearSent() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Sent.clear();
  }
  std::string ConnectIp() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_ConnectIp;
  }

  std::atomic<bool> connected{true};
  std::atomic<bool> needLogin{false};
  std::atomic<int> starts{0}, resumes{0}, stops{0}, shutdowns{0}, sent{0};
  bool connectResult = true;
  int connectPort = 0;

 private:
  const std::size_t m_Keep;
  std::mutex m_Mutex;
  std::deque<Message> m_Inbox;
  std::vector<Message> m_Sent;
  std::string m_ConnectIp;
};

// The core the status link finds through GetTiravo while a test installs it (nullptr: the
// link loads the real component again).
inline FakeTiravo*& InstalledCore() {
  static FakeTiravo* core = nullptr;
  return core;
}
inline ITiravo* GetInstalledCore() { return InstalledCore(); }
inline void InstallCore(FakeTiravo* core) {
  InstalledCore() = core;
  SetNetCoreForTesting(core != nullptr ? &GetInstalledCore : nullptr);
}
