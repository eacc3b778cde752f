#include "runtime/EnvironmentChecks.h"

#include <fnmatch.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "runtime/CodePage.h"
#include "runtime/Console.h"

namespace {

std::string WithTrailingSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// The manager's own file: the executable's directory and its file name.
std::string ModuleFileName() {
  const std::string path = platform::ExePath();
  std::size_t slash = path.rfind('/');
  return platform::ExeDir() + (slash == std::string::npos ? path : path.substr(slash + 1));
}

// A failed environment dump: log and tell the operator; false for the caller to return.
bool FailEnvironmentDump(const std::string& text, bool console) {
  LogObject()->LogError("%s", text.c_str());
  if (console) {
    std::printf("Press any key to exit!\r\n");
    std::fflush(stdout);
    WaitForAnyKey();
  } else {
    platform::CurrentDialogs().ErrorBox(text, "Check EvnInfoError");
  }
  return false;
}

// The whole text of a file; throws with the reason when it cannot be read.
std::string ReadFileOrThrow(const std::string& path) {
  std::string content;
  int error = 0;
  if (!ReadWholeFile(path, content, &error))
    throw std::runtime_error(FormatText("Cannot open file \"%s\". %s", path.c_str(), std::strerror(error)));
  return content;
}

}  // namespace

bool RunEnvironmentDump(const std::string& logDir) {
  std::string toolPath = platform::ExeDir() + "Gavrock.exe";
  std::string exePath = ModuleFileName();

  // The log directory without its last element: ".../ServerLog/" gives ".../ServerLog".
  std::string dir = platform::NativePath(logDir);
  std::size_t slash = dir.rfind('/');
  std::string logPath = slash == std::string::npos ? std::string() : dir.substr(0, slash == 0 ? 1 : slash);
  bool console = HasConsoleWindow();

  // The log directory is the operator group's only (its logs quote what peers send).
  if (!platform::ForceDirectories(logPath, 0750)) {
    int error = errno;
    return FailEnvironmentDump(FormatText("Create directory failed, path = %s, last err = %d", logPath.c_str(), error),
                               console);
  }
  std::string reportPath = WithTrailingSlash(logPath) + "EnvInfo.log";

  if (!platform::FileExists(platform::LogicalFileName(toolPath)))
    return FailEnvironmentDump(FormatText("Can't find file: %s", toolPath.c_str()), console);

  char commandLine[780];
  int length = std::snprintf(commandLine, sizeof commandLine, "\"%s\" \"/ep:%s\" \"/lfp:%s\"", toolPath.c_str(),
                             exePath.c_str(), reportPath.c_str());
  if (length < 0 || length >= static_cast<int>(sizeof commandLine)) {
    int error = length < 0 ? errno : ERANGE;
    return FailEnvironmentDump(FormatText("Format cmdline failed, maybe buff overflow, errno = %d", error), console);
  }

  LogObject()->LogInfo("Begin dump environment info!");
  platform::ProcessInformation info;
  int error = 0;
  if (!platform::StartProcess(commandLine, "", false, &info, &error))
    return FailEnvironmentDump(
        FormatText("Create DumpApp failed! GetLastError() = %d, CmdLine = %s", error, commandLine), console);

  const platform::ProcessHandle dumpApp(info.ProcessHandle);
  int exitCode = 0;
  if (!platform::WaitForProcess(dumpApp.get(), -1, &exitCode)) {
    int waitError = errno;
    return FailEnvironmentDump(FormatText("Get process exit code failed, last err = %d", waitError), console);
  }
  if (exitCode != 0)
    return FailEnvironmentDump(FormatText("Check environment faild, Gavrock exit code = %d", exitCode), console);

  LogObject()->LogInfo("%s", std::string(91, '-').c_str());
  LogObject()->LogInfo("End dump environment info!");
  return true;
}

bool RunIntegrityCheck(const std::string& dir) {
  std::string toolDir = platform::NativePath(dir);
  if (toolDir.empty())
    toolDir = platform::ExeDir();
  else if (toolDir[0] != '/')
    toolDir = platform::ExeDir() + toolDir;
  std::string toolPath = WithTrailingSlash(toolDir) + "Holmira.exe";

  if (!platform::FileExists(platform::LogicalFileName(toolPath))) {
    LogObject()->LogWarn("Can't find file: %s", toolPath.c_str());
    return true;
  }
  platform::ProcessInformation info;
  int error = 0;
  // Quoted, so that a directory with blanks stays one word.
  if (!platform::StartProcess("\"" + toolPath + "\"", "", false, &info, &error)) {
    LogObject()->LogFatal("Create %s failed! GetLastError() = %d, CmdLine = %s", "Holmira.exe", error,
                          toolPath.c_str());
    return false;
  }
  LogObject()->LogInfo("Begin checking file integrity!");
  const platform::ProcessHandle tool(info.ProcessHandle);
  int exitCode = 0;
  platform::WaitForProcess(tool.get(), -1, &exitCode);
  LogObject()->LogInfo("End  checking file integrity!");
  return true;
}

