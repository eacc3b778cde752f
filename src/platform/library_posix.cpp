// Loading components by logical name through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

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
