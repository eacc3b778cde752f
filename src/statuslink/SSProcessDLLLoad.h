// The status logic component ("Quenfor.dll"): loaded by the first successful start of the
// status link, which hands it the link's send function, and offered every message that
// the manager does not answer itself, on the request thread. It stays loaded until the
// main window is destroyed.
#pragma once

#include <atomic>

#include "interfaces/IStatusLogic.h"
#include "platform/library.h"

class SSProcessDLLLoad {
 public:
  SSProcessDLLLoad() = default;
  ~SSProcessDLLLoad() { UnloadStatusLogic(); }
  SSProcessDLLLoad(const SSProcessDLLLoad&) = delete;
  SSProcessDLLLoad& operator=(const SSProcessDLLLoad&) = delete;

  // False when a library is loaded already or "Quenfor.dll" cannot be loaded. Either export
  // may be missing; the setter, when present, is called once with `send`.
  bool LoadStatusLogic(PackSendFunc send);
  // Releases the library and forgets the exports. The request thread must have ended.
  void UnloadStatusLogic();
  // The component's answer; false when it is not loaded or has no request entry.
  bool OfferStatusRequest(MMORPG::MMORPGPacket* packet);

  bool IsLoaded() const { return m_Loaded.load(); }

 private:
  // Written on the window thread, read on the request thread.
  std::atomic<SetPackSendFuncFunc> m_SetPackSendFunc{nullptr};
  std::atomic<OnStatusRequestFunc> m_OnStatusRequest{nullptr};
  std::atomic<bool> m_Loaded{false};
  platform::Library m_Library;  // window thread only
};
