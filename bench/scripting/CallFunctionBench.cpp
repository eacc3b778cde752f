// The cost of a script call through the host against the same call made directly through
// the interpreter's API: the difference is the host's overhead (extension search, cache
// bisection, namespace lookup, the interpreter lock).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/LogComponent.h"
#include "interfaces/ILog.h"
#include "interfaces/SilentLog.h"
#include "scripting/CPythonLock.h"
#include "scripting/CPythonScriptEx.h"

namespace {

struct Setup {
  SilentLog log;
  std::string dir;
  std::string path;
  CPythonScriptEx* host = nullptr;

  Setup() {
    SetLogObjectForTesting(&log);
    char pattern[] = "/tmp/vemo_bench_scripting_XXXXXX";
    dir = mkdtemp(pattern);
    path = dir + "/BenchTrivial.py";
    std::ofstream(path) << "def Trivial(*args):\n    return None\n";
    host = CPythonScriptEx::GetInstance();
    CPythonLock lock;
    PyRun_SimpleString(("import sys\nsys.path.insert(0, r'" + dir + "')").c_str());
  }
  ~Setup() {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
};

Setup& Environment() {
  static Setup setup;
  return setup;
}

void BM_CallFunctionThroughHost(benchmark::State& state) {
  Setup& env = Environment();
  PyObject* warm = env.host->CallFunction(env.path, "Trivial", nullptr);
  if (warm == nullptr) {
    state.SkipWithError("the script did not load");
    return;
  }
  {
    CPythonLock lock;
    Py_DECREF(warm);
  }
  for (auto _ : state) {
    PyObject* result = env.host->CallFunction(env.path, "Trivial", nullptr);
    benchmark::DoNotOptimize(result);
    CPythonLock lock;
    Py_XDECREF(result);
  }
}
BENCHMARK(BM_CallFunctionThroughHost);

// The same function called directly, taking the interpreter lock per call as the host does.
void BM_CallFunctionDirectly(benchmark::State& state) {
  Setup& env = Environment();
  PyObject* function = nullptr;
  {
    CPythonLock lock;
    PyObject* module = PyImport_ImportModule("BenchTrivial");
    if (module != nullptr) function = PyObject_GetAttrString(module, "Trivial");
    Py_XDECREF(module);
    PyErr_Clear();
  }
  if (function == nullptr) {
    state.SkipWithError("the script did not load");
    return;
  }
  for (auto _ : state) {
    CPythonLock lock;
    PyObject* result = PyObject_CallObject(function, nullptr);
    benchmark::DoNotOptimize(result);
    Py_XDECREF(result);
  }
  CPythonLock lock;
  Py_DECREF(function);
}
BENCHMARK(BM_CallFunctionDirectly);

// The extension search alone: one file-existence test when the ".py" file is there.
void BM_FindScriptExt(benchmark::State& state) {
  Setup& env = Environment();
  for (auto _ : state) benchmark::DoNotOptimize(CPythonScript::FindScriptExt(env.path));
}
BENCHMARK(BM_FindScriptExt);

}  // namespace

BENCHMARK_MAIN();
