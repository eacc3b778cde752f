// The manager's entry: installs crash reporting, creates the main window, runs its
// start-up sequence and then the message loop until the window closes.
#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "app/ManagerStartup.h"
#include "app/QtDialogs.h"
#include "app/TVemoMapServerManagerMain.h"
#include "components/LogComponent.h"
#include "platform/crash_report.h"
#include "platform/dialogs.h"
#include "platform/message_bus.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/termination_signals.h"
#include "runtime/Console.h"

int main(int argc, char* argv[]) {
  // A program with a window: start-up failures go to their dialogs, never to a key press on
  // the terminal it was started from.
  SetWindowedProgram(true);
  platform::InstallCrashReporting(platform::LogDir());
  platform::RaiseOpenFileLimit();

  // The crash-reporting query needs no window system: answer it before Qt starts.
  if (const auto answer = app::ManagerStartup::CheckEurekaActiveAnswer({argv + 1, argv + argc}))
    platform::EndProcess(*answer);

  // Names of segments left by managers or map servers that were killed: nobody holds them.
  platform::RemoveUnheldSharedSegments();

  QApplication application(argc, argv);
  QApplication::setApplicationName("VemoMapServerManager");
  // This is the window thread: a bus send from it never waits for a full receiver.
  platform::SetNonBlockingSends(true);
  app::QtDialogs dialogs;
  platform::SetDialogs(&dialogs);

  // SIGTERM, SIGINT and SIGHUP close the window in order, without the question, from the
  // event loop; until it runs they wait in the pipe.
  const int signalFd = platform::WatchTerminationSignals();

  int exitCode = 0;
  {
    TVemoMapServerManagerMain window;
    dialogs.SetOwner(&window);
    // Qt has taken its own options (-platform, ...) out of argv.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const auto outcome = window.FormCreate(arguments);
    using Kind = app::StartupOutcome::Kind;
    // Start-up has decided; its loaders and checks only report what failed.
    if (outcome.kind == Kind::EndProcess) platform::EndProcess(outcome.exitCode);
    if (outcome.kind == Kind::Running) {
      QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
      signalNotifier.setEnabled(signalFd >= 0);
      QObject::connect(&signalNotifier, &QSocketNotifier::activated, &window, [&window] {
        if (const int sig = platform::TakeTerminationSignal()) window.CloseWithoutQuestion(sig);
      });
      window.show();
      exitCode = QApplication::exec();
    } else {
      exitCode = outcome.exitCode;
    }
    dialogs.SetOwner(nullptr);
  }
  platform::SetDialogs(nullptr);
  // Messages that waited for a full receiver (a raise for the first manager, say) go out
  // before the process ends.
  platform::FlushDeferredSends(1000);
  // The last lines reach the log file before the process ends.
  ReleaseLogObject();
  return exitCode;
}
