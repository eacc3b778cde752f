// Helpers shared by the test programs: temporary directories, files, a replaceable clock
// and waiting with a deadline.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

// A directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-registry-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    m_Path = made ? std::string(made) + "/" : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ignored);
  }
  const std::string& Path() const { return m_Path; }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(m_Path + name, std::ios::binary) << text;
    return m_Path + name;
  }

 private:
  std::string m_Path;
};

// A clock that stands still until the test moves it.
class FakeClock : public platform::Clock {
 public:
  FakeClock() { platform::SetClockForTesting(this); }
  ~FakeClock() override { platform::SetClockForTesting(nullptr); }
  uint32_t TickCount() override { return now; }
  uint32_t now = 0;
};

// A name no other test process uses at the same time.
inline std::string UniqueName(const std::string& stem) {
  return stem + std::to_string(platform::CurrentProcessId());
}

// Polls `done` every 5 ms for up to `timeoutMs`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    platform::SleepMs(5);
  }
  return done();
}
