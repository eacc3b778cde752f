// The system data component ("_Selvane.pyd"): keeps the blocks of system data handed to
// it, (re)builds its table whenever the manager reports that the share data is loaded,
// and frees everything on release. Every call is written to the log that the program hands
// over (PyData_SetLog).
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/ComponentLog.h"
#include "interfaces/PyDataExports.h"

namespace {

struct SystemData {
  std::mutex Mutex;
  std::vector<std::string> Packs;  // the blocks added, in arrival order
  std::size_t TableBytes = 0;      // the size of the table built by the last init
  int InitCount = 0;
};

ComponentLog g_Log;

SystemData& Data() {
  static SystemData data;
  return data;
}

}  // namespace

extern "C" {

// Optional: the program's log source, handed over once the component is loaded.
__attribute__((visibility("default"))) void PyData_SetLog(LogSourceFunc source) { g_Log.SetSource(source); }

__attribute__((visibility("default"))) int PyData_Init() {
  SystemData& data = Data();
  std::lock_guard<std::mutex> lock(data.Mutex);
  data.TableBytes = 0;
  for (const std::string& pack : data.Packs) data.TableBytes += pack.size();
  ++data.InitCount;
  g_Log->LogInfo("PyData_Init: system data table built (%d), %zu block(s), %zu byte(s)", data.InitCount,
                 data.Packs.size(), data.TableBytes);
  return 1;
}

__attribute__((visibility("default"))) int PyData_AddFromPack(const char* pack, int length) {
  SystemData& data = Data();
  if (pack == nullptr || length < 0) {
    g_Log->LogInfo("PyData_AddFromPack: refused a block without bytes (length %d)", length);
    return 0;
  }
  std::lock_guard<std::mutex> lock(data.Mutex);
  data.Packs.emplace_back(pack, static_cast<std::size_t>(length));
  g_Log->LogInfo("PyData_AddFromPack: block %zu added, %d byte(s)", data.Packs.size(), length);
  return 1;
}

__attribute__((visibility("default"))) void PyData_Release() {
  SystemData& data = Data();
  std::lock_guard<std::mutex> lock(data.Mutex);
  g_Log->LogInfo("PyData_Release: system data released, %zu block(s)", data.Packs.size());
  data.Packs.clear();
  data.TableBytes = 0;
}

}  // extern "C"
