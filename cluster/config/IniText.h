// INI files as text: the check that a file holds only lines an INI reader understands, and
// the edit of one key that leaves every other byte of the file as it was.
#pragma once

#include <string>
#include <vector>

namespace ini_text {

// The text an INI reader can take: every line that is neither blank, a comment (";" or "#"),
// a "[section]" (anything may follow the closing bracket) nor "key=value" with a non-empty
// key -- and every line holding a NUL byte or a carriage return before its end -- is
// emptied, so the lines around it keep their meaning. A leading UTF-8 byte-order mark is
// dropped. The 1-based numbers of the emptied lines go to `badLines`. SetValue leaves such
// lines as they are.
std::string Readable(const std::string& text, std::vector<int>* badLines);

// The text with `key` of `section` set to `value` (names compared without regard to ASCII
// case). Every line of that key in every part of that section gets the new value, keeping
// the key as written; a missing key is added after the section's last non-blank line; a
// missing section is added at the end. The file's line ending (CR LF or LF) is kept.
std::string SetValue(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& value);

}  // namespace ini_text
