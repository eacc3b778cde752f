// Loading components by logical name ("Tolvar.dll" is libTolvar.so beside the executable).
#pragma once

#include <string>
#include <type_traits>
#include <utility>

namespace platform {

// Windows error codes the loaders report: module not found, procedure not found.
constexpr int kErrorModNotFound = 126;
constexpr int kErrorProcNotFound = 127;

// dlopen of LogicalFileName(name) through the normal search order (the executable's
// RUNPATH is $ORIGIN). Null with `*errorCode` = kErrorModNotFound on failure; the
// loader's own text is in LastLibraryError(). A directory or an unusable name fails cleanly.
void* LoadLibrary(const std::string& name, int* errorCode = nullptr);
// Null with `*errorCode` = kErrorProcNotFound when the symbol is not exported.
void* GetProcAddress(void* library, const char* symbol, int* errorCode = nullptr);
void FreeLibrary(void* library);
// The handle of a library that this process has loaded already (by logical name, beside the
// executable or through the search order), without loading it; null when it is not loaded.
// The caller releases the handle with FreeLibrary.
void* GetLoadedLibrary(const std::string& name);
// Whether the library file at `name` (a path with a directory, mapped by LogicalFileName)
// can only have been put there by this user or root: the file (through any symbolic link)
// and the directories that hold the link and the file are owned by this user or root, and
// none of them can be written by another user (group-writable counts, unless the group is
// this user's own group with nobody else in it; a sticky directory counts too). A missing
// file passes: loading it fails on its own. False with the reason in `*reason`.
bool IsLibraryFileTrusted(const std::string& name, std::string* reason);
// The dynamic loader's last error text of this thread.
std::string LastLibraryError();

// One loaded library, owned: loads on construction, unloads on destruction, moves but never
// copies. Every component loader resolves its exports through Resolve, so a function pointer
// is made from a symbol in this one place.
class Library {
 public:
  Library() = default;
  // Loads `name` as LoadLibrary does; without success the object holds nothing (IsLoaded()
  // false, `*errorCode` = kErrorModNotFound, the loader's text in LastLibraryError()).
  explicit Library(const std::string& name, int* errorCode = nullptr) : m_Handle(LoadLibrary(name, errorCode)) {}
  // A library this process has loaded already (GetLoadedLibrary); empty when it is not loaded.
  static Library FindLoaded(const std::string& name) { return Library(GetLoadedLibrary(name)); }
  ~Library() { Unload(); }
  Library(Library&& other) noexcept : m_Handle(std::exchange(other.m_Handle, nullptr)) {}
  Library& operator=(Library&& other) noexcept {
    if (this != &other) {
      Unload();
      m_Handle = std::exchange(other.m_Handle, nullptr);
    }
    return *this;
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool IsLoaded() const { return m_Handle != nullptr; }
  explicit operator bool() const { return IsLoaded(); }

  // The export `symbol` as the function pointer type F; null with `*errorCode` =
  // kErrorProcNotFound when the library does not export it or nothing is loaded.
  template <typename F>
  F Resolve(const char* symbol, int* errorCode = nullptr) const {
    static_assert(std::is_pointer_v<F> && std::is_function_v<std::remove_pointer_t<F>>,
                  "Resolve takes a function pointer type");
    return reinterpret_cast<F>(GetProcAddress(m_Handle, symbol, errorCode));
  }

  // Unloads now; the object then holds nothing.
  void Unload() { FreeLibrary(std::exchange(m_Handle, nullptr)); }
  // Gives up ownership without unloading: the library stays loaded until the process ends.
  void KeepLoaded() { m_Handle = nullptr; }

 private:
  explicit Library(void* handle) : m_Handle(handle) {}
  void* m_Handle = nullptr;
};

}  // namespace platform
