#include "statuslink/NetCore.h"

#include <mutex>
#include <shared_mutex>
#include <utility>

#include "components/LogComponent.h"
#include "interfaces/MMORPGPacket.h"
#include "platform/library.h"
#include "platform/paths.h"

namespace {

std::shared_mutex g_CoreMutex;
// Guarded by g_CoreMutex; never destroyed: the core is released by the link, not by the end
// of the process.
platform::Library& g_Library = *new platform::Library;
GetTiravoFunc g_GetTiravo = nullptr;

void FillPacket(MMORPG::MMORPGPacket* packet, const char* head, const char* body, int bodyLen) {
  packet->SetHead(head, static_cast<int>(sizeof(MMORPG::tagPackHead)));
  packet->ReadData(body, bodyLen);
}

const tagTiravoHost g_Host{&LogObject, &NewPackageDispatcher, &FreePackageDispatcher, &FillPacket};

}  // namespace

const tagTiravoHost* NetCoreHost() { return &g_Host; }

void LoadNetCore() {
  std::unique_lock lock(g_CoreMutex);
  if (g_GetTiravo != nullptr) return;
  const std::string path = platform::ExeDir() + "Tiravo.dll";
  platform::Library library(path);
  if (!library) {
    LogObject()->LogWarn("Load  Tiravo fail!");
    return;
  }
  auto getTiravo = library.Resolve<GetTiravoFunc>("GetTiravo");
  if (getTiravo == nullptr) return;
  // Optional: a core that needs the program's log, framer and packets is handed them.
  if (auto setHost = library.Resolve<SetTiravoHostFunc>("SetTiravoHost")) setHost(&g_Host);
  g_Library = std::move(library);
  g_GetTiravo = getTiravo;
  LogObject()->LogInfo("Load  Tiravo successfully!");
}

bool IsNetCoreLoaded() {
  std::shared_lock lock(g_CoreMutex);
  return g_GetTiravo != nullptr;
}

void UnloadNetCore() {
  std::unique_lock lock(g_CoreMutex);
  g_GetTiravo = nullptr;
  g_Library.Unload();
}

ITiravo* NetCore() {
  std::shared_lock lock(g_CoreMutex);
  return g_GetTiravo != nullptr ? g_GetTiravo() : nullptr;
}

bool NetCoreSendPack(const char* head, int headLen, const char* body, int bodyLen) {
  std::shared_lock lock(g_CoreMutex);
  ITiravo* core = g_GetTiravo != nullptr ? g_GetTiravo() : nullptr;
  return core != nullptr && core->SendPack(head, headLen, body, bodyLen);
}

void SetNetCoreForTesting(GetTiravoFunc getTiravo) {
  std::unique_lock lock(g_CoreMutex);
  g_Library.Unload();
  g_GetTiravo = getTiravo;
}