bool DEPCheck() {
  LogObject()->LogInfo("DEPCheck()");
  try {
    std::string bootIni = platform::SystemRoot() + "Boot.ini";
    if (!platform::FileExists(bootIni)) {
      platform::CurrentDialogs().Message(FormatText("Can't Find Dir : %s", bootIni.c_str()));
      return false;
    }
    // A Boot.ini that is there but cannot be read is reported below; the run-time check
    // still follows.
    if (AsciiLower(ReadFileOrThrow(bootIni)).find("/noexecute=optin") == std::string::npos) {
      // The second line is GBK text.
      std::string question =
          "DEP Is Activate, Server May Not Run Normally! Continue Run?\r\n"
          "\xcf\xb5\xcd\xb3"
          "DEP\xd2\xd1\xc6\xf4\xd3\xc3,\xb7\xfe\xce\xf1\xc6\xf7\xbf\xc9\xc4\xdc\xb2\xbb\xc4\xdc\xd5\xfd\xb3\xa3\xd4"
          "\xcb\xd0\xd0!\xca\xc7\xb7\xf1\xbc\xcc\xd0\xf8\xd4\xcb\xd0\xd0?\r\n"
          "[My Computer->Propertise->Advaced->Performance Settings->Data Excution Prevention. Choose First!]\r\n";
      if (!platform::CurrentDialogs().Ask(CodePageToUtf8(question, "CP936"), "Close Ask")) return false;
    }
  } catch (const std::exception& e) {
    platform::CurrentDialogs().Message(e.what());
  }
  return ServerRunTimeCheck();
}

bool ServerRunTimeCheck() {
  LogObject()->LogInfo("ServerRunTimeCheck()");
  // The multimedia timer: milliseconds since boot as 32 bits, wrapping every 49.7 days.
  uint32_t uptime = static_cast<uint32_t>(platform::GetMillisecondsSinceBoot());
  uint32_t sum = uptime + 172800000u;
  if (static_cast<int32_t>(sum) > 0) return true;
  int days = static_cast<int>(uptime / 86400000u + 1);
  // Lines 1 to 3 are GBK text, line 4 Big5.
  std::string gbkPart = FormatText(
      "---Vemo Server Max RunTime = 24 Days---!\r\n"
      "Server Already Run %d Days, Need To Restart Windows To Run Safely!\r\n"
      "\xb7\xfe\xce\xf1\xc6\xf7\xd2\xd1\xbe\xad\xd4\xcb\xd0\xd0\xc1\xcb %d \xcc\xec, \xd0\xe8\xd2\xaa\xd6\xd8\xc6\xf4"
      "Windows\xd6\xae\xba\xf3\xb2\xc5\xbf\xc9\xd2\xd4\xd5\xfd\xb3\xa3\xd4\xcb\xd0\xd0!\r\n",
      days, days);
  std::string big5Part = FormatText(
      "\xaa"
      "A\xb0\xc8\xbe\xb9\xa4w\xb8g\xb9"
      "B\xa6\xe6\xa4"
      "F %d \xa4\xd1, \xbb\xdd\xadn\xad\xab\xb1\xd2Windows\xa4\xa7\xa6Z\xa4~\xa5i\xa5H\xa5\xbf\xb1`\xb9"
      "B\xa6\xe6!\r\n",
      days);
  platform::CurrentDialogs().Message(CodePageToUtf8(gbkPart, "CP936") + CodePageToUtf8(big5Part, "CP950"));
  return true;
}

int ListOldFiles(const std::string& directory, const std::string& mask, std::vector<std::string>& list, int days) {
  std::string dir = WithTrailingSlash(platform::NativePath(directory));
  if (dir.empty()) return 0;
  // Both times count from the same epoch in UTC, so the age has no time-zone error.
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  int64_t now = static_cast<int64_t>(platform::CurrentClock().Now());
  int added = 0;
  for (const std::string& name : platform::ListFilesOf(dir)) {
    // Masks match without regard to case, as file searches do on the operator's platform.
    if (fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    uint64_t created = platform::FileCreationTime(dir + name);
    if (created == 0) continue;
    int64_t age = now - (static_cast<int64_t>(created / 10000000ULL) - kSecondsFrom1601To1970);
    // A file dated in the future is recent, not old.
    if (age < 0 || age / 86400 <= days) continue;
    list.push_back(name);
    ++added;
  }
  return added;
}

int ClearOldLogs(const std::string& directory) {
  // An empty directory text names no directory; it must never become the root.
  std::string dir = WithTrailingSlash(platform::NativePath(directory));
  if (dir.empty()) return 0;
  std::vector<std::string> names;
  ListOldFiles(dir, "*.log", names, 7);
  int deleted = 0;
  for (const std::string& name : names) {
    std::error_code error;
    if (std::filesystem::remove(dir + name, error)) ++deleted;
  }
  return deleted;
}

int ClearLastWeekLogWork(void* userData, int index) {
  static std::atomic<bool> processRan{false};
  bool ran = userData != nullptr ? *static_cast<bool*>(userData) : processRan.load();
  if (!ran) {
    const char* logPath = LogObject()->LogPath();
    ClearOldLogs(logPath != nullptr ? logPath : "");
    if (userData != nullptr)
      *static_cast<bool*>(userData) = true;
    else
      processRan = true;
  }
  return 1;
}
