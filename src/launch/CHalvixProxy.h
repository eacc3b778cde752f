// The manager's side of the launch-control component ("Halvix.dll"): one process-wide
// object, created on first use and never destroyed, that loads the library from the
// current directory, keeps its two entry points and hands the component's instance out.
//
// Everything runs on the window thread: start-up's Init, the process-launcher timer's Poll,
// the notifications of "Start" and of the stop callback, and the Release when the window
// is destroyed.
#pragma once

#include "interfaces/ILaunchControl.h"
#include "platform/library.h"

class CHalvixProxy {
 public:
  // The process's one proxy.
  static CHalvixProxy& GetProxy();

  CHalvixProxy() = default;
  virtual ~CHalvixProxy();
  CHalvixProxy(const CHalvixProxy&) = delete;
  CHalvixProxy& operator=(const CHalvixProxy&) = delete;

  virtual bool IsInitialized() const { return m_Initialized; }
  // Loads "Halvix.dll" from the current directory (once), resolves both exports and calls
  // the instance's Init with the two callbacks. True when the component runs.
  virtual bool Init(LaunchControlCallback requestStart, LaunchControlCallback requestStop);
  // Releases the instance and unloads the library; nothing when not initialised.
  virtual bool Release();
  // The component's instance while initialised, otherwise null.
  virtual ILaunchControl* GetInstance();
  // Calls the release-instance entry, if any, without unloading the library.
  virtual bool ReleaseInstance();

  // The notifications of the service; each does nothing while not initialised.
  void NotifyInitialized();
  void NotifyStarting();
  void NotifyStarted();
  void NotifyStopping();
  void NotifyStopped();
  void NotifyClosing();

 private:
  void Unload();
  // The instance to notify: none while not initialised.
  ILaunchControl* NotifyTarget();

  platform::Library m_Module;
  GetLaunchControlInstanceFunc m_GetInstance = nullptr;
  ReleaseLaunchControlInstanceFunc m_ReleaseInstance = nullptr;
  bool m_Initialized = false;
};
