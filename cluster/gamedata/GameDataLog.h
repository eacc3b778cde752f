// The game data component's log: the program that loads the component hands over its log
// source through the export GameData_SetLog; until then the component's lines go nowhere.
#pragma once

#include "interfaces/ComponentLog.h"

namespace gamedata {

inline ComponentLog& GameDataLog() {
  static ComponentLog log;
  return log;
}

}  // namespace gamedata
