// Whether the process talks to an operator at a terminal, and the key press it waits for.
//
// A Windows console program "has a console window" when it was started from one; on Linux
// the equivalent is a terminal on standard input: only then can anyone press a key for us.
// A program with a window has no console window even when it was started from a shell: it
// talks to its operator through its dialogs, and says so with SetWindowedProgram.
#pragma once

#include <string>

// Declares the process a program with a window (the manager does, first thing in main).
void SetWindowedProgram(bool windowed);
// True when the process is a console program and standard input is a terminal.
bool HasConsoleWindow();
// Waits for one key on the terminal (without waiting for Enter); returns at once when
// standard input is not a terminal or has ended.
void WaitForAnyKey();
// The local date and time as text, "YYYY-MM-DD hh:mm:ss".
std::string NowAsText();
