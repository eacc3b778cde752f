#include "text/Text.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

std::string TrimText(const std::string& text, const char* blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool TextToInt64(const std::string& text, long long& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  // from_chars takes a '-' but no '+': a '+' must stand before a digit.
  if (first != last && *first == '+' && (++first == last || *first < '0' || *first > '9')) return false;
  long long parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

bool TextToInt(const std::string& text, int& value) {
  long long parsed = 0;
  if (!TextToInt64(text, parsed) || parsed < std::numeric_limits<int>::min() ||
      parsed > std::numeric_limits<int>::max())
    return false;
  value = static_cast<int>(parsed);
  return true;
}

int TextToIntDef(const std::string& text, int fallback) {
  int value = fallback;
  return TextToInt(TrimText(text), value) ? value : fallback;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

bool ReadWholeFile(const std::string& path, std::string& content, int* error) {
  const auto fail = [error](int code) {
    if (error != nullptr) *error = code != 0 ? code : EIO;
    return false;
  };
  // A directory opens as a stream that reads nothing, and a pipe or device may block for
  // ever: only regular files are read.
  std::error_code status;
  const std::filesystem::file_status kind = std::filesystem::status(path, status);
  if (status) return fail(status.value());
  if (kind.type() == std::filesystem::file_type::not_found) return fail(ENOENT);
  if (kind.type() == std::filesystem::file_type::directory) return fail(EISDIR);
  if (kind.type() != std::filesystem::file_type::regular) return fail(EINVAL);
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return fail(errno);
  std::ostringstream out;
  out << file.rdbuf();
  if (file.bad()) return fail(errno);
  content = out.str();
  if (error != nullptr) *error = 0;
  return true;
}
