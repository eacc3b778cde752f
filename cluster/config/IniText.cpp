// INI files as text (see IniText.h).
#include "IniText.h"

#include <vector>

#include "text/Text.h"

namespace ini_text {
namespace {

constexpr const char kBom[] = "\xEF\xBB\xBF";

bool SameName(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

struct Line {
  std::string content;  // without the line ending
  std::string ending;   // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back({text.substr(start), ""});
      break;
    }
    bool crlf = nl > start && text[nl - 1] == '\r';
    Line line;
    line.content = text.substr(start, nl - start - (crlf ? 1 : 0));
    line.ending = crlf ? "\r\n" : "\n";
    lines.push_back(std::move(line));
    start = nl + 1;
  }
  return lines;
}

enum class Kind { Blank, Comment, Section, Key, Bad };

// Classifies one line; `name` receives the section or key name. A line holding a NUL byte,
// or a carriage return before its end (which an INI reader takes for a line break), is no
// INI, whatever else it holds.
Kind Classify(const std::string& content, std::string& name, std::size_t* equals) {
  if (content.find('\0') != std::string::npos) return Kind::Bad;
  std::size_t lastText = content.find_last_not_of('\r');
  if (lastText != std::string::npos && content.find('\r') < lastText) return Kind::Bad;
  std::string t = TrimText(content);
  if (t.empty()) return Kind::Blank;
  if (t[0] == ';' || t[0] == '#') return Kind::Comment;
  if (t[0] == '[') {
    std::size_t close = t.find(']');
    if (close == std::string::npos) return Kind::Bad;
    name = TrimText(t.substr(1, close - 1));
    return Kind::Section;
  }
  std::size_t eq = content.find('=');
  if (eq == std::string::npos) return Kind::Bad;
  name = TrimText(content.substr(0, eq));
  if (name.empty()) return Kind::Bad;
  if (equals != nullptr) *equals = eq;
  return Kind::Key;
}

// The line's content without a byte-order mark on the first line.
std::string Content(const std::vector<Line>& lines, std::size_t i) {
  if (i == 0 && lines[0].content.compare(0, 3, kBom) == 0) return lines[0].content.substr(3);
  return lines[i].content;
}

}  // namespace

std::string Readable(const std::string& text, std::vector<int>* badLines) {
  std::vector<Line> lines = SplitLines(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    std::string content = Content(lines, i);
    if (Classify(content, name, nullptr) == Kind::Bad) {
      if (badLines != nullptr) badLines->push_back(static_cast<int>(i + 1));
      content.clear();
    }
    out += content;
    out += lines[i].ending;
  }
  return out;
}

std::string SetValue(const std::string& text, const std::string& section, const std::string& key,
                     const std::string& value) {
  std::vector<Line> lines = SplitLines(text);
  std::string eol = "\n";
  for (const Line& line : lines)
    if (!line.ending.empty()) {
      eol = line.ending;
      break;
    }

  bool inSection = section.empty();          // keys before any header form the unnamed section
  long lastInSection = inSection ? -1 : -2;  // -2: the section was not seen
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    std::size_t equals = 0;
    std::string content = Content(lines, i);
    Kind kind = Classify(content, name, &equals);
    if (kind == Kind::Section) {
      inSection = SameName(name, section);
      if (inSection) lastInSection = static_cast<long>(i);
    } else if (kind == Kind::Key && inSection) {
      lastInSection = static_cast<long>(i);
      if (SameName(name, key)) {
        // Keep the key and the blanks after "=" as written; only the value changes.
        std::string& full = lines[i].content;
        std::size_t valueStart = full.size() - content.size() + equals + 1;  // past a byte-order mark
        while (valueStart < full.size() && (full[valueStart] == ' ' || full[valueStart] == '\t')) ++valueStart;
        full = full.substr(0, valueStart) + value;
        replaced = true;
      }
    }
  }

  if (!replaced) {
    Line added{key + "=" + value, eol};
    if (lastInSection >= -1) {
      std::size_t at = static_cast<std::size_t>(lastInSection + 1);
      if (at > 0 && lines[at - 1].ending.empty()) lines[at - 1].ending = eol;
      lines.insert(lines.begin() + static_cast<long>(at), added);
    } else {
      if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = eol;
      if (!lines.empty() && !TrimText(lines.back().content).empty()) lines.push_back({"", eol});
      lines.push_back({"[" + section + "]", eol});
      lines.push_back(added);
    }
  }

  std::string out;
  out.reserve(text.size() + key.size() + value.size() + section.size() + 8);
  for (const Line& line : lines) {
    out += line.content;
    out += line.ending;
  }
  return out;
}

}  // namespace ini_text
