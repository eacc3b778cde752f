// A deliberately incomplete game data component: built once per export, each build
// leaving out the export named by OMIT_EXPORT, so the loader's failure for every missing
// export can be checked. The functions do nothing; only their presence matters.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))
#define OMIT_GameData_GetGameDataPtr 1
#define OMIT_GameData_ReleaseGameDataPtr 2
#define OMIT_GameData_RegPyInterface 3
#define OMIT_GameData_GetPellwyn 4
#define OMIT_GameData_FreePellwyn 5
#define OMIT_GameData_ShareLock 6
#define OMIT_GameData_ReleaseShareLock 7
#define OMIT_GameData_WaitForShareLock 8
#define OMIT_GameData_GetMapFileLoader 9

#if OMIT_EXPORT != OMIT_GameData_GetGameDataPtr
EXPORT void* GameData_GetGameDataPtr() { return nullptr; }
#endif
#if OMIT_EXPORT != OMIT_GameData_ReleaseGameDataPtr
EXPORT void GameData_ReleaseGameDataPtr(void*) {}
#endif
#if OMIT_EXPORT != OMIT_GameData_RegPyInterface
EXPORT bool GameData_RegPyInterface(void*) { return false; }
#endif
#if OMIT_EXPORT != OMIT_GameData_GetPellwyn
EXPORT void* GameData_GetPellwyn() { return nullptr; }
#endif
#if OMIT_EXPORT != OMIT_GameData_FreePellwyn
EXPORT void GameData_FreePellwyn() {}
#endif
#if OMIT_EXPORT != OMIT_GameData_ShareLock
EXPORT bool GameData_ShareLock() { return false; }
#endif
#if OMIT_EXPORT != OMIT_GameData_ReleaseShareLock
EXPORT void GameData_ReleaseShareLock() {}
#endif
#if OMIT_EXPORT != OMIT_GameData_WaitForShareLock
EXPORT bool GameData_WaitForShareLock(uint32_t) { return false; }
#endif
#if OMIT_EXPORT != OMIT_GameData_GetMapFileLoader
EXPORT void* GameData_GetMapFileLoader() { return nullptr; }
#endif
