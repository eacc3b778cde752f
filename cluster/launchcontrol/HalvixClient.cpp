// HalvixClient: starts and stops the service of a running manager from a shell, through
// the manager's launch-control component.
//
//   HalvixClient [--manager PID] [--timeout SECONDS] start [--wait]
//   HalvixClient [--manager PID] [--timeout SECONDS] stop [--wait]
//   HalvixClient [--manager PID] status
//   HalvixClient [--manager PID] [--timeout SECONDS] wait started|stopped
//   HalvixClient list
//
// Exit codes: 0 done, 1 refused by the manager or not done, 2 no manager reachable, 3 usage,
// 4 timed out.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "HalvixSocket.h"
#include "text/Text.h"

namespace {

enum Exit { kDone = 0, kRefused = 1, kNoManager = 2, kUsage = 3, kTimedOut = 4 };

int Usage(const char* why) {
  std::fprintf(stderr,
               "HalvixClient: %s\n"
               "usage: HalvixClient [--manager PID] [--timeout SECONDS] start|stop [--wait]\n"
               "       HalvixClient [--manager PID] status\n"
               "       HalvixClient [--manager PID] [--timeout SECONDS] wait started|stopped\n"
               "       HalvixClient list\n",
               why);
  return kUsage;
}

bool IsLive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Reads lines until `done` says stop; false when the deadline passed or the manager went.
class LineReader {
 public:
  explicit LineReader(int fd) : m_Fd(fd) {}
  // One line, waiting at most until `deadline` (a negative `timeoutMs` waits without end).
  // 1 a line, 0 timed out, -1 the connection ended.
  int Next(std::string& line, long long timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      const std::size_t end = m_Buffer.find('\n');
      if (end != std::string::npos) {
        line = m_Buffer.substr(0, end);
        m_Buffer.erase(0, end + 1);
        return 1;
      }
      int wait = -1;
      if (timeoutMs >= 0) {
        const long long spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (spent >= timeoutMs) return 0;
        wait = static_cast<int>(timeoutMs - spent);
      }
      pollfd p{m_Fd, POLLIN, 0};
      const int ready = poll(&p, 1, wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return 0;
      char chunk[512];
      const ssize_t n = recv(m_Fd, chunk, sizeof chunk, 0);
      if (n <= 0) return -1;
      m_Buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int m_Fd;
  std::string m_Buffer;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  pid_t manager = 0;
  long long timeoutMs = -1;
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); i += 2) {  // an option and its value
    if (i + 1 >= args.size()) return Usage(("missing value after " + args[i]).c_str());
    int value = 0;
    if (!TextToInt(args[i + 1], value) || value < 0) return Usage(("bad value " + args[i + 1]).c_str());
    if (args[i] == "--manager")
      manager = static_cast<pid_t>(value);
    else if (args[i] == "--timeout")
      timeoutMs = value * 1000LL;
    else
      return Usage(("unknown option " + args[i]).c_str());
  }
  if (i >= args.size()) return Usage("no command");
  const std::string command = args[i++];
  std::string awaited;  // the event that ends the command
  if (command == "start" || command == "stop") {
    if (i < args.size() && args[i] == "--wait") {
      awaited = command == "start" ? "started" : "stopped";
      ++i;
    }
  } else if (command == "wait") {
    if (i >= args.size() || (args[i] != "started" && args[i] != "stopped")) return Usage("wait for started or stopped");
    awaited = args[i++];
  } else if (command != "status" && command != "list") {
    return Usage(("unknown command " + command).c_str());
  }
  if (i != args.size()) return Usage(("unexpected " + args[i]).c_str());

  std::string error;
  const std::string dir = halvix::RuntimeDir(error);
  if (dir.empty()) {
    std::fprintf(stderr, "HalvixClient: %s\n", error.c_str());
    return kNoManager;
  }
  std::vector<pid_t> live;
  for (pid_t pid : halvix::ListManagers(dir))
    if (IsLive(pid)) live.push_back(pid);
  if (command == "list") {
    for (pid_t pid : live) std::printf("%d\n", static_cast<int>(pid));
    return live.empty() ? kNoManager : kDone;
  }
  if (manager == 0) {
    if (live.empty()) {
      std::fprintf(stderr, "HalvixClient: no manager with launch control runs for this user\n");
      return kNoManager;
    }
    if (live.size() > 1) {
      std::fprintf(stderr, "HalvixClient: %zu managers run; name one with --manager (see \"HalvixClient list\")\n",
                   live.size());
      return kUsage;
    }
    manager = live.front();
  }
  const int fd = halvix::Connect(halvix::SocketPath(dir, manager), error);
  if (fd < 0) {
    std::fprintf(stderr, "HalvixClient: manager %d: %s\n", static_cast<int>(manager), error.c_str());
    return kNoManager;
  }
  const std::string request = (command == "wait" ? std::string("watch") : command) + "\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    std::fprintf(stderr, "HalvixClient: manager %d does not take the command\n", static_cast<int>(manager));
    return kNoManager;
  }

  LineReader reader(fd);
  const auto start = std::chrono::steady_clock::now();
  auto remaining = [&]() -> long long {
    if (timeoutMs < 0) return -1;
    const long long spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
  };
  bool resultSeen = false;
  bool awaitedSeen = awaited.empty();
  int code = kDone;
  while (!resultSeen || !awaitedSeen) {
    std::string line;
    const int got = reader.Next(line, remaining());
    if (got == 0) {
      std::fprintf(stderr, "HalvixClient: timed out\n");
      return kTimedOut;
    }
    if (got < 0) {
      std::fprintf(stderr, "HalvixClient: manager %d closed the connection\n", static_cast<int>(manager));
      return kNoManager;
    }
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::printf("%s %s\n", stamp, line.c_str());
    std::fflush(stdout);
    if (line.starts_with("event ") && line.substr(6) == awaited) awaitedSeen = true;
    if (line.starts_with("result ")) {
      resultSeen = true;
      // "refused" and "error" both mean the manager did not do it.
      if (!line.starts_with("result ok")) code = kRefused;
      if (code != kDone) break;
    }
  }
  close(fd);
  return code;
}
