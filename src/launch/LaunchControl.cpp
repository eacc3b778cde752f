#include "launch/LaunchControl.h"

#include "components/LogComponent.h"
#include "launch/CHalvixProxy.h"
#include "launch/ILaunchWindow.h"
#include "launch/MapServerLauncher.h"

namespace launchcontrol {
namespace {

// Window-thread state: the callbacks, the timer and start-up all run there.
MapServerLauncher* g_Launcher = nullptr;
ILaunchWindow* g_Window = nullptr;
bool g_LaunchControlSeen = false;

}  // namespace

void Bind(MapServerLauncher* launcher, ILaunchWindow* window) {
  g_Launcher = launcher;
  g_Window = window;
}

bool RequestStart() {
  if (g_Launcher == nullptr || g_Window == nullptr || !g_Window->IsStartEnabled()) return false;
  g_Launcher->StartService();
  return true;
}

bool RequestStop() {
  if (g_Launcher == nullptr || g_Window == nullptr || g_Window->IsStartEnabled()) return false;
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  proxy.NotifyStopping();
  g_Launcher->StopAllServers();
  proxy.NotifyStopped();
  return true;
}

bool Init() {
  // A new initialisation is a new life of the component: the timer runs until it is seen
  // and released again.
  g_LaunchControlSeen = false;
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  if (!proxy.Init(&RequestStart, &RequestStop)) {
    LogObject()->LogWarn("LaunchDLL Init Fail!!");
    return false;
  }
  proxy.NotifyInitialized();
  return true;
}

bool ProcessLauncherTick() {
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  if (proxy.IsInitialized()) {
    g_LaunchControlSeen = true;
    if (ILaunchControl* instance = proxy.GetInstance()) instance->Poll();
    return true;
  }
  return !g_LaunchControlSeen;
}

bool LaunchControlSeen() { return g_LaunchControlSeen; }

void Release() {
  CHalvixProxy::GetProxy().Release();
  Bind(nullptr, nullptr);
}

}  // namespace launchcontrol
