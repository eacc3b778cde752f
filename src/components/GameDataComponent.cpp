#include "components/GameDataComponent.h"

#include <utility>

#include "components/LogComponent.h"
#include "platform/library.h"

namespace {

struct GameDataExports {
  platform::Library library;
  GameData_GetGameDataPtrFunc getGameDataPtr = nullptr;
  GameData_ReleaseGameDataPtrFunc releaseGameDataPtr = nullptr;
  GameData_RegPyInterfaceFunc regPyInterface = nullptr;
  GameData_GetPellwynFunc getPellwyn = nullptr;
  GameData_FreePellwynFunc freePellwyn = nullptr;
  GameData_ShareLockFunc shareLock = nullptr;
  GameData_ReleaseShareLockFunc releaseShareLock = nullptr;
  GameData_WaitForShareLockFunc waitForShareLock = nullptr;
  GameData_GetMapFileLoaderFunc getMapFileLoader = nullptr;
};

// Never destroyed: the component is unloaded by the window, not by the end of the process.
GameDataExports& g_GameData = *new GameDataExports;

// Resolves one export into `slot`; on failure writes `failText` with the error code.
template <typename F>
bool Resolve(const platform::Library& library, const char* symbol, F& slot, const char* failText) {
  int errorCode = 0;
  slot = library.Resolve<F>(symbol, &errorCode);
  if (slot != nullptr) return true;
  LogObject()->LogError(failText, errorCode);
  return false;
}

}  // namespace

bool LoadGameDataComponent(const std::string& name) {
  UnloadGameDataComponent();

  int errorCode = 0;
  platform::Library library(name, &errorCode);
  if (!library) {
    LogObject()->LogError("LoadLibrary(%s) failed! Error Code = %d", name.c_str(), errorCode);
    return false;
  }

  GameDataExports e;
  bool ok = Resolve(library, "GameData_GetGameDataPtr", e.getGameDataPtr,
                    "GetProcAddress() failed! Func name = GetGameDataPtr, Error Code = %d") &&
            Resolve(library, "GameData_ReleaseGameDataPtr", e.releaseGameDataPtr,
                    "GetProcAddress() failed! Func name = ReleaseGameDataPtr, Error Code = %d") &&
            Resolve(library, "GameData_RegPyInterface", e.regPyInterface,
                    "GetProcAddress() failed!Func name = RegPyInterface, Error Code = %d") &&
            Resolve(library, "GameData_GetPellwyn", e.getPellwyn,
                    "GetProcessAddress() failed!Func name = GetPellwyn, Error Code = %d") &&
            Resolve(library, "GameData_FreePellwyn", e.freePellwyn,
                    "GetProcessAddress() failed!Func name = FreePellwyn, Error Code = %d") &&
            Resolve(library, "GameData_ShareLock", e.shareLock,
                    "GetProcAddress() failed!Func name = ShareLock, Error Code = %d") &&
            Resolve(library, "GameData_ReleaseShareLock", e.releaseShareLock,
                    "GetProcAddress failed!Func name = ReleaseShareLock, Erro Code = %d") &&
            Resolve(library, "GameData_WaitForShareLock", e.waitForShareLock,
                    "GetProcAddress() failed!Func name = WaitForShareLock, Error Code = %d") &&
            Resolve(library, "GameData_GetMapFileLoader", e.getMapFileLoader,
                    "GetProcAddress() failed!Func name = GetMapFileLoader, Error Code = %d");
  if (!ok) return false;
  // Optional: a component that writes to the manager's log is told how to reach it.
  if (auto setLog = library.Resolve<GameData_SetLogFunc>("GameData_SetLog")) setLog(&LogObject);
  e.library = std::move(library);
  g_GameData = std::move(e);
  return true;
}

void UnloadGameDataComponent() {
  // The exports are forgotten before the library goes.
  GameDataExports gone = std::move(g_GameData);
  g_GameData = GameDataExports();
}

IPellwyn* GetSysTableShareData() { return g_GameData.getPellwyn != nullptr ? g_GameData.getPellwyn() : nullptr; }

IMapFileLoader* GetMapFileLoader() {
  return g_GameData.getMapFileLoader != nullptr ? g_GameData.getMapFileLoader() : nullptr;
}
