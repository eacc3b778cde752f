// The manager's start-up before its window takes over: the crash-reporting query and
// check, the configuration with its defaults, the single-instance rule, the log, the
// environment checks, the map data directory and the launcher, the game data component,
// the system data bridge and the share data. Components and checks that fail report what
// failed; start-up alone decides whether the application or the process ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/message_bus.h"

namespace app {

class MapServerManager;

// What start-up asks of the program's entry.
struct StartupOutcome {
  enum class Kind {
    Running,         // show the window and run the message loop
    EndApplication,  // tear the window down normally and leave with exitCode
    EndProcess,      // end at once with exitCode (platform::EndProcess), nothing torn down
  };
  Kind kind = Kind::Running;
  int exitCode = 0;
};

class ManagerStartup {
 public:
  // The answer to an installation script's crash-reporting query: when the arguments are
  // exactly "-CheckEurekaActive" (any letter case), the exit code (0 when crash reporting
  // is active, else 1). The program's entry asks before any window system starts.
  static std::optional<int> CheckEurekaActiveAnswer(const std::vector<std::string>& arguments);

  // `window` is the main window's bus handle: the instance segment registers it and the
  // share data notifies it. `arguments` are the command-line arguments without the
  // program name.
  ManagerStartup(MapServerManager& manager, platform::WindowHandle window, std::vector<std::string> arguments);

  // Runs the steps in order; any that fails ends start-up with the outcome it calls for.
  StartupOutcome Run();

 private:
  StartupOutcome OpenConfiguration();
  // False when another manager with the same sign runs (its window is shown and raised).
  bool TakeInstance();
  StartupOutcome StartLogging();
  StartupOutcome RunEnvironmentChecks();
  StartupOutcome LoadComponents();

  MapServerManager& m_Manager;
  platform::WindowHandle m_Window;
  std::vector<std::string> m_Arguments;
};

}  // namespace app
