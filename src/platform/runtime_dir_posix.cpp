#include "platform/runtime_dir.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string PrivateRuntimeDir(const std::string& name, std::string& error) {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    dir = runtime;
    if (dir.back() != '/') dir += '/';
    dir += name;
  } else {
    dir = "/tmp/" + name + "-" + std::to_string(getuid());
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return std::string();
  }
  // lstat: a link planted in the directory's place is refused, never followed.
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = dir + " is not a directory";
    return std::string();
  }
  if (st.st_uid != getuid() || (st.st_mode & 077) != 0) {
    error = "refusing " + dir + ": owned by another user or open to others";
    return std::string();
  }
  return dir + "/";
}

bool SocketPeerUid(int fd, uid_t& uid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) return false;
  uid = credentials.uid;
  return true;
}

}  // namespace platform
