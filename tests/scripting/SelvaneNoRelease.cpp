// A system data component that lacks PyData_Release, for the bridge's tests.
#include "components/LogComponent.h"
#include "interfaces/PyDataExports.h"

extern "C" {

__attribute__((visibility("default"))) int PyData_Init() {
  LogObject()->LogInfo("variant PyData_Init");
  return 1;
}

__attribute__((visibility("default"))) int PyData_AddFromPack(const char*, int length) {
  LogObject()->LogInfo("variant PyData_AddFromPack %d", length);
  return 1;
}

}  // extern "C"
