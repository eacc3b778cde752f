#include "app/OptionalSubsystems.h"

#include "components/LogComponent.h"
#include "launch/LaunchControl.h"

namespace app {
namespace {

void Skipped(const char* what) {
  LogObject()->TraceWarn("TVemoMapServerManagerMain: %s is not part of this build, skipped", what);
}

}  // namespace

void CreateLogLights(QWidget* owner, QWidget* panel) {
  (void)owner;
  (void)panel;
  Skipped("the log lights panel");
}

bool InitLaunchControl(MapServerLauncher* launcher, ILaunchWindow* window) {
  launchcontrol::Bind(launcher, window);
  return launchcontrol::Init();
}

void ReleaseLaunchControl() { launchcontrol::Release(); }

}  // namespace app
