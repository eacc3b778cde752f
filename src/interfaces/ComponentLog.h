// A component's way to the log of the program that loaded it. The program hands over a log
// source through the component's interface (SetConfigLog, GameData_SetLog, PyData_SetLog, the
// network core's host table); every line asks the source at the moment it is written, so a
// log object that the program releases and makes again is followed. Until a source is handed
// over, or while it yields none, the lines go nowhere.
#pragma once

#include <atomic>

#include "interfaces/ILog.h"
#include "interfaces/SilentLog.h"

class ComponentLog {
 public:
  // Any thread, any time; null takes the source away again.
  void SetSource(LogSourceFunc source) { m_Source.store(source, std::memory_order_release); }
  // The log object to write to now, or null when there is none.
  ILog* Find() const {
    LogSourceFunc source = m_Source.load(std::memory_order_acquire);
    return source != nullptr ? source() : nullptr;
  }
  // The log object to write to now; never null.
  ILog* Get() const {
    static SilentLog silent;
    ILog* log = Find();
    return log != nullptr ? log : &silent;
  }
  ILog* operator->() const { return Get(); }

 private:
  std::atomic<LogSourceFunc> m_Source{nullptr};
};
