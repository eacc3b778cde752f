#include "statuslink/SSProcessDLLLoad.h"

#include "platform/library.h"

bool SSProcessDLLLoad::LoadStatusLogic(PackSendFunc send) {
  if (m_Library.load() != nullptr) return false;
  // By plain name: the platform's library search order (beside the executable first).
  void* library = platform::LoadLibrary("Quenfor.dll");
  if (library == nullptr) return false;
  auto setter = reinterpret_cast<SetPackSendFuncFunc>(platform::GetProcAddress(library, "SetPackSendFunc"));
  auto entry = reinterpret_cast<OnStatusRequestFunc>(platform::GetProcAddress(library, "OnStatusRequest"));
  m_SetPackSendFunc = setter;
  m_OnStatusRequest = entry;
  m_Library = library;
  if (setter != nullptr) setter(send);
  return true;
}

void SSProcessDLLLoad::UnloadStatusLogic() {
  void* library = m_Library.exchange(nullptr);
  m_SetPackSendFunc = nullptr;
  m_OnStatusRequest = nullptr;
  if (library != nullptr) platform::FreeLibrary(library);
}

bool SSProcessDLLLoad::OfferStatusRequest(MMORPG::MMORPGPacket* packet) {
  if (m_Library.load() == nullptr) return false;
  OnStatusRequestFunc entry = m_OnStatusRequest.load();
  return entry != nullptr && entry(packet);
}
