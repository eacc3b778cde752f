// The game data component's exports. The process has one share data object and one map
// file loader, created on first request; both end when the library is unloaded.
#include <cstdlib>
#include <memory>
#include <mutex>

#include "CMapFileLoader.h"
#include "CPellwyn.h"
#include "GameDataLog.h"
#include "interfaces/IGameData.h"
#include "platform/paths.h"

#define PELLWYN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_Mutex;

// The two objects live in function-local slots: made on first use, after the library's
// other statics, they are destroyed before those (the share data's unmapping needs them).
std::unique_ptr<gamedata::CPellwyn>& PellwynSlot() {
  static std::unique_ptr<gamedata::CPellwyn> slot;
  return slot;
}
std::unique_ptr<gamedata::CMapFileLoader>& MapFileLoaderSlot() {
  static std::unique_ptr<gamedata::CMapFileLoader> slot;
  return slot;
}

// The segment name of the share data; VEMO_PELLWYN_SHARE_NAME lets two installations on
// one machine keep apart.
std::string ShareName() {
  const char* name = std::getenv("VEMO_PELLWYN_SHARE_NAME");
  return name != nullptr && name[0] != 0 ? name : "PellwynSysTableShareData";
}

gamedata::CPellwyn* Pellwyn() {
  std::lock_guard<std::mutex> lock(g_Mutex);
  auto& slot = PellwynSlot();
  if (!slot) slot = std::make_unique<gamedata::CPellwyn>(ShareName(), platform::ExeDir() + "MapServerData/SysTable/");
  return slot.get();
}

}  // namespace

// The share data's head, through which other users of the component reach the tables
// (layout in ShareData.h); null before the share data is initialised.
PELLWYN_EXPORT void* GameData_GetGameDataPtr() {
  gamedata::CPellwyn* pellwyn = Pellwyn();
  return pellwyn->GetShareMemoryInitState() >= gamedata::CPellwyn::kReady ? pellwyn->GetShareHead() : nullptr;
}

// The pointer stays owned by the share data object: nothing to release.
PELLWYN_EXPORT void GameData_ReleaseGameDataPtr(void*) {}

// This component offers no script interface of its own: registration always declines.
PELLWYN_EXPORT bool GameData_RegPyInterface(void*) { return false; }

PELLWYN_EXPORT IPellwyn* GameData_GetPellwyn() { return Pellwyn(); }

PELLWYN_EXPORT void GameData_FreePellwyn() {
  std::lock_guard<std::mutex> lock(g_Mutex);
  PellwynSlot().reset();
}

PELLWYN_EXPORT bool GameData_ShareLock() { return Pellwyn()->ShareLock(); }

PELLWYN_EXPORT void GameData_ReleaseShareLock() { Pellwyn()->ReleaseShareLock(); }

PELLWYN_EXPORT bool GameData_WaitForShareLock(uint32_t timeoutMs) { return Pellwyn()->WaitForShareLock(timeoutMs); }

// Optional: the program's log source; the component's lines go nowhere without one.
PELLWYN_EXPORT void GameData_SetLog(LogSourceFunc source) { gamedata::GameDataLog().SetSource(source); }

PELLWYN_EXPORT IMapFileLoader* GameData_GetMapFileLoader() {
  std::lock_guard<std::mutex> lock(g_Mutex);
  auto& slot = MapFileLoaderSlot();
  if (!slot) slot = std::make_unique<gamedata::CMapFileLoader>();
  return slot.get();
}
