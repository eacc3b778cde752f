#include "statuslink/SSProcessDLLLoad.h"

#include <utility>

bool SSProcessDLLLoad::LoadStatusLogic(PackSendFunc send) {
  if (m_Loaded.load()) return false;
  // By plain name: the platform's library search order (beside the executable first).
  platform::Library library("Quenfor.dll");
  if (!library) return false;
  auto setter = library.Resolve<SetPackSendFuncFunc>("SetPackSendFunc");
  auto entry = library.Resolve<OnStatusRequestFunc>("OnStatusRequest");
  m_SetPackSendFunc = setter;
  m_OnStatusRequest = entry;
  m_Library = std::move(library);
  m_Loaded = true;
  if (setter != nullptr) setter(send);
  return true;
}

void SSProcessDLLLoad::UnloadStatusLogic() {
  m_Loaded = false;
  m_SetPackSendFunc = nullptr;
  m_OnStatusRequest = nullptr;
  m_Library.Unload();
}

bool SSProcessDLLLoad::OfferStatusRequest(MMORPG::MMORPGPacket* packet) {
  if (!m_Loaded.load()) return false;
  OnStatusRequestFunc entry = m_OnStatusRequest.load();
  return entry != nullptr && entry(packet);
}
