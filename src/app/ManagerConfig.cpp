#include "app/ManagerConfig.h"

#include "interfaces/IConfig.h"

namespace app {
std::string ConfigFilePath(const std::string& exeDir) { return exeDir + "VemoMapServerManager.ini"; }

void RegisterConfigDefaults(IConfig& config, const std::string& exeDir) {
  const std::string scriptPath = exeDir + "MapServerData/Script/";
  config.DefaultBool("cbOpenInCMDLine", true);
  config.DefaultBool("cbDebugModule", false);
  config.DefaultBool("cbSingleServerMode", false);
  config.DefaultString("edt_ip", "127.0.0.1");
  config.DefaultInt("edt_port", 19001);
  config.DefaultInt("edtMapManagerNum", 0);
  config.DefaultBool("cbForbiddenAutoRestart", false);
  config.DefaultString("edtScriptPath", scriptPath.c_str());
  config.DefaultString("edtSSIP", "127.0.0.1");
  config.DefaultInt("edtSSPort", 21888);
  config.DefaultString("edtMutexSign", "MapServerManager");
  // Operating on Linux without an operator at the window; all off by default.
  config.DefaultBool("AutoConnectStatusServer", false);
  config.DefaultInt("MetricsPort", 0);
  config.DefaultString("MetricsAddress", "127.0.0.1");
  config.DefaultBool("RestartExitedMaps", false);
  config.DefaultInt("RestartsPerMinute", 30);
}

}  // namespace app
