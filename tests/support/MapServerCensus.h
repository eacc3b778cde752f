// The map servers that run from one directory, counted from /proc by the map key on their
// command line: what a test checks "one map server per map" against, whatever the records
// and the managers believe.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/ProcStat.h"
#include "support/TestSupport.h"

// Map key -> ids of the running (not zombie) processes whose program lies in `programDir`
// (ending with "/"; links resolved) and whose first argument is the key, when that key
// begins with `keyPrefix`.
inline std::map<std::string, std::vector<uint32_t>> MapServersByKey(const std::string& programDir,
                                                                    const std::string& keyPrefix = "") {
  namespace fs = std::filesystem;
  std::map<std::string, std::vector<uint32_t>> servers;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code linkError;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", linkError);
    if (linkError || exe.parent_path().string() + "/" != programDir) continue;
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string program, key;
    std::getline(cmdline, program, '\0');
    std::getline(cmdline, key, '\0');
    if (key.compare(0, keyPrefix.size(), keyPrefix) != 0) continue;
    const uint32_t pid = static_cast<uint32_t>(std::stoul(name));
    const char state = ProcState(pid);
    if (state != 'Z' && state != 'X') servers[key].push_back(pid);
  }
  return servers;
}

// Waits until the map server `pid` of map `key`, started from `programDir` with the "hang"
// fault, has hung, by its own log line: from then on it writes neither figures nor answers,
// so what a test stores in its record stays as stored.
inline bool WaitUntilMapServerHung(const std::string& programDir, const std::string& key, uint32_t pid) {
  const std::string log = programDir + "Log/" + key + "_" + std::to_string(pid) + ".log";
  return WaitUntil([&] { return ReadFile(log).find("hang switch") != std::string::npos; });
}
