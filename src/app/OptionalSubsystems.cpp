#include "app/OptionalSubsystems.h"

#include "launch/LaunchControl.h"

namespace app {

bool InitLaunchControl(MapServerLauncher* launcher, ILaunchWindow* window) {
  launchcontrol::Bind(launcher, window);
  return launchcontrol::Init();
}

void ReleaseLaunchControl() { launchcontrol::Release(); }

}  // namespace app
