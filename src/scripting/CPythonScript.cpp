// The embedded Python interpreter host and its module cache.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#include "scripting/CPythonScript.h"

#include <ctime>
#include <exception>
#include <filesystem>
#include <list>
#include <system_error>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "scripting/CPythonLock.h"
#include "scripting/CPythonScriptEx.h"
#include "scripting/PythonText.h"

// A method table of the interpreter: its entries and the texts they point into. Once
// registered the interpreter keeps pointers to the entries, the texts and the definition,
// so a table registered in an interpreter that outlives its host is left to the
// interpreter (KeepForInterpreter) rather than freed.
struct tagMethodTable {
  struct Contents {
    std::vector<PyMethodDef> Methods;
    std::list<std::string> Texts;  // a list, so that no text moves when another is added
    std::string ModuleName;
    PyModuleDef Definition{};
  };
  Contents* Data = new Contents;
  bool Registered = false;
  bool KeepForInterpreter = false;

  tagMethodTable() = default;
  tagMethodTable(const tagMethodTable&) = delete;
  tagMethodTable& operator=(const tagMethodTable&) = delete;
  ~tagMethodTable() {
    if (!KeepForInterpreter) delete Data;
  }
};

namespace {

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

// The file name up to its first "."; empty when the name has no ".".
std::string ScriptStem(const std::string& path) {
  std::size_t separator = LastSeparator(path);
  std::string file = separator == std::string::npos ? path : path.substr(separator + 1);
  std::size_t dot = file.find('.');
  return dot == std::string::npos ? std::string() : file.substr(0, dot);
}

// False when the script's name equals the name of a directory on its own path: such a
// module is usually shadowed by the package of that directory and cannot be imported.
bool ScriptNameDiffersFromDirectories(const std::string& path) {
  std::string stem = ScriptStem(path);
  if (stem.empty()) return true;
  std::string normal = path;
  for (char& ch : normal)
    if (ch == '\\') ch = '/';
  std::size_t separator = normal.rfind('/');
  std::string directory = separator == std::string::npos ? std::string() : normal.substr(0, separator + 1);
  return (directory + "/").find("/" + stem + "/") == std::string::npos;
}

// The executable's full path, handed to the interpreter as its program name.
std::string ExecutablePath() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.string();
}

// Refreshes the importers' cached directory listings, so that a file created since the
// last import is found, as it is by a fresh search of the path.
void InvalidateImportCaches() {
  PyObject* importlib = PyImport_ImportModule("importlib");
  PyObject* result = importlib != nullptr ? PyObject_CallMethod(importlib, "invalidate_caches", nullptr) : nullptr;
  Py_XDECREF(result);
  Py_XDECREF(importlib);
  PyErr_Clear();
}

