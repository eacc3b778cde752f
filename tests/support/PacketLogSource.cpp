// Test programs that check the packet layer's lines hand it the log component's object at
// start, as the manager does once its log is loaded; a test's RecordingLog then receives them.
#include "components/LogComponent.h"
#include "packet/PacketLog.h"

namespace {
const bool g_LogSourceHanded = (packet::SetLogSource(&LogObject), true);
}  // namespace
