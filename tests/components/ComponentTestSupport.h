// Helpers for the component tests: today's log file name, the components preloaded, and the
// loader peer run with its standard error captured.
#pragma once

#include <dlfcn.h>

#include <ctime>
#include <string>
#include <vector>

#include "support/ChildProgram.h"
#include "support/TestSupport.h"

namespace component_test {

// "<name>_<yyyy-mm-dd>.log" for today, local time.
inline std::string TodaysLogName(const std::string& name) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return name + "_" + date + ".log";
}

// Loads the components of the runnable tree by their full paths, so that the loaders'
// later loads by bare name find them already there. Under a sanitizer the loader's
// dlopen is called from the sanitizer's runtime, whose run path does not lead to the
// runnable tree; the test program's own run path does, but only for its own calls.
inline void PreloadComponents() {
  static const bool loaded = [] {
    ::dlopen(VEMO_BIN_DIR "libTolvar.so", RTLD_NOW);
    ::dlopen(VEMO_BIN_DIR "libBrenox.so", RTLD_NOW);
    return true;
  }();
  (void)loaded;
}

struct ChildResult {
  int exitCode = -1;
  std::string output;  // standard output and error
};

// Runs `program` with `args`, adding `env` ("NAME=value") to the environment, and
// returns its exit code and what it wrote to standard output and error.
inline ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& outPath) {
  ChildResult result;
  result.exitCode = WaitProgram(SpawnProgram(program, args, outPath, {.setEnv = env}));
  result.output = ReadFile(outPath);
  return result;
}

}  // namespace component_test