// `Msg` of module LogUI: writes one text (str or bytes) to the log through the
// process-wide host and gives the text back.
PyObject* LogUIMsg(PyObject*, PyObject* args) {
  PyObject* argument = nullptr;
  if (!PyArg_ParseTuple(args, "O:Msg", &argument)) return nullptr;
  std::string text;
  if (PyBytes_Check(argument)) {
    text.assign(PyBytes_AS_STRING(argument), static_cast<std::size_t>(PyBytes_GET_SIZE(argument)));
  } else if (PyUnicode_Check(argument)) {
    text = PythonTextBytes(argument);
  } else {
    PyErr_Format(PyExc_TypeError, "Msg() argument must be str or bytes, not %.200s", Py_TYPE(argument)->tp_name);
    return nullptr;
  }
  if (text.find('\0') != std::string::npos) {
    PyErr_SetString(PyExc_ValueError, "Msg() argument contains an embedded null character");
    return nullptr;
  }
  CPythonScriptEx::GetInstance()->AddMessage("Alert", text, false);
  if (PyBytes_Check(argument)) return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  return PyUnicode_FromObject(argument);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Construction and destruction

CPythonScript::CPythonScript() {
  m_MethodTables.Add(new tagMethodTable);
  if (!StartInterpreter()) {
    AddMessage("Sys", "python init fail!", true);
    return;
  }
  m_Ready = true;
  AddModuleFunction("Msg", LogUIMsg, "Message Handle");
  RegisterModule("LogUI");
}

bool CPythonScript::StartInterpreter() {
  m_ProgramName = ExecutablePath();
  if (Py_IsInitialized()) {
    m_OwnsInterpreter = false;
    return true;
  }
  m_OwnsInterpreter = true;
  // Texts cross into the interpreter as UTF-8 whatever the locale, and the interpreter
  // leaves the process's locale and environment alone (no C-locale coercion, which would
  // also reach every program the manager starts).
  PyPreConfig preconfig;
  PyPreConfig_InitPythonConfig(&preconfig);
  preconfig.utf8_mode = 1;
  preconfig.configure_locale = 0;
  preconfig.coerce_c_locale = 0;
  preconfig.coerce_c_locale_warn = 0;
  if (PyStatus_Exception(Py_PreInitialize(&preconfig))) return false;
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  // The manager keeps its own signal handling; the interpreter installs none.
  config.install_signal_handlers = 0;
  config.parse_argv = 0;
  if (!m_ProgramName.empty()) {
    PyStatus status = PyConfig_SetBytesString(&config, &config.program_name, m_ProgramName.c_str());
    if (PyStatus_Exception(status)) {
      PyConfig_Clear(&config);
      return false;
    }
  }
  PyStatus status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status) || !Py_IsInitialized()) return false;
  // Give the lock up: every operation takes it again, on whichever thread it runs (the
  // interpreter remembers this thread's state for it).
  PyEval_SaveThread();
  return true;
}

CPythonScript::~CPythonScript() {
  m_Messages.clear();
  m_TraceLines.clear();
  bool running = m_Ready && Py_IsInitialized();
  if (running) {
    // Taken and never given back when the interpreter ends here: its states end with it.
    PyGILState_STATE state = PyGILState_Ensure();
    for (int i = 0; i < m_ModuleList.Count(); ++i) {
      tagModuleDict* entry = m_ModuleList.Get(i);
      Py_CLEAR(entry->module);
      entry->dict = nullptr;
    }
    m_ModuleList.Clear();
    if (m_OwnsInterpreter) {
      Py_FinalizeEx();
    } else {
      PyGILState_Release(state);
    }
  } else {
    m_ModuleList.Clear();
  }
  // A module that this host registered in an interpreter that lives on keeps pointing
  // into its method table; such tables are left to the interpreter.
  if (running && !m_OwnsInterpreter)
    for (int i = 0; i < m_MethodTables.Count(); ++i)
      if (m_MethodTables.Get(i)->Registered) m_MethodTables.Get(i)->KeepForInterpreter = true;
  m_MethodTables.Clear();
}

// ---------------------------------------------------------------------------------------
// Host modules

void CPythonScript::AddModuleFunction(const std::string& name, ScriptHandler handler, const std::string& doc) {
  tagMethodTable::Contents* table = m_MethodTables.Get(m_MethodTables.Count() - 1)->Data;
  const char* nameText = table->Texts.emplace_back(name).c_str();
  const char* docText = table->Texts.emplace_back(doc).c_str();
  table->Methods.push_back({nameText, reinterpret_cast<PyCFunction>(handler), METH_VARARGS, docText});
}

void CPythonScript::RegisterModule(const std::string& name) {
  tagMethodTable* current = m_MethodTables.Get(m_MethodTables.Count() - 1);
  tagMethodTable::Contents* table = current->Data;
  table->Methods.push_back({nullptr, nullptr, 0, nullptr});
  table->ModuleName = name;
  table->Definition = {PyModuleDef_HEAD_INIT,
                       table->ModuleName.c_str(),
                       nullptr,
                       -1,
                       table->Methods.data(),
                       nullptr,
                       nullptr,
                       nullptr,
                       nullptr};
  bool registered = false;
  if (m_Ready) {
    CPythonLock lock;
    PyObject* module = PyModule_Create(&table->Definition);
    if (module != nullptr) {
      registered = PyDict_SetItemString(PyImport_GetModuleDict(), table->ModuleName.c_str(), module) == 0;
      Py_DECREF(module);
    }
    // The interpreter may point into the table even when a later step failed.
    current->Registered = true;
    PyErr_Clear();
  }
  m_MethodTables.Add(new tagMethodTable);
  if (!registered) AddMessage("SysNameSpace", "python init can't find module!", true);
}

