// Reading /proc text without allocating: the fields of a stat line and the page faults in
// it, shared by the process layer's sources.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::proc_text {

// Walks the fields of a /proc stat line after the command name (which may hold blanks and
// parentheses; it ends at the last ')'), without allocating. Field 0 is the state (field 3
// of the line).
class StatFields {
 public:
  explicit StatFields(std::string_view statText) {
    const std::size_t close = statText.rfind(')');
    m_Valid = close != std::string_view::npos;
    if (m_Valid) m_Rest = statText.substr(close + 1);
  }
  bool Valid() const { return m_Valid; }
  // The next field; empty at the end.
  std::string_view Next() {
    const std::size_t start = m_Rest.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) {
      m_Rest = std::string_view();
      return std::string_view();
    }
    const std::size_t end = m_Rest.find_first_of(" \t\n", start);
    const std::string_view field =
        m_Rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    m_Rest = end == std::string_view::npos ? std::string_view() : m_Rest.substr(end);
    return field;
  }
  // Skips `count` fields; false when the line ends first.
  bool Skip(int count) {
    for (int i = 0; i < count; ++i)
      if (Next().empty()) return false;
    return true;
  }

 private:
  bool m_Valid = false;
  std::string_view m_Rest;
};

// Minor and major page faults of a stat line.
bool ParseStatPageFaults(std::string_view statText, uint64_t* faults);

}  // namespace platform::proc_text
