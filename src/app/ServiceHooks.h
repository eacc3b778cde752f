// What "Start" prepares besides launching, as the main window provides it: the status
// server link's network core and line number, and the launch-control component's
// notifications. Each subsystem that takes part answers its own operations here.
#pragma once

#include "launch/CHalvixProxy.h"
#include "launch/ILaunchWindow.h"

class TVemoMapServerManagerMain;

namespace app {

class ServiceHooks : public IServiceHooks {
 public:
  explicit ServiceHooks(TVemoMapServerManagerMain* window) : m_Window(window) {}

  // The launch-control component hears of "Start" (only while it runs).
  void NotifyStarting() override { CHalvixProxy::GetProxy().NotifyStarting(); }
  void NotifyStarted() override { CHalvixProxy::GetProxy().NotifyStarted(); }

 private:
  TVemoMapServerManagerMain* m_Window;
};

}  // namespace app
