// The steps of start-up that call subsystems which join the build later: the
// launch-control component. This is the one place where they are wired;
// while a subsystem is not part of the build its step writes one warning and is skipped,
// so that the gap shows in the log.
#pragma once

class ILaunchWindow;
class MapServerLauncher;
class QWidget;

namespace app {

// Initialises the launch-control component ("Halvix.dll" in the current directory) with its
// two callbacks acting on `launcher` and `window`; true when it runs (the window then polls
// it), false after "LaunchDLL Init Fail!!".
bool InitLaunchControl(MapServerLauncher* launcher, ILaunchWindow* window);
// Releases the launch-control component (the window is being destroyed).
void ReleaseLaunchControl();

}  // namespace app
