// The owner of a process handle (see process_control.h): it closes the handle when it is
// destroyed, so a handle cannot be forgotten or closed twice. Move-only. get() lends the
// raw form to a call; release() gives it up to a holder that closes it itself (a raw
// handle in ProcessInformation, across the start of a process).
#pragma once

#include <utility>

namespace platform {

void CloseProcessHandle(int handle);

class ProcessHandle {
 public:
  ProcessHandle() = default;
  // Takes over `raw` (0: none).
  explicit ProcessHandle(int raw) : m_Raw(raw) {}
  ~ProcessHandle() { reset(); }
  ProcessHandle(ProcessHandle&& other) noexcept : m_Raw(other.release()) {}
  ProcessHandle& operator=(ProcessHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  int get() const { return m_Raw; }
  explicit operator bool() const { return m_Raw != 0; }
  // The raw handle, no longer owned here.
  int release() { return std::exchange(m_Raw, 0); }
  // Closes the handle held, and holds `raw` instead.
  void reset(int raw = 0) {
    const int old = std::exchange(m_Raw, raw);
    if (old != 0 && old != raw) CloseProcessHandle(old);
  }

 private:
  int m_Raw = 0;
};

}  // namespace platform
