// Runs the manager's ScriptCmd texts in a child Python 3 interpreter, one at a time per
// map, without blocking the map server: the text goes to a job directory, the child runs
// it with the server's own script modules (Tessmark, Orlamb, IPY_Orlamb) and the operator's
// script path on its search path, writes what it prints to a file, and writes the requests
// that those modules make of the server ("RunCMD SavePlayer", "Save", ...) to another.
// A script that runs past its time limit is killed; a child that outlives a crashed map
// server ends by its own alarm.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mapserver {

struct ScriptResult {
  bool TimedOut = false;
  int ExitCode = 0;                   // 0: ran to the end; 1: the script raised; other: host failure
  std::vector<std::string> Output;    // what the script printed, including a traceback
  std::vector<std::string> Requests;  // one line per request of the server's modules
};

class ScriptRunner {
 public:
  // `workDir` ends in "/" and holds the host script (WriteHost); jobs are made beneath it.
  ScriptRunner(std::string workDir, std::string scriptPath, int timeoutSeconds);
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // Writes the host script into `workDir`. False when it cannot be written.
  static bool WriteHost(const std::string& workDir);
  // The interpreter that runs the scripts.
  static const char* Interpreter();

  bool Busy() const { return m_Handle != 0; }
  // Starts the text. False with `error` when the interpreter could not be started.
  bool Start(const std::string& text, std::string& error);
  // True once the started script has ended or has been stopped for its time limit;
  // `result` then holds its output. False while it runs or when nothing runs.
  bool Poll(ScriptResult& result);
  // Stops a running script at once (its output is dropped).
  void Kill();

 private:
  void Finish(ScriptResult& result);

  std::string m_WorkDir;
  std::string m_ScriptPath;
  int m_TimeoutSeconds;
  int m_Handle = 0;
  uint32_t m_StartTick = 0;
  std::string m_JobDir;
};

}  // namespace mapserver
