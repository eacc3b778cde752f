#include "CHalvix.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "HalvixSocket.h"
#include "interfaces/ILog.h"
#include "platform/library.h"

namespace {

// A command line longer than this is not a command.
constexpr std::size_t kMaxLine = 256;
// Output a client does not read is not kept past this.
constexpr std::size_t kMaxOutput = 64 * 1024;

// One line in the manager's log when its logging component is loaded, else on standard
// error (the component also runs in programs without the log).
void WriteWarning(const std::string& text) {
  // A reference of our own while the line is written; the manager keeps its own.
  if (const platform::Library library = platform::Library::FindLoaded("Tolvar.dll")) {
    auto getLog = library.Resolve<GetLogFunc>("GetLog");
    ILog* log = getLog != nullptr ? getLog() : nullptr;
    if (log != nullptr) {
      log->LogWarn("%s", text.c_str());
      return;
    }
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

CHalvix::~CHalvix() {
  for (auto& [id, connection] : m_Connections) close(connection.fd);
  if (m_Listener >= 0) {
    close(m_Listener);
    unlink(m_SocketPath.c_str());
  }
}

bool CHalvix::Init(LaunchControlCallback requestStart, LaunchControlCallback requestStop, int) {
  if (requestStart == nullptr || requestStop == nullptr) return false;
  if (m_Listener < 0) {
    std::string error;
    const std::string dir = halvix::RuntimeDir(error);
    if (dir.empty()) {
      WriteWarning("CHalvix::Init " + error);
      return false;
    }
    RemoveStaleSockets(dir);
    m_SocketPath = halvix::SocketPath(dir, getpid());
    m_Listener = halvix::Listen(m_SocketPath, error);
    if (m_Listener < 0) {
      WriteWarning("CHalvix::Init " + error);
      return false;
    }
  }
  m_RequestStart = requestStart;
  m_RequestStop = requestStop;
  return true;
}

void CHalvix::RemoveStaleSockets(const std::string& dir) const {
  for (pid_t pid : halvix::ListManagers(dir))
    if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) unlink(halvix::SocketPath(dir, pid).c_str());
}

void CHalvix::Poll() {
  if (m_Listener < 0) return;
  Accept();
  std::vector<int> ids;
  for (const auto& [id, connection] : m_Connections) ids.push_back(id);
  for (int id : ids) Serve(id);
  for (auto& [id, connection] : m_Connections) Flush(connection);
  CloseFinished();
}

void CHalvix::Accept() {
  for (;;) {
    const int fd = accept4(m_Listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    uid_t uid = 0;
    if (!halvix::PeerUid(fd, uid) || uid != getuid()) {
      WriteWarning("CHalvix::Poll a launch-control connection of user " +
                   (halvix::PeerUid(fd, uid) ? std::to_string(uid) : std::string("(unknown)")) +
                   " refused: only user " + std::to_string(getuid()) + " may start or stop this manager");
      static const char refusal[] = "result refused another user may not control this manager\n";
      send(fd, refusal, sizeof refusal - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      close(fd);
      continue;
    }
    Connection connection;
    connection.fd = fd;
    m_Connections.emplace(m_NextId++, std::move(connection));
  }
}

void CHalvix::Serve(int id) {
  auto found = m_Connections.find(id);
  if (found == m_Connections.end()) return;
  Connection& connection = found->second;
  if (connection.inCallback || connection.broken) return;
  char buffer[512];
  for (;;) {
    const ssize_t n = recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      connection.input.append(buffer, static_cast<std::size_t>(n));
      if (connection.input.size() > 4 * kMaxLine) break;
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) connection.broken = true;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  // Commands one line at a time; a callback may re-enter Poll, so the connection is looked
  // up again after each.
  for (;;) {
    found = m_Connections.find(id);
    if (found == m_Connections.end() || found->second.closeWhenSent) return;
    std::string& input = found->second.input;
    const std::size_t end = input.find('\n');
    if (end == std::string::npos) {
      if (input.size() > kMaxLine) {
        input.clear();
        Queue(id, "result error command line too long");
        found->second.closeWhenSent = true;
      }
      return;
    }
    std::string command = input.substr(0, end);
    input.erase(0, end + 1);
    if (!command.empty() && command.back() == '\r') command.pop_back();
    Execute(id, command);
  }
}

void CHalvix::Execute(int id, const std::string& command) {
  if (command == "status") {
    Queue(id, "result ok service " + m_State);
    return;
  }
  if (command == "watch") {
    Queue(id, "result ok watching");
    return;
  }
  if (command != "start" && command != "stop") {
    Queue(id, "result error unknown command (start, stop, status, watch)");
    m_Connections[id].closeWhenSent = true;
    return;
  }
  if (m_Closing) {
    Queue(id, "result refused closing");
    return;
  }
  if (m_CallbackDepth > 0) {
    Queue(id, "result refused busy: a start or stop is running");
    return;
  }
  const bool start = command == "start";
  m_Connections[id].inCallback = true;
  ++m_CallbackDepth;
  const bool done = start ? m_RequestStart() : m_RequestStop();
  --m_CallbackDepth;
  auto found = m_Connections.find(id);
  if (found == m_Connections.end()) return;
  found->second.inCallback = false;
  if (!done && m_Closing) {
    // The window closed while the callback ran: a stop was abandoned before any map server
    // was asked to close.
    Queue(id, start ? "result refused closing"
                    : "result error the manager's window closed before the map servers were asked to close");
    return;
  }
  if (start)
    Queue(id, done ? "result ok started" : "result refused the service was started already");
  else
    Queue(id, done ? "result ok stopped" : "result refused the service has not been started");
}

void CHalvix::Queue(int id, const std::string& line) {
  auto found = m_Connections.find(id);
  if (found == m_Connections.end()) return;
  Connection& connection = found->second;
  if (connection.broken) return;
  if (connection.output.size() + line.size() + 1 > kMaxOutput) {
    connection.broken = true;  // a client that does not read is let go
    return;
  }
  connection.output += line;
  connection.output += '\n';
  Flush(connection);
}

void CHalvix::Broadcast(const char* event, const char* state) {
  m_State = state;
  std::vector<int> ids;
  for (const auto& [id, connection] : m_Connections) ids.push_back(id);
  for (int id : ids) Queue(id, std::string("event ") + event);
}

void CHalvix::Flush(Connection& connection) {
  while (!connection.broken && !connection.output.empty()) {
    const ssize_t n =
        send(connection.fd, connection.output.data(), connection.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      connection.output.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    connection.broken = true;
  }
}

void CHalvix::CloseFinished() {
  for (auto it = m_Connections.begin(); it != m_Connections.end();) {
    Connection& connection = it->second;
    const bool done = connection.broken || (connection.closeWhenSent && connection.output.empty());
    if (done && !connection.inCallback) {
      close(connection.fd);
      it = m_Connections.erase(it);
    } else {
      ++it;
    }
  }
}
