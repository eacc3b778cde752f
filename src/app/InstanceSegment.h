// The single-instance segment: 4 bytes of named shared memory, "Global\_" + sign, that
// hold the window handle of the manager that registered first. A manager keeps its
// segment open for its window's life, so the segment lives as long as the first
// instance does; a second manager with the same sign finds the first one's window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_bus.h"

namespace app {

class InstanceSegment {
 public:
  InstanceSegment() = default;
  ~InstanceSegment();
  InstanceSegment(const InstanceSegment&) = delete;
  InstanceSegment& operator=(const InstanceSegment&) = delete;

  // The segment name of a sign, as read from the configuration (blanks kept).
  static std::string NameOf(const std::string& sign);

  // Creates or opens the segment and returns the window registered in it, storing `self`
  // first when the segment is new or holds 0. Returns `self` when the segment cannot be
  // created or mapped (with `*errorText` set): a manager that cannot tell whether another
  // one runs must not refuse to start because of that.
  platform::WindowHandle GetRegisteredWindow(const std::string& name, platform::WindowHandle self,
                                             std::string* errorText);
  bool IsOpen() const { return m_Handle >= 0; }
  // Stops holding the segment (the destructor does it too).
  void Close();

 private:
  int m_Handle = -1;
  uint32_t* m_View = nullptr;
};

}  // namespace app
