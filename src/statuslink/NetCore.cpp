#include "statuslink/NetCore.h"

#include <mutex>
#include <shared_mutex>

#include "components/LogComponent.h"
#include "platform/library.h"
#include "platform/paths.h"

namespace {

std::shared_mutex g_CoreMutex;
void* g_Library = nullptr;            // guarded by g_CoreMutex
GetTiravoFunc g_GetTiravo = nullptr;  // guarded by g_CoreMutex

}  // namespace

void LoadNetCore() {
  std::unique_lock lock(g_CoreMutex);
  if (g_GetTiravo != nullptr) return;
  const std::string path = platform::ExeDir() + "Tiravo.dll";
  void* library = platform::LoadLibrary(path);
  if (library == nullptr) {
    LogObject()->LogWarn("Load  Tiravo fail!");
    return;
  }
  auto getTiravo = reinterpret_cast<GetTiravoFunc>(platform::GetProcAddress(library, "GetTiravo"));
  if (getTiravo == nullptr) {
    platform::FreeLibrary(library);
    return;
  }
  g_Library = library;
  g_GetTiravo = getTiravo;
  LogObject()->LogInfo("Load  Tiravo successfully!");
}

bool IsNetCoreLoaded() {
  std::shared_lock lock(g_CoreMutex);
  return g_GetTiravo != nullptr;
}

void UnloadNetCore() {
  std::unique_lock lock(g_CoreMutex);
  if (g_Library != nullptr) platform::FreeLibrary(g_Library);
  g_Library = nullptr;
  g_GetTiravo = nullptr;
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
  if (g_Library != nullptr) platform::FreeLibrary(g_Library);
  g_Library = nullptr;
  g_GetTiravo = getTiravo;
}
