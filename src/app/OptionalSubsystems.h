// The steps of start-up that call subsystems which join the build later: the log lights
// panel and the launch-control component. This is the one place where they are wired;
// while a subsystem is not part of the build its step writes one warning and is skipped,
// so that the gap shows in the log.
#pragma once

class QWidget;

namespace app {

// Builds the log lights strip on `panel`, owned by `owner`.
void CreateLogLights(QWidget* owner, QWidget* panel);

// Initialises the launch-control component; true when it runs (the window then polls it).
bool InitLaunchControl();

}  // namespace app
