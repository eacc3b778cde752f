// The status server link: drives the network core, logs in as "MapServer", sends a
// heartbeat every 60 seconds, and runs the request thread ThreadProcessSSRequest, which
// takes every received message out of the core as a pooled packet and routes it: first to
// the request processor, and what that leaves to the script queue for the script step.
//
// Threads: the window thread starts and stops the link and runs the script step; the
// request thread polls the core (2 ms between empty polls while connected, 500 ms while
// not). The stop flag and the settings the request thread reads are atomics; the script
// queue has its own lock; sends go through the core, which takes them from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "packet/CPacketQueue.h"
#include "statuslink/CProcessStatusRequest.h"
#include "statuslink/ISSLogicProcess.h"

class ITiravo;

class CSSLogicProcess final : public ISSLogicProcess {
 public:
  // Messages, and their body bytes, that the script queue holds at most; past either bound
  // the oldest are dropped (the core bounds its own receive queue at 16 MiB too).
  static constexpr int kScriptQueueLimit = 1000;
  static constexpr int64_t kScriptQueueBytes = 16 * 1024 * 1024;
  // Messages one pass of the request thread takes from the core at most, so that a peer
  // that never stops sending cannot keep the thread from seeing its stop flag.
  static constexpr int kMaxMessagesPerPass = 1000;
  static constexpr uint32_t kHeartbeatIntervalMs = 60000;

  CSSLogicProcess();
  ~CSSLogicProcess();
  CSSLogicProcess(const CSSLogicProcess&) = delete;
  CSSLogicProcess& operator=(const CSSLogicProcess&) = delete;

  int Start(bool scriptQueueing) override;
  bool Connect(const char* ip, int port) override;
  int Resume() override;
  int Stop() override;
  bool IsRunning() override;
  void SendLogin() override;
  void SetServerInfo(const char* name, int serverType, int lineId) override;
  int GetServerType() override;
  int GetLineId() override;
  void SetLineId(int lineId) override;
  bool SendPack(const char* head, int headLen, const char* body, int bodyLen) override;
  bool RunStatusScript() override;
  bool PopScriptPack(MMORPG::MMORPGPacket* packet) override;
  int GetScriptPackCount() override;
  void SetRequestHandler(StatusRequestHandler handler, void* user) override;
  void SetRequestFunc(StatusRequestFunc func) override;
  void ReleaseLink() override;
  virtual void SetStopFlag(bool stop);  // 18
  virtual bool IsStopping();            // 19

  // The link's SendPack as a plain function: the send function handed to the status logic
  // component. It uses nothing of the link object.
  static bool SendPackFunc(const char* head, int headLen, const char* body, int bodyLen);

  // One pass of the request thread's work after the connection check: login when the core
  // asks for it, the heartbeat when due, the manager's usage figures, the waiting messages.
  // False when nothing was waiting.
  bool RunRequestPass(ITiravo* core);

  const std::string& ServerIp() const { return m_ServerIp; }
  int ServerPort() const { return m_ServerPort; }
  const char* ServerName() const { return m_ServerName; }
  bool HasRequestThread() const { return m_Thread != nullptr; }

 private:
  class RequestThread;

  void SendHeartbeatIfDue();
  void DrainReceived(ITiravo* core);
  void QueueForScript(MMORPG::MMORPGPacket* packet);

  std::string m_ServerIp;
  int m_ServerPort = 0;
  uint32_t m_LastHeartbeat;  // request thread (set at construction before it exists)
  CPacketQueue m_ScriptQueue;
  std::unique_ptr<CProcessStatusRequest> m_Processor;
  std::atomic<bool> m_ScriptQueueing{false};
  char m_ServerName[60] = {};
  std::atomic<int> m_ServerType{0};
  std::atomic<int> m_LineId{0};
  std::atomic<bool> m_StopFlag{true};
  std::unique_ptr<RequestThread> m_Thread;
  bool m_ScriptQueueFull = false;              // request thread: a drop was reported in this burst
  std::atomic<int64_t> m_ScriptQueueBytes{0};  // body bytes of the queued packets
  std::atomic<bool> m_InScriptStep{false};
};

// The process-wide link: the existing one; else, when the core is loaded, a new one; else
// null.
CSSLogicProcess* GetSSLogicProcess();
// The existing link or null; never creates one.
CSSLogicProcess* PeekSSLogicProcess();

// The request thread's function; its argument is the link. Returns 0.
unsigned ThreadProcessSSRequest(void* link);

// Registers the status script's extension module "_IPY_SSLogicProcess" in the interpreter
// (defined with the module, IPY_SSLogicProcess.cpp).
extern "C" __attribute__((visibility("default"))) void _init_IPY_SSLogicProcess();
