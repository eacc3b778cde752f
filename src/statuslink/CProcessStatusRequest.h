// The request processor of the status link: every received message goes first to the
// handler the main window installed; without one, a base information request is answered
// with the manager's own two figures. Runs on the request thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "statuslink/ISSLogicProcess.h"

class CProcessStatusRequest {
 public:
  // `link` gives the line ID and server type of the keys.
  explicit CProcessStatusRequest(ISSLogicProcess* link) : m_Link(link) {}

  void SetRequestHandler(StatusRequestHandler handler, void* user);
  // A non-null function replaces the handler by a forwarder to it.
  void SetRequestFunc(StatusRequestFunc func);
  // True when the packet was answered (a null packet counts as answered).
  bool Process(MMORPG::MMORPGPacket* packet);

 private:
  static bool ForwardToRequestFunc(void* user, MMORPG::MMORPGPacket* packet);
  bool AnswerWithSelfUsage(MMORPG::MMORPGPacket* packet);

  ISSLogicProcess* m_Link;
  std::mutex m_Mutex;  // the handler and its user value change together
  StatusRequestHandler m_Handler = nullptr;
  void* m_User = nullptr;
  std::atomic<StatusRequestFunc> m_RequestFunc{nullptr};
};

// The manager's own usage figures, refreshed by the request thread once per pass (a new
// sample at most every 1500 ms). Both 0 until the first full sample.
void RefreshSelfUsage();
int SelfCpuUsage();
uint64_t SelfPagefileUsage();
// Forgets every sample (tests start from a clean state).
void ResetSelfUsageForTesting();
