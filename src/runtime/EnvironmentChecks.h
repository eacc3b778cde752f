// The checks the manager runs at start-up before it supervises anything (the environment
// report, the file integrity check, the no-execute and run-time checks), and the
// clean-up of week-old logs.
//
// Platform notes: "has a console window" means standard input is a terminal; the system
// drive root is platform::SystemRoot() and the log directory platform::LogDir(); a file's
// creation time is its last modification time (platform::FileCreationTime).
#pragma once

#include <string>
#include <vector>

// Runs "Gavrock.exe" from the executable's directory, which writes the environment report
// "EnvInfo.log" into the log directory's folder, and waits for it. False on any failure,
// which is logged and shown (a key press at a terminal, else an error box); start-up then
// ends the process with exit code 1.
bool RunEnvironmentDump(const std::string& logDir);

// Runs "Holmira.exe" from `dir` ("" = the executable's directory; a relative path lies
// under it) and waits for it; its exit code is not read. A missing tool is only a warning.
// False, after a fatal log line, when the tool exists but cannot be started; start-up then
// ends the process with exit code -1.
bool RunIntegrityCheck(const std::string& dir = "");

// Looks for "/noexecute=optin" (any case) in Boot.ini at the system drive root, asks the
// operator to go on when it is missing, then runs ServerRunTimeCheck. False for a missing
// Boot.ini or for Cancel: the caller then ends the application. A Boot.ini that cannot be
// read is reported in a message, and the run-time check still decides.
bool DEPCheck();

// Warns when the machine has been up so long that its 32-bit millisecond timer is near
// its wrap. Always true.
bool ServerRunTimeCheck();

// Adds to `list` the names of the files in `directory` matching `mask` (without regard to
// case) that are older than `days` whole days; returns how many were added.
int ListOldFiles(const std::string& directory, const std::string& mask, std::vector<std::string>& list, int days);

// Deletes the "*.log" files in `directory` older than 7 whole days; returns the number
// deleted. Nothing outside the directory, nothing that does not match, and a file that
// cannot be deleted is skipped.
int ClearOldLogs(const std::string& directory);

// The work function of the "ClearLastWeekLog" worker: on its first call clears the old
// logs of the log component's LogPath, then only rests 1 ms a call. `userData` points to a
// bool that remembers the first call (null: one process-wide flag).
int ClearLastWeekLogWork(void* userData, int index);
