// The terminal the process was started from.
#pragma once

namespace platform {

// True when standard input is a terminal.
bool StdinIsTerminal();
// Waits for one key on standard input: the terminal, when it is one, reads the key alone
// and without echo for this one read; any other input gives its next byte or its end.
void ReadOneKey();

}  // namespace platform
