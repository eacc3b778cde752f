#include "HalvixSocket.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/runtime_dir.h"

namespace halvix {
namespace {

bool FillAddress(const std::string& path, sockaddr_un& address, std::string& error) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string RuntimeDir(std::string& error) { return platform::PrivateRuntimeDir("vemo-halvix", error); }

std::string SocketPath(const std::string& dir, pid_t pid) { return dir + "manager-" + std::to_string(pid) + ".sock"; }

std::vector<pid_t> ListManagers(const std::string& dir) {
  std::vector<pid_t> pids;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return pids;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (!name.starts_with("manager-") || !name.ends_with(".sock")) continue;
    const std::string digits = name.substr(8, name.size() - 8 - 5);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    pids.push_back(static_cast<pid_t>(std::atoi(digits.c_str())));
  }
  closedir(d);
  return pids;
}

int Listen(const std::string& path, std::string& error) {
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  unlink(path.c_str());  // a socket left by an earlier process of the same id
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

int Connect(const std::string& path, std::string& error) {
  sockaddr_un address;
  if (!FillAddress(path, address, error)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = "cannot connect to " + path + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

bool PeerUid(int fd, uid_t& uid) { return platform::SocketPeerUid(fd, uid); }

}  // namespace halvix
