#include "launch/ExitedMapRestarts.h"

#include <algorithm>

const char* ExitedMapRestarts::ReasonName(Reason reason) {
  switch (reason) {
    case rrExited: return "exited";
    case rrDisconnected: return "disconnected";
    default: return "unknown";
  }
}

void ExitedMapRestarts::NoteRunning(int mapId, uint32_t pid, uint32_t now) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  MapState& state = m_Maps[mapId];
  if (state.Pid != pid) {
    state.Pid = pid;
    state.SeenSince = now;
  }
  state.Pending = false;
}

uint32_t ExitedMapRestarts::NoteExited(int mapId, uint32_t now) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  MapState& state = m_Maps[mapId];
  if (state.Pending) return 0;
  // A server that ran steadily before it ended starts the back-off afresh.
  if (state.Pid != 0 && now - state.SeenSince >= kSteadyRunMs) state.BackoffMs = kFirstBackoffMs;
  const uint32_t delay = state.BackoffMs;
  state.Pending = true;
  state.DueTick = now + delay;
  state.BackoffMs = std::min(state.BackoffMs * 2, kMaxBackoffMs);
  return delay;
}

bool ExitedMapRestarts::RestartDue(int mapId, uint32_t now, int perMinute) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  auto it = m_Maps.find(mapId);
  if (it == m_Maps.end() || !it->second.Pending) return false;
  if (static_cast<int32_t>(now - it->second.DueTick) < 0) return false;
  while (!m_Recent.empty() && now - m_Recent.front() >= 60000) m_Recent.pop_front();
  return static_cast<int>(m_Recent.size()) < perMinute;
}

void ExitedMapRestarts::NoteRestart(int mapId, Reason reason, uint32_t now) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  ++m_Counts[reason][mapId];
  MapState& state = m_Maps[mapId];
  state.Pending = false;
  state.Pid = 0;
  state.SeenSince = now;
  if (reason == rrExited) m_Recent.push_back(now);
}

void ExitedMapRestarts::Clear(int mapId) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  auto it = m_Maps.find(mapId);
  if (it != m_Maps.end()) it->second.Pending = false;
}

uint64_t ExitedMapRestarts::RestartCount(int mapId, Reason reason) const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  auto it = m_Counts[reason].find(mapId);
  return it == m_Counts[reason].end() ? 0 : it->second;
}
