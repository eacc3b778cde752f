// The endpoint directory of the message bus: endpoints' info files, telling a live
// endpoint from a dead one, and finding windows.
//
// An endpoint is live while its socket is bound by a process: a connect to a socket whose
// owner has died is refused, which also tells a dead endpoint from one whose pid was reused.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/debug_output.h"
#include "platform/message_bus_internal.h"
#include "platform/process.h"
#include "platform/runtime_dir.h"

namespace platform {
namespace bus {

std::string Directory() {
  std::string error;
  std::string dir = PrivateRuntimeDir("vemo-bus", error);
  if (dir.empty()) OutputDebugString("MessageBus: " + error);
  return dir;
}

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\0')
      out += "\\0";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
  }
  return out;
}

bool ReadInfo(const std::string& path, EndpointInfo* info) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string pidLine, classLine, titleLine;
  if (!std::getline(in, pidLine) || !std::getline(in, classLine) || !std::getline(in, titleLine)) return false;
  char* end = nullptr;
  unsigned long pid = std::strtoul(pidLine.c_str(), &end, 10);
  if (end == pidLine.c_str() || *end != '\0' || pid == 0 || pid > 0x7fffffffUL) return false;
  info->pid = static_cast<uint32_t>(pid);
  info->windowClass = Unescape(classLine);
  info->title = Unescape(titleLine);
  return true;
}

}  // namespace

// Written beside the final name and renamed over it, so that a reader never sees half a file.
bool WriteInfo(const std::string& dir, WindowHandle handle, const EndpointInfo& info) {
  std::string final = dir + std::to_string(handle) + ".info";
  std::string temp = final + ".tmp" + std::to_string(getpid());
  std::string text = std::to_string(info.pid) + "\n" + Escape(info.windowClass) + "\n" + Escape(info.title) + "\n";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), final.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

namespace {

enum class Liveness { Live, Dead, Unknown };

// Whether some process still has the endpoint's socket bound.
Liveness SocketLiveness(const std::string& socketPath) {
  sockaddr_un addr;
  if (!MakeAddress(socketPath, &addr)) return Liveness::Dead;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Liveness::Unknown;
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int err = errno;
  close(fd);
  if (rc == 0) return Liveness::Live;
  if (err == ECONNREFUSED || err == ENOENT || err == ENOTSOCK) return Liveness::Dead;
  return Liveness::Unknown;
}

// The info of a live endpoint; a dead endpoint's files are removed (the info file first,
// so that its handle cannot be taken anew before both are gone).
bool LiveEndpoint(const std::string& dir, WindowHandle handle, EndpointInfo* info) {
  std::string infoPath = dir + std::to_string(handle) + ".info";
  std::string socketPath = dir + std::to_string(handle) + ".sock";
  EndpointInfo read;
  bool haveInfo = ReadInfo(infoPath, &read);
  Liveness socketState = SocketLiveness(socketPath);
  if (socketState == Liveness::Dead || (haveInfo && !IsProcessAlive(read.pid))) {
    if (socketState != Liveness::Live) {
      unlink(infoPath.c_str());
      unlink(socketPath.c_str());
    }
    return false;
  }
  if (!haveInfo) return false;
  if (info != nullptr) *info = read;
  return true;
}

bool ParseHandleName(const char* name, const char* suffix, WindowHandle* handle) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(name, &end, 10);
  if (errno != 0 || end == name || !std::isdigit(static_cast<unsigned char>(name[0])) ||
      std::strcmp(end, suffix) != 0 || value == 0 || value > 0xffffffffUL)
    return false;
  *handle = static_cast<WindowHandle>(value);
  return true;
}

// "<handle>.info.tmp<pid>": the info file a process was writing when it ended, if it ended
// between creating it and renaming it.
bool ParseTempInfoName(const char* name, uint32_t* pid) {
  WindowHandle handle = 0;
  const char* marker = std::strstr(name, ".info.tmp");
  if (marker == nullptr || !ParseHandleName(std::string(name, marker).c_str(), "", &handle)) return false;
  const char* digits = marker + std::strlen(".info.tmp");
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(digits, &end, 10);
  if (errno != 0 || end == digits || !std::isdigit(static_cast<unsigned char>(digits[0])) || *end != '\0' ||
      value == 0 || value > 0x7fffffffUL)
    return false;
  *pid = static_cast<uint32_t>(value);
  return true;
}

}  // namespace
}  // namespace bus

using bus::EndpointInfo;

WindowHandle FindWindow(const std::string& windowClass, const std::string& title) {
  std::string dir = bus::Directory();
  if (dir.empty()) return 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  std::vector<WindowHandle> infos;
  std::vector<WindowHandle> orphanSockets;
  std::vector<std::pair<std::string, uint32_t>> temps;  // name, writer's pid
  while (dirent* entry = readdir(d)) {
    WindowHandle handle = 0;
    uint32_t writer = 0;
    if (bus::ParseHandleName(entry->d_name, ".info", &handle))
      infos.push_back(handle);
    else if (bus::ParseHandleName(entry->d_name, ".sock", &handle))
      orphanSockets.push_back(handle);
    else if (bus::ParseTempInfoName(entry->d_name, &writer))
      temps.emplace_back(entry->d_name, writer);
  }
  closedir(d);
  WindowHandle found = 0;
  for (WindowHandle handle : infos) {
    EndpointInfo info;
    if (!bus::LiveEndpoint(dir, handle, &info)) continue;
    if ((windowClass.empty() || info.windowClass == windowClass) && (title.empty() || info.title == title)) {
      found = handle;
      break;
    }
  }
  // A socket left without an info file by a process that died while opening it.
  for (WindowHandle handle : orphanSockets) {
    std::string socketPath = dir + std::to_string(handle) + ".sock";
    if (access((dir + std::to_string(handle) + ".info").c_str(), F_OK) != 0 &&
        bus::SocketLiveness(socketPath) == bus::Liveness::Dead)
      unlink(socketPath.c_str());
  }
  // An info file half written by a process that ended before renaming it would stay forever.
  for (const auto& [name, writer] : temps)
    if (!IsProcessAlive(writer)) unlink((dir + name).c_str());
  return found;
}

bool IsWindow(WindowHandle window) {
  if (window == 0) return false;
  std::string dir = bus::Directory();
  return !dir.empty() && bus::LiveEndpoint(dir, window, nullptr);
}

uint32_t GetWindowProcessId(WindowHandle window) {
  if (window == 0) return 0;
  std::string dir = bus::Directory();
  EndpointInfo info;
  if (dir.empty() || !bus::LiveEndpoint(dir, window, &info)) return 0;
  return info.pid;
}

}  // namespace platform
