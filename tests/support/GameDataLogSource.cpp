// Test programs that drive the game data component's classes directly hand them the log
// component's object, as the manager does through GameData_SetLog; a test's RecordingLog then
// receives their lines.
#include "GameDataLog.h"
#include "components/LogComponent.h"

namespace {
const bool g_LogSourceHanded = (gamedata::GameDataLog().SetSource(&LogObject), true);
}  // namespace
