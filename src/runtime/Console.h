// Whether the process talks to an operator at a terminal, and the key press it waits for.
//
// A Windows program "has a console window" when it was started from one; on Linux the
// equivalent is a terminal on standard input: only then can anyone press a key for us.
#pragma once

#include <string>

// True when standard input is a terminal.
bool HasConsoleWindow();
// Waits for one key on the terminal (without waiting for Enter); returns at once when
// standard input is not a terminal or has ended.
void WaitForAnyKey();
// The local date and time as text, "YYYY-MM-DD hh:mm:ss".
std::string NowAsText();
