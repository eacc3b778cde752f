// The launch-control component as the manager drives it: the two callbacks it is handed
// ("Start" and the stop of every map server), the start-up step that initialises it and the
// process-launcher timer that polls it. All on the window thread.
#pragma once

class ILaunchWindow;
class MapServerLauncher;

namespace launchcontrol {

// The launcher and window that the callbacks act on; null unbinds (the callbacks then
// refuse). The main window binds itself before the component is initialised.
void Bind(MapServerLauncher* launcher, ILaunchWindow* window);

// The start callback: runs "Start" when its button is enabled; false when the service was
// started already in this run, or once the window's close has begun.
bool RequestStart();
// The stop callback: false before "Start". Otherwise NotifyStopping, then every map server
// asked to close once no player is online (waiting with the window answering), then
// NotifyStopped; true. False once the window's close has begun, and when the close begins
// while the stop waits for the last player: no map server is asked to close then, and the
// component is not told "stopped".
bool RequestStop();

// Start-up: initialises the component with the two callbacks. On success tells it so and
// returns true (the caller then runs the process-launcher timer); on failure writes
// "LaunchDLL Init Fail!!" and returns false.
bool Init();
// One tick of the process-launcher timer. Returns false when the timer should stop: the
// component ran once and has been released since.
bool ProcessLauncherTick();
// True once a tick found the component running.
bool LaunchControlSeen();
// The window's close begins: the component is told, is not polled again, and both
// callbacks refuse from now on.
void BeginClose();
// Releases the component (the window is being destroyed).
void Release();

}  // namespace launchcontrol
