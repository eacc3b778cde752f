// What "Start" prepares besides launching, as the main window provides it: the status
// server link's network core and line number, and the launch-control component's
// notifications. Each subsystem that takes part answers its own operations here.
#pragma once

#include "launch/CHalvixProxy.h"
#include "launch/ILaunchWindow.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/NetCore.h"

#include "app/TVemoMapServerManagerMain.h"

namespace app {

class ServiceHooks : public IServiceHooks {
 public:
  explicit ServiceHooks(TVemoMapServerManagerMain* window) : m_Window(window) {}

  // The launch-control component hears of "Start" (only while it runs).
  void NotifyStarting() override { CHalvixProxy::GetProxy().NotifyStarting(); }
  void NotifyStarted() override { CHalvixProxy::GetProxy().NotifyStarted(); }
  // The status link: "Start" loads its network core and hands it the line number.
  void LoadNetCore() override { ::LoadNetCore(); }
  bool IsNetCoreLoaded() override { return ::IsNetCoreLoaded(); }
  // The link is made once the core is loaded; without a core there is no line number to keep.
  void SetLineId(int lineId) override {
    if (CSSLogicProcess* link = GetSSLogicProcess()) link->SetLineId(lineId);
  }
  int GetLineId() override {
    CSSLogicProcess* link = GetSSLogicProcess();
    return link != nullptr ? link->GetLineId() : 0;
  }
  // After "Start": the status link's automatic connection, when configured.
  void ServiceStarted() override;

 private:
  TVemoMapServerManagerMain* m_Window;
};

inline void ServiceHooks::ServiceStarted() { m_Window->AutoConnectStatusServer(); }

}  // namespace app
