// Paths and file names of the runnable tree.
//
// The manager and its programs keep the Windows names of the files they load
// and start ("Brenox.dll", "VemoMapServer.exe", "_Selvane.pyd"); this is the one
// place that maps such a logical name to the file that exists on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Directory of the running executable (/proc/self/exe), ending in "/".
std::string ExeDir();
// Tests and tools may pretend the executable lives elsewhere; "" restores the real one.
void SetExeDirForTesting(const std::string& dir);
// The running executable's own path (/proc/self/exe, never the pretended directory); "" when
// it cannot be read.
std::string ExePath();

// The process's current directory as it is at the moment of the call (no trailing "/");
// "" when it cannot be read (removed, or not reachable).
std::string CurrentDirectory();

// "Name.dll" -> "libName.so", "Name.pyd" -> "Name.so", "Name.exe" -> "Name";
// any directory part is kept, "\" becomes "/". Other names are returned with "\" mapped only.
std::string LogicalFileName(const std::string& name);

// A relative or absolute path written with "\" separators, as a Linux path.
std::string NativePath(const std::string& path);

// The log directory "D:\ServerLog\": $VEMO_LOG_DIR, else ExeDir() + "ServerLog/"; ends in "/".
std::string LogDir();
// The system drive root where Boot.ini lies: $VEMO_SYSTEM_ROOT, else ExeDir(); ends in "/".
std::string SystemRoot();

bool FileExists(const std::string& path);  // a regular file (or anything not a directory)
bool DirectoryExists(const std::string& path);
// mkdir -p, each level made with `mode` (less the umask); true when the directory exists after.
bool ForceDirectories(const std::string& path, unsigned mode = 0777);

// A file's creation time as a Windows FILETIME count (100-ns units since 1601-01-01).
// Linux keeps no settable birth time, and a log still being written is not old, so
// the creation time is taken from the last modification time. 0 when the file is missing.
uint64_t FileCreationTime(const std::string& path);

// The names of the entries of `directory` that are not directories themselves (a link is
// not followed); empty when it cannot be read.
std::vector<std::string> ListFilesOf(const std::string& directory);

}  // namespace platform
