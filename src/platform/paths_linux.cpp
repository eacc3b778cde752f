// Paths of the runnable tree and the mapping of logical (Windows) file names.
#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "text/Text.h"

namespace platform {
namespace {

std::mutex g_exeDirMutex;
std::string g_exeDirOverride;

std::string WithTrailingSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string RealExeDir() {
  const std::string path = ExePath();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

bool EndsWithNoCase(const std::string& text, const char* suffix, std::size_t suffixLength) {
  return text.size() >= suffixLength && AsciiLower(text.substr(text.size() - suffixLength)) == suffix;
}

}  // namespace

std::string ExePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string ExeDir() {
  std::lock_guard<std::mutex> lock(g_exeDirMutex);
  if (!g_exeDirOverride.empty()) return g_exeDirOverride;
  static const std::string realDir = RealExeDir();
  return realDir;
}

void SetExeDirForTesting(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_exeDirMutex);
  g_exeDirOverride = dir.empty() ? std::string() : WithTrailingSlash(dir);
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::string NativePath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string LogicalFileName(const std::string& name) {
  std::string path = NativePath(name);
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  // The extension is matched without regard to case, as Windows file names are; a bare
  // extension (".dll") names no module and is left alone.
  if (base.size() > 4 && EndsWithNoCase(base, ".dll", 4)) return dir + "lib" + base.substr(0, base.size() - 4) + ".so";
  if (base.size() > 4 && EndsWithNoCase(base, ".pyd", 4)) return dir + base.substr(0, base.size() - 4) + ".so";
  if (base.size() > 4 && EndsWithNoCase(base, ".exe", 4)) return dir + base.substr(0, base.size() - 4);
  return path;
}

std::string LogDir() {
  const char* env = std::getenv("VEMO_LOG_DIR");
  if (env != nullptr && *env != '\0') return WithTrailingSlash(NativePath(env));
  return ExeDir() + "ServerLog/";
}

std::string SystemRoot() {
  const char* env = std::getenv("VEMO_SYSTEM_ROOT");
  if (env != nullptr && *env != '\0') return WithTrailingSlash(NativePath(env));
  return ExeDir();
}

bool FileExists(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path, unsigned mode) {
  std::string native = NativePath(path);
  if (native.empty()) return false;
  if (DirectoryExists(native)) return true;
  // Create each missing level in turn; a level that exists already (perhaps made by
  // another process in the meantime) is fine.
  for (std::size_t pos = 1; pos <= native.size(); ++pos) {
    if (pos != native.size() && native[pos] != '/') continue;
    std::string part = native.substr(0, pos);
    if (part.empty() || DirectoryExists(part)) continue;
    if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
  }
  return DirectoryExists(native);
}

uint64_t FileCreationTime(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return 0;
  // 100-ns units since 1601-01-01: 11644473600 seconds lie between 1601 and 1970.
  constexpr int64_t kEpochDifference = 11644473600LL;
  int64_t seconds = static_cast<int64_t>(st.st_mtim.tv_sec) + kEpochDifference;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * 10000000ULL + static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100ULL;
}

std::vector<std::string> ListFilesOf(const std::string& directory) {
  std::vector<std::string> names;
  DIR* handle = opendir(directory.c_str());
  if (handle == nullptr) return names;
  const std::string dir = WithTrailingSlash(directory);
  while (dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    struct stat st;
    if (lstat((dir + name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) names.push_back(name);
  }
  closedir(handle);
  return names;
}

}  // namespace platform
