#include "components/GameDataComponent.h"

#include "components/LogComponent.h"
#include "platform/library.h"

namespace {

struct GameDataExports {
  void* library = nullptr;
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

GameDataExports g_GameData;

// Resolves one export into `slot`; on failure writes `failText` with the error code.
template <typename F>
bool Resolve(void* library, const char* symbol, F& slot, const char* failText) {
  int errorCode = 0;
  slot = reinterpret_cast<F>(platform::GetProcAddress(library, symbol, &errorCode));
  if (slot != nullptr) return true;
  LogObject()->LogError(failText, errorCode);
  return false;
}

}  // namespace

bool LoadGameDataComponent(const std::string& name) {
  UnloadGameDataComponent();

  int errorCode = 0;
  void* library = platform::LoadLibrary(name, &errorCode);
  if (library == nullptr) {
    LogObject()->LogError("LoadLibrary(%s) failed! Error Code = %d", name.c_str(), errorCode);
    return false;
  }

  GameDataExports e;
  e.library = library;
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
  if (!ok) {
    platform::FreeLibrary(library);
    return false;
  }
  g_GameData = e;
  return true;
}

void UnloadGameDataComponent() {
  void* library = g_GameData.library;
  g_GameData = GameDataExports();
  if (library != nullptr) platform::FreeLibrary(library);
}

IPellwyn* GetSysTableShareData() { return g_GameData.getPellwyn != nullptr ? g_GameData.getPellwyn() : nullptr; }

IMapFileLoader* GetMapFileLoader() {
  return g_GameData.getMapFileLoader != nullptr ? g_GameData.getMapFileLoader() : nullptr;
}
