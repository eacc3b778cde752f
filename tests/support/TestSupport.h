// Helpers shared by the test programs: temporary directories, whole files, a replaceable
// clock, unique names and waiting with a deadline.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

// The whole contents of a file; false when it cannot be opened.
inline bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}
// The whole contents of a file ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::string text;
  return ReadFile(path, &text) ? text : std::string();
}

// Writes a file anew, making the directories it lies in.
inline void WriteFile(const std::string& path, const std::string& text) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh directory under the system's temporary directory, removed with its contents by
// the process that made it (a forked child that ends leaves it to its parent).
class TempDir {
 public:
  explicit TempDir(const std::string& stem = "vemo-test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    char* made = mkdtemp(pattern.data());
    m_Path = made ? std::string(made) + "/" : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_Path.empty() && getpid() == m_Owner) std::filesystem::remove_all(m_Path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, ending in "/" ("" when it could not be made).
  const std::string& Path() const { return m_Path; }
  // The directory as a caller may name it, without the "/" at the end.
  std::string PathWithoutSlash() const { return m_Path.empty() ? m_Path : m_Path.substr(0, m_Path.size() - 1); }
  // A file or directory inside it.
  std::string operator/(const std::string& name) const { return m_Path + name; }
  // Writes a file inside it; its full path.
  std::string Write(const std::string& name, const std::string& text) const {
    WriteFile(m_Path + name, text);
    return m_Path + name;
  }

 private:
  std::string m_Path;
  pid_t m_Owner = getpid();
};

// A clock that stands still until the test moves it.
class FakeClock : public platform::Clock {
 public:
  FakeClock() { platform::SetClockForTesting(this); }
  ~FakeClock() override { platform::SetClockForTesting(nullptr); }
  uint32_t TickCount() override { return now; }
  uint32_t now = 0;
};

// A name no other test process uses at the same time (the same for every call).
inline std::string UniqueName(const std::string& stem) { return stem + std::to_string(platform::CurrentProcessId()); }

// A name that neither another test process nor another call in this one uses.
inline std::string FreshName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return UniqueName(stem) + "_" + std::to_string(++counter);
}

// Polls `done` every `pollMs` for up to `timeoutMs`; true once it holds. The default is
// generous: a sanitizer or a busy machine makes processes and threads slow, and a wait
// that succeeds returns at once.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000, int pollMs = 5) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    platform::SleepMs(pollMs);
  }
  return done();
}
