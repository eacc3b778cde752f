// The process-wide script host: the host with a tracking switch that decides where trace
// lines go. Created on first use and never destroyed, so its interpreter lives until the
// process ends.
#pragma once

#include <string>
#include <vector>

#include "scripting/CPythonScript.h"

class CPythonScriptEx : public CPythonScript {
 public:
  CPythonScriptEx();
  virtual ~CPythonScriptEx();

  // The process-wide host, created by the first call. The first call is made before any
  // other thread can reach the host (it takes no lock).
  static CPythonScriptEx* GetInstance();

  // On: trace lines are also kept in the track lines; off: they are written to the log.
  // Empties the track lines and returns `on`.
  bool EnableTrack(bool on);
  bool TrackEnabled() const { return m_TrackEnabled; }
  const std::vector<std::string>& TrackLines() const { return m_TrackLines; }

 private:
  bool m_TrackEnabled = false;
  std::vector<std::string> m_TrackLines;
};
