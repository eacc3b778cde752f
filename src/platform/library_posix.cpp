// Loading components by logical name through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/debug_output.h"
#include "platform/paths.h"

namespace platform {
namespace {

// The loader keeps its text per thread, but dlerror() clears it on reading; we keep our own
// copy so that LastLibraryError() may be asked more than once and also covers our checks.
thread_local std::string t_lastError;

void SetError(int* errorCode, int code, const std::string& text) {
  if (errorCode != nullptr) *errorCode = code;
  t_lastError = text;
}

// True when the group `gid` is this user's own: named as the user, with no other member.
bool IsOwnPrivateGroup(gid_t gid) {
  if (gid != getgid()) return false;
  const passwd* user = getpwuid(getuid());
  const group* own = getgrgid(gid);
  if (user == nullptr || own == nullptr || std::strcmp(user->pw_name, own->gr_name) != 0) return false;
  for (char** member = own->gr_mem; *member != nullptr; ++member)
    if (std::strcmp(*member, user->pw_name) != 0) return false;
  return true;
}

// Why another user could have written `path` (a file or a directory), "" when none could.
std::string WritableByOthers(const std::string& path, const struct stat& st, const char* what) {
  if (st.st_uid != getuid() && st.st_uid != 0)
    return std::string(what) + " " + path + " belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & S_IWOTH) != 0) return std::string(what) + " " + path + " is writable by every user";
  if ((st.st_mode & S_IWGRP) != 0 && !IsOwnPrivateGroup(st.st_gid))
    return std::string(what) + " " + path + " is writable by group " + std::to_string(st.st_gid);
  return std::string();
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool IsLibraryFileTrusted(const std::string& name, std::string* reason) {
  const std::string file = LogicalFileName(name);
  std::string why;
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) return true;  // nothing to load
  std::vector<std::pair<std::string, const char*>> checks{{DirectoryOf(file), "directory"}};
  char resolved[PATH_MAX];
  if (realpath(file.c_str(), resolved) == nullptr) {
    why = file + " cannot be resolved: " + std::strerror(errno);
  } else {
    checks.emplace_back(resolved, "file");
    checks.emplace_back(DirectoryOf(resolved), "directory");
  }
  for (const auto& [path, what] : checks) {
    if (!why.empty()) break;
    if (stat(path.c_str(), &st) != 0)
      why = path + " cannot be examined: " + std::strerror(errno);
    else
      why = WritableByOthers(path, st, what);
  }
  if (why.empty()) return true;
  if (reason != nullptr) *reason = why;
  return false;
}

void* LoadLibrary(const std::string& name, int* errorCode) {
  if (errorCode != nullptr) *errorCode = 0;
  if (name.empty() || name.find('\0') != std::string::npos) {
    SetError(errorCode, kErrorModNotFound, "unusable library name");
    OutputDebugString("LoadLibrary: unusable library name");
    return nullptr;
  }
  std::string file = LogicalFileName(name);
  // dlopen of a directory fails on its own, but say so plainly rather than relying on
  // the loader's wording.
  struct stat st;
  if (file.find('/') != std::string::npos && stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetError(errorCode, kErrorModNotFound, file + ": is a directory");
    return nullptr;
  }
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW);
  if (handle == nullptr && file.find('/') == std::string::npos) {
    // The executable's run path ($ORIGIN) is honoured only when the executable itself calls
    // dlopen; under a sanitizer the call comes from the sanitizer's runtime. Components lie
    // beside the executable, so look there explicitly before giving up.
    handle = dlopen((ExeDir() + file).c_str(), RTLD_NOW);
    if (handle == nullptr) {
      dlerror();
      handle = dlopen(file.c_str(), RTLD_NOW);  // again, for the loader's own error text
    }
  }
  if (handle == nullptr) {
    const char* text = dlerror();
    SetError(errorCode, kErrorModNotFound, text != nullptr ? text : file + ": cannot be loaded");
    return nullptr;
  }
  t_lastError.clear();
  return handle;
}

void* GetProcAddress(void* library, const char* symbol, int* errorCode) {
  if (errorCode != nullptr) *errorCode = 0;
  if (library == nullptr || symbol == nullptr || *symbol == '\0') {
    SetError(errorCode, kErrorProcNotFound, "no library or no symbol name");
    return nullptr;
  }
  dlerror();
  void* address = dlsym(library, symbol);
  const char* text = dlerror();
  if (address == nullptr || text != nullptr) {
    SetError(errorCode, kErrorProcNotFound, text != nullptr ? text : std::string(symbol) + ": not exported");
    return nullptr;
  }
  return address;
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

void* GetLoadedLibrary(const std::string& name) {
  const std::string file = LogicalFileName(name);
  if (file.empty()) return nullptr;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr && file.find('/') == std::string::npos)
    handle = dlopen((ExeDir() + file).c_str(), RTLD_NOW | RTLD_NOLOAD);
  dlerror();
  return handle;
}

std::string LastLibraryError() { return t_lastError; }

}  // namespace platform
