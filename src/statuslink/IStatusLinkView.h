// What the status link's start and stop ask of the main window: the status bar, the two
// link buttons and the timer of the script step. Tests implement it without a display.
#pragma once

#include <string>

class IStatusLinkView {
 public:
  virtual ~IStatusLinkView() = default;
  // The status bar text.
  virtual void SetStatusText(const std::string& text) = 0;
  // Linked: "StartStatusServer" hidden and "StopStatusServer" shown; else the other way.
  virtual void ShowLinkButtons(bool linked) = 0;
  // Runs or stops the window thread's timer that calls StatusLinkControl::RunScriptStep.
  virtual void SetScriptStepActive(bool active) = 0;
  // Calls StatusLinkControl::RetryAutoConnect on the window thread once, after `delayMs`.
  // The timer keeps running while a modal dialog is open.
  virtual void ScheduleRetry(int delayMs) = 0;
};
