// Restarts of map servers that ended on their own ("RestartExitedMaps"), so that a map
// whose server crashed comes back without an operator, and a server that crashes over and
// over cannot storm the machine.
//
// A map qualifies when its map server, launched or adopted by this manager run, has ended
// while the map was active, and nobody asked for the end (the operator's close, kill,
// CloseAll, the stop of the service). It is started again after a back-off that doubles
// from 1 s up to 5 minutes and starts again from 1 s once a server has run for 10 minutes;
// and all automatic restarts together stay within a number per minute. Every restart is
// logged with its reason and counted, by map and reason, for the metrics.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

class ExitedMapRestarts {
 public:
  static constexpr uint32_t kFirstBackoffMs = 1000;
  static constexpr uint32_t kMaxBackoffMs = 5 * 60 * 1000;
  static constexpr uint32_t kSteadyRunMs = 10 * 60 * 1000;

  // Why a map server was started again.
  enum Reason { rrExited = 0, rrDisconnected = 1, rrReasonCount };
  static const char* ReasonName(Reason reason);

  // One map's state, by map id.
  struct MapState {
    uint32_t Pid = 0;        // the process last seen running
    uint32_t SeenSince = 0;  // tick when that process was first seen running
    uint32_t BackoffMs = kFirstBackoffMs;
    bool Pending = false;  // ended; a restart is due at DueTick
    uint32_t DueTick = 0;
  };

  // Seen on a check: the map's process `pid` runs. Resets the back-off after a steady run.
  void NoteRunning(int mapId, uint32_t pid, uint32_t now);
  // Seen on a check: the map's process ended by itself. Returns the delay before the
  // restart when this is news (0 when the end was noted already).
  uint32_t NoteExited(int mapId, uint32_t now);
  // True when the restart of the map is due and the rate allows one now.
  bool RestartDue(int mapId, uint32_t now, int perMinute);
  // A restart was made (or the map was started some other way): counts it by reason and,
  // for automatic restarts, against the rate.
  void NoteRestart(int mapId, Reason reason, uint32_t now);
  // Forgets a map's pending restart (its map server was started by another way).
  void Clear(int mapId);

  // Restarts of a map by reason, for the metrics (any thread).
  uint64_t RestartCount(int mapId, Reason reason) const;

 private:
  mutable std::mutex m_Mutex;  // the counts are read by the metrics thread
  std::map<int, MapState> m_Maps;
  std::map<int, uint64_t> m_Counts[rrReasonCount];
  std::deque<uint32_t> m_Recent;  // ticks of the automatic restarts of the last minute
};
