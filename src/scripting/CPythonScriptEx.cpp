// The process-wide script host and its tracking switch.
#include "scripting/CPythonScriptEx.h"

#include "components/LogComponent.h"
#include "scripting/CPythonLock.h"

namespace {
CPythonScriptEx* g_Instance = nullptr;
}

CPythonScriptEx* CPythonScriptEx::GetInstance() {
  if (g_Instance == nullptr) g_Instance = new CPythonScriptEx();
  return g_Instance;
}

CPythonScriptEx::CPythonScriptEx() {
  EnableTrack(false);
  m_TrackLines.clear();
}

CPythonScriptEx::~CPythonScriptEx() { m_TrackLines.clear(); }

bool CPythonScriptEx::EnableTrack(bool on) {
  CPythonLock lock;  // the trace output is used under the lock (AddTraceLine)
  m_TrackLines.clear();
  if (on) {
    m_TraceOutput = [this](CPythonScript&, const std::string& line) {
      // Bounded like the host's own trace lines.
      if (m_TrackLines.size() > kMaxHistoryLines) m_TrackLines.clear();
      m_TrackLines.push_back(line);
    };
  } else {
    m_TraceOutput = [](CPythonScript&, const std::string& line) { LogObject()->LogInfo("%s", line.c_str()); };
  }
  m_TrackEnabled = on;
  LogObject()->LogInfo("CPythonScriptEx::EnableTrack(%d) OK", on ? 1 : 0);
  return on;
}
