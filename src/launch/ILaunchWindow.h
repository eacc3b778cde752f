// What launching asks of the window that holds it, and of the subsystems that "Start"
// prepares. The main window implements both; tests implement them without a display.
#pragma once

#include <string>

// The window's side of launching: controls to set and the message pump to run while an
// operation waits on the window thread.
class ILaunchWindow {
 public:
  virtual ~ILaunchWindow() = default;

  // "Start" ran: "Start" disabled; "StartStatusServer", "StartAll", "KillAll", "CloseAll"
  // and "SaveApply" enabled.
  virtual void SetServiceStarted() = 0;
  // True while "Start" is enabled (the service has not been started in this run).
  virtual bool IsStartEnabled() = 0;
  // The "Server Version:" label.
  virtual void SetServerVersionText(const std::string& text) = 0;
  // The window caption.
  virtual void SetCaption(const std::string& caption) = 0;
  // The map list was loaded: both list views get `count` items.
  virtual void SetMapCount(int count) = 0;
  // The state of the "StartInCmdLine" check box.
  virtual bool IsStartInCmdLineChecked() = 0;
  // Shows the "State" page of the view pages.
  virtual void ShowStatePage() = 0;
  // Lets the window handle its pending messages (timers, clicks, bus messages).
  virtual void ProcessMessages() = 0;
  // True once the window is closing: waits on the window thread end early.
  virtual bool IsClosing() = 0;
  // Ends the process at once with `exitCode`, after the log is released.
  [[noreturn]] virtual void EndProcess(int exitCode) = 0;
};

// What "Start" prepares besides launching: the status server link's network core and the
// launch-control component's notifications. Every operation does nothing until a
// subsystem takes it over.
class IServiceHooks {
 public:
  virtual ~IServiceHooks() = default;
  // Loads the network core of the status server link.
  virtual void LoadNetCore() {}
  virtual bool IsNetCoreLoaded() { return false; }
  // The status link's line number (set from the line-information script).
  virtual void SetLineId(int lineId) { (void)lineId; }
  virtual int GetLineId() { return 0; }
  // Notifications to the launch-control component (each only while it is initialised).
  virtual void NotifyStarting() {}
  virtual void NotifyStarted() {}
  // "Start" is done and the map list is loaded: subsystems that follow the service may
  // begin (the status link's automatic connection, for instance).
  virtual void ServiceStarted() {}
};
