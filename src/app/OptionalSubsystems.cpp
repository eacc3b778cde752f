#include "app/OptionalSubsystems.h"

#include "components/LogComponent.h"

namespace app {
namespace {

void Skipped(const char* what) {
  LogObject()->TraceWarn("TVemoMapServerManagerMain: %s is not part of this build, skipped", what);
}

}  // namespace

void CreateLogLights(QWidget* owner, QWidget* panel) {
  (void)owner;
  (void)panel;
  Skipped("the log lights panel");
}

bool InitLaunchControl() {
  Skipped("the launch-control component");
  return false;
}

}  // namespace app
