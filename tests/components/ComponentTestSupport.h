// Helpers for the component tests: scratch directories, whole files, today's log file,
// and a child program run with its standard error captured.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace component_test {

// A fresh directory under the system's temporary directory, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-components-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    m_Path = made != nullptr ? made : "";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ignored);
  }
  const std::string& Path() const { return m_Path; }
  std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

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
  std::string errorText;
};

// Runs `program` with `args`, adding `env` ("NAME=value") to the environment, and
// returns its exit code and standard error.
inline ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& errorFile) {
  ChildResult result;
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) ::dup2(fd, 2);
    for (const std::string& setting : env) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.errorText = ReadFile(errorFile);
  return result;
}

}  // namespace component_test
