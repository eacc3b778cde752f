#include "app/InstanceSegment.h"

#include <atomic>

#include "platform/shared_memory.h"

namespace app {

InstanceSegment::~InstanceSegment() { Close(); }

std::string InstanceSegment::NameOf(const std::string& sign) { return "Global\\_" + sign; }

platform::WindowHandle InstanceSegment::GetRegisteredWindow(const std::string& name, platform::WindowHandle self,
                                                            std::string* errorText) {
  Close();
  bool existed = false;
  int errorCode = 0;
  const int handle = platform::CreateSharedSegment(name, sizeof(uint32_t), &existed, &errorCode);
  if (handle < 0) {
    if (errorText != nullptr)
      *errorText = "CreateFileMapping(" + name + ") failed: " + platform::SystemErrorText(errorCode);
    return self;
  }
  void* view = platform::MapSharedSegment(handle, sizeof(uint32_t), &errorCode);
  if (view == nullptr) {
    if (errorText != nullptr)
      *errorText = "MapViewOfFile(" + name + ") failed: " + platform::SystemErrorText(errorCode);
    platform::CloseSharedSegment(handle);
    return self;
  }
  m_Handle = handle;
  m_View = static_cast<uint32_t*>(view);

  // A fresh segment is zero-filled, so "new or 0" is one test. Two managers may start at
  // the same moment: the compare-and-swap lets exactly one of them register, where a read
  // followed by a write could let both believe they are first.
  std::atomic_ref<uint32_t> stored(*m_View);
  uint32_t expected = 0;
  stored.compare_exchange_strong(expected, self);
  return stored.load();
}

void InstanceSegment::Close() {
  if (m_View != nullptr) {
    platform::UnmapSharedSegment(m_View, sizeof(uint32_t));
    m_View = nullptr;
  }
  if (m_Handle >= 0) {
    platform::CloseSharedSegment(m_Handle);
    m_Handle = -1;
  }
}

}  // namespace app
