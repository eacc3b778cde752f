// INI files as text: the check that a file holds only lines an INI reader understands, and
// the edit of one key that leaves every other byte of the file as it was.
#pragma once

#include <string>

namespace ini_text {

// True when every line is blank, a comment (";" or "#"), a "[section]" (anything may follow
// the closing bracket) or "key=value" with a non-empty key, and the text holds no NUL byte.
// A leading UTF-8 byte-order mark is allowed. On false, `badLine` is the 1-based line number.
bool IsWellFormed(const std::string& text, int* badLine);

// The text with `key` of `section` set to `value` (names compared without regard to ASCII
// case). Every line of that key in every part of that section gets the new value, keeping
// the key as written; a missing key is added after the section's last non-blank line; a
// missing section is added at the end. The file's line ending (CR LF or LF) is kept.
std::string SetValue(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& value);

}  // namespace ini_text
