#include "TextFields.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/paths.h"

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

bool ParseInt32(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 12) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool sign = i == 0 && (c == '+' || c == '-') && text.size() > 1;
    if (!sign && (c < '0' || c > '9')) return false;
  }
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
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
