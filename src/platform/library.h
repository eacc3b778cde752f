// Loading components by logical name ("Tolvar.dll" is libTolvar.so beside the executable).
#pragma once

#include <string>

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

}  // namespace platform
