// The field splitting shared by the component's hand-editable text files (the map list and
// the system tables): fields are separated by blanks or tabs, a field in double quotes
// keeps its blanks, a '#' at the start of a field begins a comment up to the end of the
// line. Texts are single-byte or GBK: blank, tab, '"' and '#' are never GBK trail bytes,
// so splitting bytes is safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gamedata {

// Splits one line (without its line end). False with `error` set for a quote that is not
// closed or not followed by a separator.
bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& error);

// Cuts a file's text into lines: LF or CR LF ends a line; a leading UTF-8 byte order
// mark is dropped.
std::vector<std::string> SplitLines(const std::string& text);

// Reads a whole file of at most `maxBytes`. False with `error` set otherwise.
bool ReadTextFile(const std::string& path, std::size_t maxBytes, std::string& text, std::string& error);

}  // namespace gamedata
