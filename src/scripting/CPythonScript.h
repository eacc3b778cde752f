// The embedded Python interpreter host: starts the interpreter, offers the host module
// `LogUI` to scripts, loads script files into a module cache keyed by their lower-cased
// path, calls script functions, and turns every script problem into a message written to
// the log and kept in a history.
//
// Interpreter lock: every operation of the host takes the interpreter lock itself (and an
// owning host gives it up again right after start-up), so the host may be used from any
// thread, one thread at a time. Code outside the host that builds argument tuples or
// releases a result must hold the lock too: see CPythonLock.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/AIndexList.h"
#include "common/AList.h"

// The interpreter's object type, declared here so that includers need not include Python.h.
typedef struct _object PyObject;
// A module function: (module, argument tuple) -> new reference or null with an error set.
typedef PyObject* (*ScriptHandler)(PyObject* self, PyObject* args);

// One loaded script file.
struct tagModuleDict {
  std::string name;            // the file path in lower case; equals the cache key
  PyObject* module = nullptr;  // the imported module (a reference the host owns), or null
  PyObject* dict = nullptr;    // the module's namespace (borrowed), or null
};

struct tagMethodTable;  // an interpreter method table under construction or registered

class CPythonScript {
 public:
  // Lines kept in the message history and in the trace lines before they are emptied.
  static constexpr std::size_t kMaxHistoryLines = 10000;

  CPythonScript();
  ~CPythonScript();
  CPythonScript(const CPythonScript&) = delete;
  CPythonScript& operator=(const CPythonScript&) = delete;

  // Appends a function (arguments passed as one tuple) to the current method table.
  void AddModuleFunction(const std::string& name, ScriptHandler handler, const std::string& doc);
  // Registers the current method table as module `name` and starts a new table.
  void RegisterModule(const std::string& name);

  // Writes text to the log (ScriptError or ScriptOutput) and a numbered line to the history.
  void AddMessage(const std::string& kind, const std::string& text, bool isError);
  // Takes the interpreter's pending error (clearing it) and renders it with its traceback.
  std::string FormatPythonError();

  // Loads the script file into the module cache, or reloads it when it is loaded already.
  bool LoadFromFile(const std::string& path);
  bool ReloadModule(tagModuleDict* entry, const std::string& path);

  // The first of ".py", ".pyo", ".pyc" for which `path` with that extension exists, or "".
  static std::string FindScriptExt(const std::string& path);
  // Calls a function of a script file; a new reference the caller owns, or null after a
  // message. `args` (a tuple, or null for no arguments) stays the caller's.
  PyObject* CallFunction(const std::string& path, const std::string& funcName, PyObject* args);

  // Passes the line to the trace output and keeps it in the trace lines.
  void AddTraceLine(const std::string& text);

  // What the host holds, for its owner and for tests.
  const std::vector<std::string>& Messages() const { return m_Messages; }
  int MessageNo() const { return m_MessageNo; }
  bool OwnsInterpreter() const { return m_OwnsInterpreter; }
  // True once the interpreter runs and the host may use it.
  bool IsReady() const { return m_Ready; }
  const std::vector<std::string>& TraceLines() const { return m_TraceLines; }
  // The cache entry of a path (looked up by its lower-cased form), or null.
  tagModuleDict* FindModule(const std::string& path) const;
  int ModuleCount() const { return m_ModuleList.Count(); }

 protected:
  // Where trace lines go besides the trace lines; empty until an owner sets it.
  std::function<void(CPythonScript&, const std::string&)> m_TraceOutput;

 private:
  bool StartInterpreter();
  // The body of LoadFromFile; the caller holds the interpreter lock.
  bool LoadModule(const std::string& path);
  // The text of any interpreter object; never fails and leaves no error pending.
  static std::string ObjectText(PyObject* object);

  std::vector<std::string> m_Messages;
  int m_MessageNo = 0;
  bool m_OwnsInterpreter = false;
  bool m_Ready = false;
  std::string m_ProgramName;
  AList<tagMethodTable> m_MethodTables{true, 10};
  AIndexListPro<std::string, tagModuleDict> m_ModuleList{true};
  std::vector<std::string> m_TraceLines;
};

// CallFunction, then releases the argument tuple (when there is one); null without a host.
PyObject* CallAndReleaseArgs(CPythonScript* host, const char* path, const char* funcName, PyObject* args);

// The whole script call of a byte message, under the interpreter lock: builds the one-item
// argument tuple (a bytes object of `length` bytes), calls CallAndReleaseArgs and releases
// the result. True when the function returned a result, false after the host's messages.
bool CallWithBytes(CPythonScript* host, const char* path, const char* funcName, const void* bytes, int length);