// ---------------------------------------------------------------------------------------
// Loading and reloading

tagModuleDict* CPythonScript::FindModule(const std::string& path) const { return m_ModuleList.Find(AsciiLower(path)); }

bool CPythonScript::LoadFromFile(const std::string& path) {
  // Under the lock: a script thread's LogUI.Msg raises the number at any time.
  CPythonLock lock;
  m_MessageNo = 0;
  try {
    return LoadModule(path);
  } catch (const std::exception& e) {
    AddMessage(path, FormatText("%s(%s) failed:Exception %s", "CPythonScript::LoadFromFile", path.c_str(), e.what()),
               true);
    return false;
  }
}

bool CPythonScript::LoadModule(const std::string& path) {
  std::string scriptPath = path;
  if (!ScriptNameDiffersFromDirectories(scriptPath))
    AddMessage(scriptPath,
               FormatText("文件 %s 读取有可能失败, 请检查python脚本名称是否和目录名相同(如果相同, 则执行不了)!",
                          scriptPath.c_str()),
               true);
  std::string stem = ScriptStem(scriptPath);
  std::string moduleName = stem.empty() ? scriptPath : stem;
  std::string key = AsciiLower(scriptPath);
  tagModuleDict* entry = m_ModuleList.Find(key);
  if (entry == nullptr) {
    entry = new tagModuleDict;
    entry->name = key;
    m_ModuleList.Add(key, entry);
    scriptPath = key;
  } else if (entry->module != nullptr) {
    return ReloadModule(entry, scriptPath);
  }
  if (!m_Ready) {
    AddMessage(scriptPath, "python init fail!", true);
    return false;
  }
  // The module is found along the interpreter's own search path. A name in bytes that are
  // not UTF-8 is taken as the file system's bytes.
  InvalidateImportCaches();
  PyObject* name = PyUnicode_DecodeFSDefault(moduleName.c_str());
  PyObject* module = name != nullptr ? PyImport_Import(name) : nullptr;
  Py_XDECREF(name);
  if (module == nullptr) {
    AddMessage(scriptPath, FormatPythonError(), true);
    return false;
  }
  entry->module = module;
  entry->dict = PyModule_Check(module) ? PyModule_GetDict(module) : nullptr;
  return true;
}

bool CPythonScript::ReloadModule(tagModuleDict* entry, const std::string& path) {
  if (entry == nullptr || entry->module == nullptr) return LoadFromFile(path);
  if (path.find("Wistel.py") != std::string::npos) {
    LogObject()->LogInfo("%s no reload !!!", path.c_str());
    return true;
  }
  CPythonLock lock;
  InvalidateImportCaches();
  PyObject* reloaded = PyImport_ReloadModule(entry->module);
  if (reloaded == nullptr) {
    std::string error = FormatPythonError();
    AddMessage(path, FormatText("Reload file : %s fail. %s", path.c_str(), error.c_str()), true);
    return false;
  }
  Py_DECREF(entry->module);
  entry->module = reloaded;
  entry->dict = PyModule_Check(reloaded) ? PyModule_GetDict(reloaded) : nullptr;
  m_MessageNo = 0;
  return true;
}

// ---------------------------------------------------------------------------------------
// Calls

std::string CPythonScript::FindScriptExt(const std::string& path) {
  std::size_t separator = LastSeparator(path);
  std::size_t dot = path.rfind('.');
  bool hasExtension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
  std::string base = hasExtension ? path.substr(0, dot) : path;
  for (const char* ext : {".py", ".pyo", ".pyc"})
    if (platform::FileExists(base + ext)) return ext;
  return std::string();
}

