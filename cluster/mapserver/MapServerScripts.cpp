// The map server's script commands: the ScriptCmd requests queued from its record, run one at
// a time by the script runner, and the requests a script makes back (save, reload, apply).
#include <string>
#include <utility>

#include "MapServer.h"

namespace mapserver {
namespace {

// The text on one log line: its line breaks become "|".
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = '|';
  }
  return text;
}

}  // namespace

void MapServer::QueueScript(const std::string& text) {
  Log(llInfo, "ScriptCmd (" + std::to_string(text.size()) + " bytes): " + OneLine(text));
  if (!m_Scripts) {
    Log(llWarn, "ScriptCmd not run: no script host; the text is only logged");
    return;
  }
  if (m_ScriptQueue.size() >= kMaxQueuedScripts) {
    Log(llError, "ScriptCmd not run: " + std::to_string(m_ScriptQueue.size()) + " scripts are waiting already");
    return;
  }
  m_ScriptQueue.push_back(text);
}

void MapServer::PollScripts(uint32_t now) {
  if (!m_Scripts) return;
  ScriptResult result;
  if (m_Scripts->Poll(result)) HandleScriptResult(result);
  if (!m_Scripts->Busy() && !m_ScriptQueue.empty()) {
    std::string text = std::move(m_ScriptQueue.front());
    m_ScriptQueue.pop_front();
    std::string error;
    if (m_Scripts->Start(text, error)) {
      ++m_ScriptsRun;
    } else {
      Log(llError, "ScriptCmd not run: " + error);
    }
  }
}

void MapServer::HandleScriptResult(const ScriptResult& result) {
  bool failed = result.TimedOut || result.ExitCode != 0;
  for (const std::string& line : result.Output) Log(failed ? llPyErr : llNomal, "script: " + line);
  if (result.TimedOut) {
    Log(llPyErr, "ScriptCmd stopped after " + std::to_string(m_Context.ScriptTimeoutSeconds) + " s");
  } else if (result.ExitCode != 0) {
    Log(llPyErr, "ScriptCmd failed (exit code " + std::to_string(result.ExitCode) + ")");
  } else {
    Log(llInfo, "ScriptCmd done");
  }
  for (const std::string& request : result.Requests) HandleScriptRequest(request);
}

void MapServer::HandleScriptRequest(const std::string& request) {
  if (request == "RunCMD SavePlayer") {
    Save("player data", ".sav");
  } else if (request == "RunCMD SavePlayerBackupFile") {
    Save("player backup", ".bak");
  } else if (request.rfind("RunCMD ", 0) == 0) {
    Log(llWarn, "RunCMD: unknown command " + request.substr(7));
  } else if (request == "Save") {
    Save("map data", ".sav");
  } else if (request == "RefreshScript") {
    m_Figures.AddXmlLoads(m_Figures.XmlLoadTarget());
    Log(llInfo, "scripts and XML files reloaded");
  } else if (request == "ApplySetting") {
    Log(llInfo, "settings applied");
  } else if (!request.empty()) {
    Log(llWarn, "unknown script request: " + request);
  }
}

}  // namespace mapserver
