// The processes behind the map records: whether a map's map server is alive, and killing
// it.
//
// A record can be written by any process of the user, so the ProcessId in it is untrusted.
// A process counts as alive, and may be killed, only when it is a map server: the process
// this manager run launched for the map (its handle), or, for a map server still running
// from an earlier manager run, a process opened by id whose program is one of the two map
// server programs of this machine's tree and whose user is ours. Its handle is then kept
// with the map, so the map is supervised as if this run had launched it. Any other process
// is "not alive" and is never signalled; that is logged once per map and process id.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class MapServerInfo;

class MapServerProcesses {
 public:
  // `mapDataDir` is where the map server programs lie ("VemoMapServer.exe" and
  // "VemoMapServerDM.exe", by their file names on this platform).
  explicit MapServerProcesses(const std::string& mapDataDir);

  // The liveness test: the map has a record whose ProcessId names a running map server.
  bool IsAlive(MapServerInfo& info) const;
  // Kills the map's process (exit code -1) when it is a running map server, and waits a
  // moment for its end. True when it was killed.
  bool KillProcess(MapServerInfo& info) const;
  // Kills a process through a handle of ours. True when it was killed.
  static bool KillProcess(int handle);

  // The map servers of this tree running as our user, by each argument they carry (so by
  // their map key among others), from one walk of /proc. A start pass makes it once,
  // before its first launch.
  using KeyIndex = std::unordered_map<std::string, std::vector<uint32_t>>;
  KeyIndex FindRunningByKey() const;
  // For a map whose record names no live map server of its own: a map server found by the
  // map's key in `index` is adopted (and the record repaired), so that a record rewritten
  // to another process while no manager watched it never hides the map's running server.
  // True when such a server runs, supervised or (without a handle) not.
  bool AdoptByKey(MapServerInfo& info, const KeyIndex& index) const;

  const std::vector<std::string>& Programs() const { return m_Programs; }

  // The exit status (a death by signal n gives 128 + n) of the map's last map server that
  // was seen ended, for the metrics (any thread). False before any was seen ended.
  void NoteExitStatus(int mapId, int status) const;
  bool LastExitStatus(int mapId, int* status) const;

 private:
  // A handle for `pid` when it is the map's server; 0 with the reason otherwise. A server
  // that runs but for which no handle can be had sets `*unsupervised`, logged once.
  int OpenMapServer(MapServerInfo& info, uint32_t pid, const char* caller, std::string* why, bool* unsupervised) const;

  std::vector<std::string> m_Programs;
  mutable std::mutex m_ExitMutex;
  mutable std::map<int, int> m_ExitStatus;  // by map id
};
