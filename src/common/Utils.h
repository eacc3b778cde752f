// Common routines: text and numbers (with those of text/Text.h), the CRC-32, hex text,
// the little-endian byte cursor, text search and splitting, process routines, debug
// output, the folder picker, and the texts of exception codes and call stacks. None keeps
// global state.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "text/Text.h"

// printf-style formatting; a null format gives "".
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

// The CRC-32 of zlib and IEEE 802.3; null bytes give 0 whatever the previous value.
uint32_t Crc32(uint32_t previous, const void* bytes, std::size_t length);

// Two upper-case hex digits and a blank per byte ("0A FF ").
std::string HexText(const void* bytes, std::size_t count);
// Raw form: writes into `out` (room for 3 * count + 1, or 2 * count + 1 with separator 0)
// two digits per byte, each followed by the separator unless it is 0, and a closing NUL.
void HexText(const void* bytes, std::size_t count, char* out, char separator);

// part / whole * 100 in floating point, truncated toward zero; 0 for a whole <= 0 (or 0).
int Percent(int part, int whole);
unsigned PercentU(unsigned part, unsigned whole);
int PercentF(double part, double whole);

// Little-endian byte cursor: each routine advances `cursor` by the size moved.
// No routine checks bounds: the caller guarantees the room.
uint8_t ReadByte(const void* buffer, int& cursor);
uint16_t ReadWord(const void* buffer, int& cursor);
uint32_t ReadDword(const void* buffer, int& cursor);
void ReadBytes(const void* buffer, int& cursor, void* out, int count);
void WriteByte(void* buffer, int& cursor, uint8_t value);
void WriteWord(void* buffer, int& cursor, uint16_t value);
void WriteDword(void* buffer, int& cursor, uint32_t value);
void WriteBytes(void* buffer, int& cursor, const void* in, int count);

// 1-based byte position of the first `ch` on the first line of `text`, or 0. Multi-byte
// characters are units, so none of their bytes matches: a text that is well-formed UTF-8
// is read as UTF-8, any other text as GBK (a lead byte 0x81-0xFE and the byte after it).
int CharPos(const std::string& text, char ch);
// Splits at `separator`, always adding what remains at the end (even when empty).
void SplitText(std::string text, const std::string& separator, std::vector<std::string>& list);
// The text before the first occurrence of `part`, or "" when it does not occur.
std::string TextBefore(const std::string& text, const std::string& part);

// True when the whole text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsWellFormedUtf8(const std::string& text);

// Starts the command line in `workDir` and waits until it runs (and, with `wait`, until it
// ends). On failure shows the system's text for the error in a message box and returns
// information with all zeros. `showMode` is kept for callers; Linux has no window show mode.
platform::ProcessInformation RunProcess(const std::string& commandLine, const std::string& workDir, int showMode,
                                        bool wait);
bool IsProcessAlive(uint32_t pid);
// The two 32-bit halves of a FILETIME as one 64-bit count of 100-ns units.
uint64_t FileTimeToInt64(uint32_t lowDateTime, uint32_t highDateTime);
// Sends the text (or "" when null) to the debugger output.
void DebugOut(const char* text);
// The folder picker through the operator dialogs; `title` "" becomes "Open". `path` holds
// the start and receives the choice; false on cancel.
bool BrowseForFolder(void* ownerWindow, const std::string& title, std::string& path);

// "Exception Call Stack:\r\n" followed by the lines of the last recorded exception's stack
// joined by CR LF, or "GetLastExceptionCallStackAsText Exception:%s!" on failure.
std::string GetLastExceptionCallStackAsText();
// The fixed name of a Windows exception code, "UNKNOWN_EXCEPTION" for others.
const char* ExceptionCodeName(uint32_t code);