PyObject* CPythonScript::CallFunction(const std::string& path, const std::string& funcName, PyObject* args) {
  std::string scriptPath = path;
  std::string ext = FindScriptExt(path);
  if (!ext.empty()) {
    std::size_t separator = LastSeparator(path);
    std::size_t dot = path.rfind('.');
    bool hasExtension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
    scriptPath = (hasExtension ? path.substr(0, dot) : path) + ext;
  }
  CPythonLock lock;
  std::string key = AsciiLower(scriptPath);
  tagModuleDict* entry = m_ModuleList.Find(key);
  if (entry == nullptr) {
    LoadFromFile(scriptPath);
    entry = m_ModuleList.Find(key);
  }
  if (entry == nullptr) {
    AddMessage(scriptPath, "dict is NULL!", true);
    return nullptr;
  }
  if (entry->module == nullptr) {
    AddMessage(scriptPath, "Can Not Find File!", true);
    return nullptr;
  }
  PyObject* dict = entry->dict != nullptr ? entry->dict : PyModule_GetDict(entry->module);
  if (dict == nullptr) {
    std::string error = FormatPythonError();
    AddMessage(scriptPath, FormatText("Function : %s Run Fail,can't Find pDict : %s", funcName.c_str(), error.c_str()),
               true);
    return nullptr;
  }
  PyObject* function = PyDict_GetItemString(dict, funcName.c_str());
  if (function == nullptr || !PyCallable_Check(function)) {
    std::string error = FormatPythonError();
    AddMessage(scriptPath, FormatText("Function : %s Run Fail : %s", funcName.c_str(), error.c_str()), true);
    PyObject* keys = PyDict_Keys(dict);
    Py_ssize_t count = keys != nullptr ? PyList_Size(keys) : 0;
    for (Py_ssize_t i = 0; i < count; ++i) AddMessage(scriptPath, ObjectText(PyList_GetItem(keys, i)), true);
    Py_XDECREF(keys);
    PyErr_Clear();
    return nullptr;
  }
  // Held for the call: the script may rebind the name while its function runs.
  Py_INCREF(function);
  PyObject* result = PyObject_CallObject(function, args);
  Py_DECREF(function);
  if (result == nullptr) {
    AddMessage(scriptPath, FormatPythonError(), true);
    return nullptr;
  }
  return result;
}

PyObject* CallAndReleaseArgs(CPythonScript* host, const char* path, const char* funcName, PyObject* args) {
  PyObject* result = nullptr;
  if (host != nullptr && path != nullptr && funcName != nullptr) result = host->CallFunction(path, funcName, args);
  if (args != nullptr && Py_IsInitialized()) {
    CPythonLock lock;
    Py_DECREF(args);
  }
  return result;
}

bool CallWithBytes(CPythonScript* host, const char* path, const char* funcName, const void* bytes, int length) {
  if (host == nullptr) return false;
  // Without an interpreter there is nothing to build; the call reports why it cannot run.
  if (!Py_IsInitialized()) return CallAndReleaseArgs(host, path, funcName, nullptr) != nullptr;
  CPythonLock lock;
  PyObject* args = Py_BuildValue("(y#)", bytes != nullptr ? static_cast<const char*>(bytes) : "",
                                 static_cast<Py_ssize_t>(bytes != nullptr && length > 0 ? length : 0));
  if (args == nullptr) {
    host->AddMessage(path != nullptr ? path : "", host->FormatPythonError(), true);
    return false;
  }
  PyObject* result = CallAndReleaseArgs(host, path, funcName, args);
  Py_XDECREF(result);
  return result != nullptr;
}

// ---------------------------------------------------------------------------------------
// Trace lines

void CPythonScript::AddTraceLine(const std::string& text) {
  CPythonLock lock;
  if (m_TraceOutput) m_TraceOutput(*this, text);
  if (m_TraceLines.size() > kMaxHistoryLines) m_TraceLines.clear();
  m_TraceLines.push_back(text);
}
