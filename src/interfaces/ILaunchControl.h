// The launch-control component's interface ("Halvix.dll"), shared by the manager and the
// component so the two can never disagree on the order of the operations.
//
// The manager hands the component two callbacks: one presses "Start", the other stops every
// map server. Both run window operations, so the component must call them on the manager's
// window thread; calling them from within Poll, which the manager calls every 500 ms on the
// window thread, meets this. A stop waits with the window answering, so Poll may be called
// again from within a callback that Poll made: the component must allow that.
#pragma once

extern "C" {
// A callback of the manager: true when it did what was asked.
typedef bool (*LaunchControlCallback)();
}

class ILaunchControl {
 public:
  // Slot 0: not used by the manager.
  virtual void Unused0() {}
  // Slot 1: once, by the manager's proxy; `reserved` is 0. True when the component runs.
  virtual bool Init(LaunchControlCallback requestStart, LaunchControlCallback requestStop, int reserved) = 0;
  // Slots 2 and 3: not used by the manager.
  virtual void Unused2() {}
  virtual void Unused3() {}
  // Slot 4: every 500 ms on the window thread while the component runs.
  virtual void Poll() = 0;
  // Slot 5: right after a successful Init.
  virtual void NotifyInitialized() = 0;
  // Slots 6 and 7: at the beginning and at the end of "Start".
  virtual void NotifyStarting() = 0;
  virtual void NotifyStarted() = 0;
  // Slots 8 and 9: around the stop callback's close of every map server.
  virtual void NotifyStopping() = 0;
  virtual void NotifyStopped() = 0;
  // Slot 10: the manager's window began to close. From now on the manager refuses both
  // callbacks and stops polling; a stop that was waiting for the last player is abandoned
  // (its callback returns false and no NotifyStopped follows).
  virtual void NotifyClosing() = 0;

 protected:
  ~ILaunchControl() = default;
};

// The component's exports, both without arguments. The instance is the same object on
// every call and stays valid until ReleaseLaunchControlInstance.
extern "C" {
typedef ILaunchControl* (*GetLaunchControlInstanceFunc)();
typedef void (*ReleaseLaunchControlInstanceFunc)();
}
