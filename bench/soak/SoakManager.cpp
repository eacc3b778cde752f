// The soak run: the real manager with a few hundred maps for a long while, its service
// started through launch control, the status link connected and RestartExitedMaps on,
// while map servers crash, hang, report states 4, 5 and 6 and ignore close requests at
// random times (and again after every restart). Once a minute it samples the manager's
// resident memory, open descriptors and threads, and prints them; every ten seconds it
// counts, from /proc, the maps served by more than one map server; every 200 ms it looks
// at the manager's children in state Z and notes how long each one stays a zombie. At the
// end it says whether the manager is still there, how the figures moved after the first
// minute, the worst counts seen and the longest time a map server stayed a zombie.
//
//   build/bench/soak_manager [minutes, default 10] [maps, default 2000]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/ManagerMachine.h"
#include "support/MapServerCensus.h"

namespace {

struct Sample {
  double minute;
  long residentKb;
  long descriptors;
  long threads;
};

long StatusField(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

long Descriptors(pid_t pid) {
  std::error_code ec;
  long count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++count;
  return ec ? -1 : count;
}

// The manager's children that have ended and were not reaped. Read with plain system
// calls: with 2,000 children it runs five times a second.
std::set<long> Zombies(pid_t pid) {
  std::set<long> zombies;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream children(task.path() / "children");
    for (long child; children >> child;) {
      const int fd = open(("/proc/" + std::to_string(child) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char text[512];
      const ssize_t n = read(fd, text, sizeof text - 1);
      close(fd);
      if (n <= 0) continue;
      const std::string_view line(text, static_cast<std::size_t>(n));
      const std::size_t paren = line.rfind(')');
      if (paren != std::string_view::npos && paren + 2 < line.size() && line[paren + 2] == 'Z') zombies.insert(child);
    }
  }
  return zombies;
}

// How long each child of the manager stays a zombie: the longest stay seen, in ms.
class ZombieWatch {
 public:
  void Look(pid_t manager) {
    const auto now = std::chrono::steady_clock::now();
    const std::set<long> current = Zombies(manager);
    for (auto it = m_Since.begin(); it != m_Since.end();) {
      if (current.count(it->first) != 0) {
        ++it;
        continue;
      }
      m_LongestMs = std::max(m_LongestMs, Ms(now - it->second));
      it = m_Since.erase(it);
    }
    for (long pid : current) m_Since.emplace(pid, now);
    m_Worst = std::max(m_Worst, static_cast<long>(current.size()));
  }
  // The longest stay so far, counting those still waiting.
  double LongestMs() const {
    double longest = m_LongestMs;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [pid, since] : m_Since) longest = std::max(longest, Ms(now - since));
    return longest;
  }
  long Worst() const { return m_Worst; }
  long Waiting() const { return static_cast<long>(m_Since.size()); }

 private:
  static double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  }
  std::map<long, std::chrono::steady_clock::time_point> m_Since;
  double m_LongestMs = 0;
  long m_Worst = 0;
};

// Maps served by more than one running map server.
long DoubledMaps(const std::string& programDir, const std::string& prefix) {
  long doubled = 0;
  for (const auto& [key, pids] : MapServersByKey(programDir, prefix)) doubled += pids.size() > 1;
  return doubled;
}

int SoakPort() {
  // The soak runs alone on its machine; ports a little out of the way of the defaults.
  static int next = 42000 + static_cast<int>(getpid() % 1000) * 3;
  return next++;
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int maps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
  ManagerMachine machine;
  const std::string bin = machine.Dir();
  const std::string server = "Soak" + std::to_string(getpid());
  const int statusPort = SoakPort(), linePort = SoakPort(), metricsPort = SoakPort();

  // Faults at random: about a third of the maps misbehave some seconds after they run, and
  // again after each restart, since a restarted map server gets the same switches.
  std::mt19937 random(12345);
  const char* kinds[] = {"crash", "hang", "state4", "state5", "state6", "ignoreclose"};
  std::string faults, list;
  for (int id = 1; id <= maps; ++id) {
    list +=
        std::to_string(id) + " " + server + " Map" + std::to_string(id) + " " + std::to_string(id) + " 1 500 0 0 1\n";
    if (random() % 3 != 0) continue;
    std::string kind = kinds[random() % 6];
    if (!faults.empty()) faults += ",";
    faults += server + "_" + std::to_string(id) + ":" + kind + "@" + std::to_string(5 + random() % 120);
    // A disconnected map that also ignores its close: the reconnect check waits, then kills.
    if (kind == "state6" && random() % 2 == 0) faults += "," + server + "_" + std::to_string(id) + ":ignoreclose";
  }
  std::ofstream(bin + "MapServerData/Map/MapID.txt") << list;
  machine.WriteIni("[MapManager]\nedtMutexSign=" + server + "\nedtSSPort=" + std::to_string(statusPort) +
                   "\nedt_port=" + std::to_string(linePort) + "\nAutoConnectStatusServer=1\nRestartExitedMaps=1\n" +
                   "MetricsPort=" + std::to_string(metricsPort) + "\n");
  setenv("VEMO_MS_FAULTS", faults.c_str(), 1);
  setenv("PYTHONPATH", (bin + "StatusScript").c_str(), 1);

  const std::string statusServer =
      "cd '" + bin + "' && ./VemoStatusServer --listen=127.0.0.1:" + std::to_string(statusPort) +
      " --lineinfo=127.0.0.1:" + std::to_string(linePort) + " --period=5 </dev/null >StatusServer.out 2>&1 & echo $!";
  FILE* started = popen(statusServer.c_str(), "r");
  int statusPid = 0;
  if (started != nullptr && std::fscanf(started, "%d", &statusPid) != 1) statusPid = 0;
  if (started != nullptr) pclose(started);

  std::filesystem::current_path(bin);  // launch control is loaded from the current directory
  const pid_t manager = machine.Start({"-autolaunch"});
  if (!machine.WaitForLog("waits for Start", 60000)) {
    std::fprintf(stderr, "soak: the manager did not start\n%s", machine.Stderr(0).c_str());
    return 1;
  }
  const std::string start = "./HalvixClient --manager " + std::to_string(manager) + " --timeout 120 start --wait";
  if (std::system(start.c_str()) != 0) std::fprintf(stderr, "soak: launch control did not start the service\n");

  std::printf("soak: %d maps, %d minutes; faults: %s\n", maps, minutes, faults.c_str());
  std::printf("minute  resident_MB  descriptors  threads  doubled_maps  zombies\n");
  std::vector<Sample> samples;
  // The machine's map server programs are links into the runnable tree.
  const std::string programDir =
      std::filesystem::canonical(bin + "MapServerData/VemoMapServer").parent_path().string() + "/";
  long worstDoubled = 0, doubled = 0;
  ZombieWatch zombies;
  for (int minute = 0; minute <= minutes; ++minute) {
    doubled = 0;
    for (int check = 0; minute > 0 && check < 6; ++check) {
      for (int look = 0; look < 50; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        zombies.Look(manager);
      }
      if (!machine.IsRunning(manager)) break;
      doubled = std::max(doubled, DoubledMaps(programDir, server + "_"));
    }
    worstDoubled = std::max(worstDoubled, doubled);
    if (!machine.IsRunning(manager)) {
      std::printf("soak: the manager ended after %d minutes\n%s", minute, machine.Stderr(0).c_str());
      break;
    }
    Sample sample{static_cast<double>(minute), StatusField(manager, "VmRSS"), Descriptors(manager),
                  StatusField(manager, "Threads")};
    samples.push_back(sample);
    std::printf("%6d  %11.1f  %11ld  %7ld  %12ld  %7ld\n", minute, sample.residentKb / 1024.0, sample.descriptors,
                sample.threads, doubled, zombies.Waiting());
    std::fflush(stdout);
  }
  const bool alive = machine.IsRunning(manager);
  std::printf(
      "soak: at worst %ld maps had two map servers at once and %ld zombie children waited at once; "
      "the longest any child stayed a zombie was %.0f ms (looked at every 200 ms)\n",
      worstDoubled, zombies.Worst(), zombies.LongestMs());
  std::printf("soak: restarts logged: %zu; reconnect restarts: %zu; the manager %s\n",
              machine.CountLog("restarted (reason exited)"), machine.CountLog("ProcessDisconnectCheck Restart"),
              alive ? "ran throughout" : "did NOT survive");
  if (samples.size() > 2) {
    const Sample& first = samples[1];
    const Sample& last = samples.back();
    std::printf("soak: after the first minute: resident %+.1f MB, descriptors %+ld, threads %+ld\n",
                (last.residentKb - first.residentKb) / 1024.0, last.descriptors - first.descriptors,
                last.threads - first.threads);
  }

  kill(manager, SIGTERM);
  machine.WaitExit(manager, 30000);
  if (statusPid > 0) kill(statusPid, SIGTERM);
  for (const auto& [key, pids] : MapServersByKey(programDir, server + "_"))
    for (uint32_t pid : pids) kill(static_cast<pid_t>(pid), SIGKILL);
  return alive ? 0 : 1;
}
