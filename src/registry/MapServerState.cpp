#include "registry/MapServerState.h"

const char* MapServerStateText(int state) {
  switch (state) {
    case 0: return "Not Exist!";
    case 1: return "Connecting...";
    case 2: return "Initing...";
    case 3: return "Running";
    default: return "unknown";
  }
}
