// Helpers of the scripting tests: the interpreter's search path, small interpreter
// snippets, and child runs of this test program for the paths that end or restart the
// process.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Utils.h"
#include "scripting/CPythonLock.h"
#include "support/ChildProgram.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace scripting_test {

// Runs a few statements in the interpreter's main module; true when they raised nothing.
inline bool RunPython(const std::string& code) {
  CPythonLock lock;
  return PyRun_SimpleString(code.c_str()) == 0;
}

// Python text of a path as a string literal.
inline std::string PyLiteral(const std::string& text) {
  std::string out = "r'";
  out += text;
  out += "'";
  return out;
}

// The launch environment's part: puts a directory first on the interpreter's search path.
inline void AddSearchPath(const std::string& dir) {
  RunPython("import sys\nsys.path.insert(0, " + PyLiteral(dir) + ")");
}
inline void RemoveSearchPath(const std::string& dir) {
  RunPython("import sys\nwhile " + PyLiteral(dir) + " in sys.path: sys.path.remove(" + PyLiteral(dir) + ")");
}

inline bool ErrorPending() {
  CPythonLock lock;
  return PyErr_Occurred() != nullptr;
}

// The text of a str or bytes result, releasing it; "<null>" for null.
inline std::string TakeText(PyObject* result) {
  if (result == nullptr) return "<null>";
  CPythonLock lock;
  std::string text;
  if (PyBytes_Check(result)) {
    text.assign(PyBytes_AS_STRING(result), static_cast<size_t>(PyBytes_GET_SIZE(result)));
  } else if (PyUnicode_Check(result)) {
    const char* utf8 = PyUnicode_AsUTF8(result);
    text = utf8 != nullptr ? utf8 : "<unencodable>";
    PyErr_Clear();
  } else if (PyLong_Check(result)) {
    text = std::to_string(PyLong_AsLong(result));
  } else {
    text = "<other>";
  }
  Py_DECREF(result);
  return text;
}

// A log object that also prints the lines a child run must hand to its parent.
class EchoLog : public RecordingLog {
 public:
  void LogInfo(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    Echo("INFO", format, args);
    va_end(args);
  }
  void LogFatal(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    Echo("FATAL", format, args);
    va_end(args);
  }
  void ScriptError(int reserved, const char* text) override {
    std::printf("SCRIPTERROR|%s\n", text ? text : "");
    std::fflush(stdout);
    RecordingLog::ScriptError(reserved, text);
  }

 private:
  void Echo(const char* level, const char* format, va_list args) {
    char buffer[8192];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    std::printf("%s|%s\n", level, buffer);
    std::fflush(stdout);
    if (std::string(level) == "FATAL")
      RecordingLog::LogFatal("%s", buffer);
    else
      RecordingLog::LogInfo("%s", buffer);
  }
};

// True inside a child run started by RunChild.
inline bool InChild() { return std::getenv("VEMO_SCRIPTING_CHILD") != nullptr; }

// The body of a child run, as a test of the suite "ScriptingChild".
class ChildRun : public testing::Test {
 public:
  explicit ChildRun(void (*body)()) : m_Body(body) {}

 private:
  void TestBody() override { m_Body(); }
  void (*m_Body)();
};

// Registers a child run; it exists only inside a child process, so that an ordinary run, and
// the list of tests CTest takes from the program, never see it.
inline bool RegisterChildRun(const char* name, void (*body)(), const char* file, int line) {
  if (InChild())
    testing::RegisterTest("ScriptingChild", name, nullptr, nullptr, file, line,
                          [body]() -> ChildRun* { return new ChildRun(body); });
  return true;
}

// SCRIPTING_CHILD(Name) { ... } defines the child run "ScriptingChild.Name".
#define SCRIPTING_CHILD(name)                                                            \
  void ScriptingChild##name();                                                           \
  [[maybe_unused]] const bool kScriptingChild##name =                                    \
      scripting_test::RegisterChildRun(#name, ScriptingChild##name, __FILE__, __LINE__); \
  void ScriptingChild##name()

struct ChildResult {
  int exitCode = -1;
  std::vector<std::string> lines;  // the child's standard output, line by line
  bool Has(const std::string& line) const {
    for (const auto& l : lines)
      if (l == line) return true;
    return false;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : lines) n += l == line ? 1 : 0;
    return n;
  }
};

// Runs one child run of this program in a fresh process, with `options` for its
// environment; its standard output and error, line by line.
inline ChildResult RunChild(const std::string& test, SpawnOptions options = {}) {
  ChildResult result;
  std::error_code error;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  TempDir dir("vemo-scripting");
  options.setEnv.push_back("VEMO_SCRIPTING_CHILD=1");
  result.exitCode = WaitProgram(SpawnProgram(self, {"--gtest_filter=" + test}, dir / "output", options), 60000);
  result.lines = SplitLines(ReadFile(dir / "output"));
  return result;
}

}  // namespace scripting_test
