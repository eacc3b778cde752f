#include "TextFields.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/paths.h"
#include "text/Text.h"

namespace gamedata {

namespace {
bool IsSeparator(char c) { return c == ' ' || c == '\t'; }
}  // namespace

bool SplitFields(const std::string& line, std::vector<std::string>& fields, std::string& error) {
  fields.clear();
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && IsSeparator(line[i])) ++i;
    if (i >= n || line[i] == '#') break;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        error = "unterminated quote";
        return false;
      }
      if (close + 1 < n && !IsSeparator(line[close + 1])) {
        error = "text after a closing quote";
        return false;
      }
      fields.push_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    size_t start = i;
    while (i < n && !IsSeparator(line[i])) ++i;
    fields.push_back(line.substr(start, i - start));
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
  return ::SplitLines(bom ? text.substr(3) : text);
}

bool ReadTextFile(const std::string& path, std::size_t maxBytes, std::string& text, std::string& error) {
  if (platform::DirectoryExists(path)) {
    error = "is a directory";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  file.seekg(0, std::ios::end);
  std::streamoff size = file.tellg();
  if (size < 0) {
    error = "cannot be read (a directory?)";
    return false;
  }
  if (static_cast<std::size_t>(size) > maxBytes) {
    error = "larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  file.seekg(0, std::ios::beg);
  text.assign(static_cast<std::size_t>(size), '\0');
  if (size > 0 && !file.read(text.data(), size)) {
    error = "read failed";
    return false;
  }
  return true;
}

}  // namespace gamedata
