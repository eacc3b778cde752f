#include "ScriptRunner.h"

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/process.h"
#include "text/Text.h"

namespace mapserver {
namespace {

constexpr const char* kHostFileName = "ms_script_host.py";

// The host: arguments are the job directory and the time limit in seconds.
constexpr const char* kHostSource =
    R"PY(# The map server's script host: runs one ScriptCmd text with the server's own modules.
import os
import signal
import sys
import traceback
import types


def main():
    job = sys.argv[1]
    limit = int(sys.argv[2])
    # Ends the script even when the map server that started it is gone.
    signal.alarm(limit + 5)
    out = open(os.path.join(job, "out.txt"), "w", encoding="utf-8", errors="replace", buffering=1)
    sys.stdout = out
    sys.stderr = out
    requests = open(os.path.join(job, "requests.txt"), "w", encoding="utf-8", buffering=1)

    def request(*words):
        requests.write(" ".join(str(w).replace("\n", " ").replace("\r", " ") for w in words) + "\n")

    tessmark = types.ModuleType("Tessmark")
    tessmark.RunCMD = lambda name: request("RunCMD", name)

    class Orlamb:
        def Save(self):
            request("Save")

    the_orlamb = Orlamb()
    orlamb = types.ModuleType("Orlamb")
    orlamb.GetOrlamb = lambda: the_orlamb

    class IPY_Script:
        def RefreshScript(self):
            request("RefreshScript")

        def ApplySetting(self):
            request("ApplySetting")

    ipy_orlamb = types.ModuleType("IPY_Orlamb")
    ipy_orlamb.IPY_Script = IPY_Script
    sys.modules.update({"Tessmark": tessmark, "Orlamb": orlamb, "IPY_Orlamb": ipy_orlamb})

    with open(os.path.join(job, "path.txt"), encoding="utf-8", errors="replace") as f:
        script_path = f.read()
    if script_path:
        sys.path.insert(0, script_path)

    with open(os.path.join(job, "script.py"), "rb") as f:
        raw = f.read()
    for encoding in ("utf-8", "gbk", "latin-1"):
        try:
            source = raw.decode(encoding)
            break
        except UnicodeDecodeError:
            continue
    try:
        code = compile(source, "<ScriptCmd>", "exec")
        exec(code, {"__name__": "__main__", "__builtins__": __builtins__})
    except SystemExit as e:
        if e.code in (None, 0):
            return 0
        print("SystemExit:", e.code)
        return 1
    except BaseException:
        # Leave out this host's own frame: the operator wants the script's lines only.
        kind, value, tb = sys.exc_info()
        traceback.print_exception(kind, value, tb.tb_next if tb is not None else None)
        return 1
    return 0


sys.exit(main())
)PY";

std::atomic<unsigned> g_jobNumber{0};

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  return static_cast<bool>(file);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::string text;
  return ReadWholeFile(path, text) ? SplitLines(text) : std::vector<std::string>();
}

}  // namespace

ScriptRunner::ScriptRunner(std::string workDir, std::string scriptPath, int timeoutSeconds)
    : m_WorkDir(std::move(workDir)), m_ScriptPath(std::move(scriptPath)), m_TimeoutSeconds(timeoutSeconds) {}

ScriptRunner::~ScriptRunner() { Kill(); }

const char* ScriptRunner::Interpreter() { return "/usr/bin/python3"; }

bool ScriptRunner::WriteHost(const std::string& workDir) {
  std::error_code ec;
  std::filesystem::create_directories(workDir, ec);
  return WriteFile(workDir + kHostFileName, kHostSource);
}

bool ScriptRunner::Start(const std::string& text, std::string& error) {
  if (Busy()) {
    error = "a script is still running";
    return false;
  }
  m_JobDir =
      m_WorkDir + "job_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++g_jobNumber) + "/";
  std::error_code ec;
  std::filesystem::create_directories(m_JobDir, ec);
  if (ec || !WriteFile(m_JobDir + "script.py", text) || !WriteFile(m_JobDir + "path.txt", m_ScriptPath)) {
    error = "cannot write the script job in " + m_JobDir;
    std::filesystem::remove_all(m_JobDir, ec);
    return false;
  }
  // Quotes keep blanks inside the paths; a path with a quote of its own cannot be passed.
  if (m_JobDir.find('"') != std::string::npos || m_WorkDir.find('"') != std::string::npos) {
    error = "the script work directory contains a double quote: " + m_WorkDir;
    std::filesystem::remove_all(m_JobDir, ec);
    return false;
  }
  std::string commandLine = std::string(Interpreter()) + " -B \"" + m_WorkDir + kHostFileName + "\" \"" + m_JobDir +
                            "\" " + std::to_string(m_TimeoutSeconds);
  platform::ProcessInformation info;
  int errorCode = 0;
  if (!platform::StartProcess(commandLine, m_WorkDir, false, &info, &errorCode)) {
    error = std::string("cannot start ") + Interpreter() + ": " + std::to_string(errorCode);
    std::filesystem::remove_all(m_JobDir, ec);
    return false;
  }
  m_Handle = info.ProcessHandle;
  m_StartTick = platform::GetTickCount();
  return true;
}

bool ScriptRunner::Poll(ScriptResult& result) {
  if (!Busy()) return false;
  int exitCode = 0;
  if (platform::WaitForProcess(m_Handle, 0, &exitCode)) {
    result = ScriptResult();
    result.ExitCode = exitCode;
    Finish(result);
    return true;
  }
  uint32_t elapsed = platform::GetTickCount() - m_StartTick;
  if (elapsed < static_cast<uint32_t>(m_TimeoutSeconds) * 1000u) return false;
  platform::TerminateProcess(m_Handle, -1);
  platform::WaitForProcess(m_Handle, 2000, &exitCode);
  result = ScriptResult();
  result.TimedOut = true;
  result.ExitCode = exitCode;
  Finish(result);
  return true;
}

void ScriptRunner::Finish(ScriptResult& result) {
  platform::CloseProcessHandle(m_Handle);
  m_Handle = 0;
  result.Output = ReadLines(m_JobDir + "out.txt");
  result.Requests = ReadLines(m_JobDir + "requests.txt");
  std::error_code ec;
  std::filesystem::remove_all(m_JobDir, ec);
}

void ScriptRunner::Kill() {
  if (!Busy()) return;
  int exitCode = 0;
  platform::TerminateProcess(m_Handle, -1);
  platform::WaitForProcess(m_Handle, 2000, &exitCode);
  platform::CloseProcessHandle(m_Handle);
  m_Handle = 0;
  std::error_code ec;
  std::filesystem::remove_all(m_JobDir, ec);
}

}  // namespace mapserver
