// The manager's configuration: "VemoMapServerManager.ini" beside the executable, section
// "MapManager", read and written through the configuration component.
#pragma once

#include <string>

class IConfig;

namespace app {

inline constexpr const char* kConfigSection = "MapManager";

// "<exeDir>VemoMapServerManager.ini"; `exeDir` ends in "/".
std::string ConfigFilePath(const std::string& exeDir);

// Registers the default of every key, in the manager's order. A key absent from the file
// reads as its default once Apply has run.
void RegisterConfigDefaults(IConfig& config, const std::string& exeDir);

}  // namespace app
