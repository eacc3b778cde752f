// The game data component's interfaces ("Pellwyn.dll"): the system-table share data and
// the map file loader. Shared by the manager and the component.
#pragma once

#include <cstdint>

#include "interfaces/ILog.h"

// Posted by the component to the notify window when new share data can be loaded.
constexpr uint32_t WM_MAPMANAGER_LOAD_SHAREDATA = 1029;

// The share data head. The manager reads the system version and the re-created flag.
struct tagShareHead {
  char Name[64];
  uint32_t Size;
  uint32_t Reserved[10];
  uint32_t VemoSysVersion;  // byte 108
  uint32_t Recreated;       // byte 112: non-zero once the mapping must be re-created
  uint32_t PlayerTotal;
  uint32_t ItemTotal;
};
static_assert(__builtin_offsetof(tagShareHead, VemoSysVersion) == 108);
static_assert(__builtin_offsetof(tagShareHead, Recreated) == 112);

// The share data object, by position.
class IPellwyn {
 public:
  virtual bool Initialize() = 0;                      // 0
  virtual tagShareHead* GetShareHead() = 0;           // 1
  virtual void SetNotifyWindow(uint32_t window) = 0;  // 2
  virtual int GetShareDataSize() = 0;                 // 3
  virtual bool IsShareDataLoaded() = 0;               // 4
  virtual int GetShareMemoryInitState() = 0;          // 5
  virtual const char* GetShareName() = 0;             // 6
  virtual void UnloadShareData() = 0;                 // 7
  virtual bool LoadShareData() = 0;                   // 8
  virtual bool RecreateFileMapping(int version) = 0;  // 9
  virtual int GetSharePlayerTotal() = 0;              // 10
  virtual int GetShareItemTotal() = 0;                // 11

 protected:
  ~IPellwyn() = default;
};

// One line of the map list. The manager reads the server name, map id, display name,
// sort key, FB limit and map manager number; the item belongs to the component and stays
// valid while the component keeps its loaded map file.
struct tagMapItem {
  const char* ServerName;  // the stem of the map's key
  int32_t MapID;
  const char* MapName;  // display name
  int32_t SortKey;
  int32_t LineID;
  int32_t MaxPlayer;
  int32_t MapType;
  int32_t FBLimit;  // second number of "FB Count"
  int32_t MapManagerNum;
};

// The map file loader, by position.
class IMapFileLoader {
 public:
  virtual void Clear() = 0;                                       // 0
  virtual const char* GetMapFilePath() = 0;                       // 1
  virtual tagMapItem* FindMapItem(int mapId) = 0;                 // 2
  virtual int GetErrorCount() = 0;                                // 3
  virtual const char* GetLastErrorText() = 0;                     // 4
  virtual bool IsDebugLoad() = 0;                                 // 5
  virtual int GetMapCount() = 0;                                  // 6
  virtual tagMapItem* GetMapItem(int index) = 0;                  // 7
  virtual bool LoadMapFile(const char* path, int debugFlag) = 0;  // 8

 protected:
  ~IMapFileLoader() = default;
};

extern "C" {
typedef void* (*GameData_GetGameDataPtrFunc)();
typedef void (*GameData_ReleaseGameDataPtrFunc)(void*);
typedef bool (*GameData_RegPyInterfaceFunc)(void*);
typedef IPellwyn* (*GameData_GetPellwynFunc)();
typedef void (*GameData_FreePellwynFunc)();
typedef bool (*GameData_ShareLockFunc)();
typedef void (*GameData_ReleaseShareLockFunc)();
typedef bool (*GameData_WaitForShareLockFunc)(uint32_t timeoutMs);
typedef IMapFileLoader* (*GameData_GetMapFileLoaderFunc)();
// Optional export "GameData_SetLog": the program's log source, for the component's lines.
typedef void (*GameData_SetLogFunc)(LogSourceFunc source);
}
