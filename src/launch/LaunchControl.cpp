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
// The window's close has begun: nothing is started or stopped through the component any
// more, and it is not polled again.
bool g_Closing = false;

bool Closing() { return g_Closing || (g_Window != nullptr && g_Window->IsClosing()); }

}  // namespace

void Bind(MapServerLauncher* launcher, ILaunchWindow* window) {
  g_Launcher = launcher;
  g_Window = window;
}

bool RequestStart() {
  if (g_Launcher == nullptr || g_Window == nullptr || Closing() || !g_Window->IsStartEnabled()) return false;
  g_Launcher->StartService();
  return true;
}

bool RequestStop() {
  if (g_Launcher == nullptr || g_Window == nullptr || Closing() || g_Window->IsStartEnabled()) return false;
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  proxy.NotifyStopping();
  g_Launcher->StopAllServers();
  // The wait for the last player ends early only when the window closes: then no map
  // server was asked to close, and the stop is not reported as done.
  if (Closing()) return false;
  proxy.NotifyStopped();
  return true;
}

bool Init() {
  // A new initialisation is a new life of the component: the timer runs until it is seen
  // and released again.
  g_LaunchControlSeen = false;
  g_Closing = false;
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  if (!proxy.Init(&RequestStart, &RequestStop)) {
    LogObject()->LogWarn("LaunchDLL Init Fail!!");
    return false;
  }
  proxy.NotifyInitialized();
  return true;
}

bool ProcessLauncherTick() {
  if (g_Closing) return false;  // a tick posted before the close began
  CHalvixProxy& proxy = CHalvixProxy::GetProxy();
  if (proxy.IsInitialized()) {
    g_LaunchControlSeen = true;
    if (ILaunchControl* instance = proxy.GetInstance()) instance->Poll();
    return true;
  }
  return !g_LaunchControlSeen;
}

bool LaunchControlSeen() { return g_LaunchControlSeen; }

void BeginClose() {
  if (g_Closing) return;
  g_Closing = true;
  CHalvixProxy::GetProxy().NotifyClosing();
}

void Release() {
  CHalvixProxy::GetProxy().Release();
  Bind(nullptr, nullptr);
}

}  // namespace launchcontrol
