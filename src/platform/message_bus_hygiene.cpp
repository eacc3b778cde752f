#include "platform/message_bus_hygiene.h"

#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/process.h"

namespace platform::bus {
namespace {

constexpr uint32_t kReportPeriodMs = 60000;

// Never destroyed: an end of the process may run after static destruction began.
std::mutex& OpenMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}
std::vector<std::string>& OpenBases() {
  static std::vector<std::string>* bases = new std::vector<std::string>;
  return *bases;
}

// The process that noted them: a forked child that ends at once leaves its parent's alone.
pid_t g_Owner = 0;

void RemoveOpenEndpointFiles() {
  std::lock_guard<std::mutex> lock(OpenMutex());
  if (g_Owner != getpid()) return;
  for (const std::string& base : OpenBases()) {
    unlink((base + ".info").c_str());
    unlink((base + ".sock").c_str());
  }
  OpenBases().clear();
}

}  // namespace

void NoteOpenEndpoint(const std::string& base) {
  {
    std::lock_guard<std::mutex> lock(OpenMutex());
    if (g_Owner != getpid()) OpenBases().clear();  // noted by the parent of a forked child
    g_Owner = getpid();
    OpenBases().push_back(base);
  }
  AtEndProcess(&RemoveOpenEndpointFiles);
}

void ForgetOpenEndpoint(const std::string& base) {
  std::lock_guard<std::mutex> lock(OpenMutex());
  std::vector<std::string>& bases = OpenBases();
  for (auto it = bases.begin(); it != bases.end(); ++it) {
    if (*it != base) continue;
    bases.erase(it);
    return;
  }
}

void ForeignDatagrams::Dropped(uid_t uid) {
  m_LastUid = uid;
  if (!m_Reported) {
    m_Reported = true;
    m_LastReport = GetTickCount();
    OutputDebugString("MessageBus: datagram from another user (" + std::to_string(uid) +
                      ") dropped; further ones are counted and reported once a minute");
    return;
  }
  ++m_Count;
  Report();
}

void ForeignDatagrams::Report() {
  if (m_Count == 0 || GetTickCount() - m_LastReport < kReportPeriodMs) return;
  OutputDebugString("MessageBus: " + std::to_string(m_Count) +
                    " more datagrams from other users dropped (the last from " + std::to_string(m_LastUid) + ")");
  m_Count = 0;
  m_LastReport = GetTickCount();
}

}  // namespace platform::bus
