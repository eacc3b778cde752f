// The signals by which a service manager or an operator asks a program to end: SIGTERM,
// SIGINT and SIGHUP. Instead of ending the program at once, each is turned into a byte on a
// pipe that the program's event loop watches, so that it can close in order.
#pragma once

namespace platform {

// Installs the handlers (once) and returns the descriptor that becomes readable when one of
// the signals arrives; -1 when the pipe could not be made.
int WatchTerminationSignals();
// Reads what arrived: the number of the last signal, 0 when none.
int TakeTerminationSignal();

}  // namespace platform
