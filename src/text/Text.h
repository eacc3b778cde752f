// Text routines with no other dependency: trimming, ASCII lower-casing, whole integers,
// lines and whole files. The operating-system layer and the cluster's programs use them
// too, so this library links nothing but the standard library.
#pragma once

#include <string>
#include <vector>

// The blanks TrimText removes unless told otherwise: space, tab, CR, LF.
inline constexpr const char* kTextBlanks = " \t\r\n";

// `blanks` (by default space, tab, CR and LF) removed from both ends.
std::string TrimText(const std::string& text, const char* blanks = kTextBlanks);
// Lower-cases the ASCII letters only, so that the bytes of multi-byte characters stay.
std::string AsciiLower(std::string text);
// Exactly an optional sign and decimal digits, nothing around them, within the type;
// `value` is left alone on false.
bool TextToInt(const std::string& text, int& value);
bool TextToInt64(const std::string& text, long long& value);
// A whole decimal integer, optionally signed and surrounded by blanks; `fallback` for any
// other text or a value outside int.
int TextToIntDef(const std::string& text, int fallback);
// The lines of a text, without their CR LF or LF; a last line without an ending counts,
// an ending after the last line adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);
// The whole content of a regular file (a /proc file counts); false when it is missing, not
// a regular file or cannot be read, with the reason as an errno value in `error` when given.
bool ReadWholeFile(const std::string& path, std::string& content, int* error = nullptr);
