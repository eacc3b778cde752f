// Each service below calls its subsystem when that subsystem is built (its library is
// linked, see CMakeLists.txt, and its header exists), and otherwise writes one warning
// naming the step it skipped.
#include "app/ManagerServices.h"

#include "components/IConfig.h"
#include "components/LogComponent.h"

#if __has_include("components/ConfigComponent.h")
#include "components/ConfigComponent.h"
#define VEMO_WITH_CONFIG 1
#endif
#if __has_include("components/GameDataComponent.h")
#include "components/GameDataComponent.h"
#define VEMO_WITH_GAMEDATA 1
#endif
#if defined(VEMO_HAVE_RUNTIME) && __has_include("runtime/EnvironmentChecks.h")
#include "runtime/EnvironmentChecks.h"
#define VEMO_WITH_CHECKS 1
#endif
#if defined(VEMO_HAVE_RUNTIME) && __has_include("runtime/ThreadManager.h")
#include "runtime/ThreadManager.h"
#define VEMO_WITH_THREADS 1
#endif
#if defined(VEMO_HAVE_REGISTRY) && __has_include("registry/MapServerInfoManager.h")
#include "registry/MapServerInfoManager.h"
#define VEMO_WITH_REGISTRY 1
#endif
#if defined(VEMO_HAVE_SCRIPTING) && __has_include("scripting/CPySysGameData.h")
#include "scripting/CPySysGameData.h"
#define VEMO_WITH_SYSDATA 1
#endif

namespace app::services {
namespace {

void Skipped(const char* what) {
  LogObject()->TraceWarn("TVemoMapServerManagerMain: %s is not part of this build, skipped", what);
}

}  // namespace

IConfig* CreateConfig() {
#ifdef VEMO_WITH_CONFIG
  return CreateConfigInterface();
#else
  Skipped("the configuration component");
  return nullptr;
#endif
}

bool LoadGameData(const std::string& name) {
#ifdef VEMO_WITH_GAMEDATA
  return LoadGameDataComponent(name);
#else
  Skipped("loading the game data component");
  return false;
#endif
}

void UnloadGameData() {
#ifdef VEMO_WITH_GAMEDATA
  UnloadGameDataComponent();
#endif
}

IPellwyn* ShareData() {
#ifdef VEMO_WITH_GAMEDATA
  return GetSysTableShareData();
#else
  return nullptr;
#endif
}

void EnvironmentDump(const std::string& logDir) {
#ifdef VEMO_WITH_CHECKS
  RunEnvironmentDump(logDir);
#else
  (void)logDir;
  Skipped("the environment dump");
#endif
}

void IntegrityCheck(const std::string& dir) {
#ifdef VEMO_WITH_CHECKS
  RunIntegrityCheck(dir);
#else
  (void)dir;
  Skipped("the file integrity check");
#endif
}

bool DEPCheck() {
#ifdef VEMO_WITH_CHECKS
  return ::DEPCheck();
#else
  Skipped("the DEP check");
  return true;
#endif
}

void CreateLogLights(QWidget* owner, QWidget* panel) {
  (void)owner;
  (void)panel;
  Skipped("the log lights panel");
}

bool InitLaunchControl() {
  Skipped("the launch-control component");
  return false;
}

void StopAllWorkers() {
#ifdef VEMO_WITH_THREADS
  ThreadManager::GetInstance()->StopAll();
#else
  Skipped("stopping the worker threads");
#endif
}

int ReloadMapList(IConfig& config, const std::string& mapDataDir) {
#ifdef VEMO_WITH_REGISTRY
  MapServerInfoManager& maps = GetMapServerInfoManager();
  maps.LoadMapList(config.GetInt("edtMapManagerNum", 0), mapDataDir + "Map/" + "MapID.txt",
                   config.GetBool("cbDebugModule", false));
  return maps.GetMapInfoCount();
#else
  (void)config;
  (void)mapDataDir;
  Skipped("reloading the map list");
  return 0;
#endif
}

struct SystemDataBridge::Impl {
#ifdef VEMO_WITH_SYSDATA
  explicit Impl(const std::string& path) : bridge(path) {}
  CPySysGameData bridge;
#else
  explicit Impl(const std::string&) {}
#endif
};

SystemDataBridge::SystemDataBridge(const std::string& path)
    : m_Impl(std::make_unique<Impl>(path)) {
#ifndef VEMO_WITH_SYSDATA
  Skipped("the system data bridge");
#endif
}

SystemDataBridge::~SystemDataBridge() = default;

void SystemDataBridge::InitPyData() {
#ifdef VEMO_WITH_SYSDATA
  m_Impl->bridge.InitPyData();
#else
  Skipped("initialising the system data bridge");
#endif
}

}  // namespace app::services
