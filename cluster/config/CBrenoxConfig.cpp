// The configuration of the configuration component (see CBrenoxConfig.h).
#include "CBrenoxConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "IniText.h"
#include "interfaces/ComponentLog.h"
#include "interfaces/ILog.h"
#include "text/Text.h"

namespace {

// Replaces the file's contents through a temporary file beside it and a rename, keeping
// the file's permissions; a symbolic link is followed so the link itself stays.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
  std::string target = path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string temporary = target + ".tmp" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      ::close(fd);
      ::unlink(temporary.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Values and keys are trimmed of blanks and tabs only.
constexpr const char* kValueBlanks = " \t";

bool ParseInt(const std::string& text, int& value) { return TextToInt(TrimText(text, kValueBlanks), value); }

bool ParseBool(const std::string& text, bool& value) {
  std::string t = AsciiLower(TrimText(text, kValueBlanks));
  if (t == "true" || t == "yes" || t == "on") {
    value = true;
    return true;
  }
  if (t == "false" || t == "no" || t == "off") {
    value = false;
    return true;
  }
  int number = 0;
  if (!ParseInt(t, number)) return false;
  value = number != 0;
  return true;
}

bool ParseFloat(const std::string& text, double& value) {
  std::string t = TrimText(text, kValueBlanks);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(t.c_str(), &end);
  return errno == 0 && end == t.c_str() + t.size();
}

ComponentLog g_Log;

}  // namespace

void BrenoxSetLog(ConfigLogFunc getLog) { g_Log.SetSource(getLog); }

void BrenoxReport(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (ILog* log = g_Log.Find()) {
    log->LogWarn("Brenox: %s", text);
  } else {
    std::fprintf(stderr, "Brenox: %s\n", text);
  }
}

CBrenoxConfig::CBrenoxConfig() : m_Ini(false, false, false) {}

void CBrenoxConfig::Open(const char* path, const char* section) {
  m_Path = path != nullptr ? path : "";
  m_Section = section != nullptr ? section : "";
  m_Ini.Reset();
}

void CBrenoxConfig::Apply() {
  m_Ini.Reset();
  if (m_Path.empty()) return;
  std::string text;
  int error = 0;
  if (!ReadWholeFile(m_Path, text, &error)) {
    if (error == ENOENT) return;  // a fresh installation: the defaults
    BrenoxReport("cannot read \"%s\": %s; the defaults are in force", m_Path.c_str(), std::strerror(error));
    return;
  }
  ApplyText(text);
}

void CBrenoxConfig::ApplyText(const std::string& text) {
  m_Ini.Reset();
  std::vector<int> badLines;
  std::string readable = ini_text::Readable(text, &badLines);
  ReportSkippedLines(badLines);
  if (m_Ini.LoadData(readable.data(), readable.size()) < 0) {
    m_Ini.Reset();
    BrenoxReport("cannot parse \"%s\"; the defaults are in force", m_Path.c_str());
  }
}

void CBrenoxConfig::ReportSkippedLines(const std::vector<int>& badLines) {
  std::string lines;
  for (std::size_t i = 0; i < badLines.size() && i < 10; ++i)
    lines += (i == 0 ? "" : ", ") + std::to_string(badLines[i]);
  if (badLines.size() > 10) lines += ", ...";
  std::string report = badLines.empty() ? std::string() : m_Path + "|" + lines;
  if (report == m_LastSkipReport) return;
  m_LastSkipReport = report;
  if (badLines.empty()) return;
  BrenoxReport("\"%s\" line%s %s: neither a section, a key=value nor a comment, skipped; the other lines are in force",
               m_Path.c_str(), badLines.size() == 1 ? "" : "s", lines.c_str());
}

bool CBrenoxConfig::RegisteredDefault(const std::string& key, std::string& value) const {
  auto it = m_Defaults.find(AsciiLower(key));
  if (it == m_Defaults.end()) return false;
  value = it->second;
  return true;
}

bool CBrenoxConfig::Lookup(const std::string& key, std::string& value) const {
  if (const char* v = m_Ini.GetValue(m_Section.c_str(), key.c_str(), nullptr)) {
    value = v;
    return true;
  }
  return RegisteredDefault(key, value);
}

bool CBrenoxConfig::GetBool(const char* key, bool defaultValue) {
  if (key == nullptr) return defaultValue;
  std::string text;
  bool value = defaultValue;
  if (Lookup(key, text) && ParseBool(text, value)) return value;
  if (RegisteredDefault(key, text) && ParseBool(text, value)) return value;
  return defaultValue;
}

int CBrenoxConfig::GetInt(const char* key, int defaultValue) {
  if (key == nullptr) return defaultValue;
  std::string text;
  int value = defaultValue;
  if (Lookup(key, text) && ParseInt(text, value)) return value;
  if (RegisteredDefault(key, text) && ParseInt(text, value)) return value;
  return defaultValue;
}

double CBrenoxConfig::GetFloat(const char* key, double defaultValue) {
  if (key == nullptr) return defaultValue;
  std::string text;
  double value = defaultValue;
  if (Lookup(key, text) && ParseFloat(text, value)) return value;
  if (RegisteredDefault(key, text) && ParseFloat(text, value)) return value;
  return defaultValue;
}

const char* CBrenoxConfig::GetString(const char* key, const char* defaultValue) {
  std::string text;
  if (key != nullptr && Lookup(key, text))
    m_StringResult = text;
  else
    m_StringResult = defaultValue != nullptr ? defaultValue : "";
  return m_StringResult.c_str();
}

void CBrenoxConfig::Store(const char* key, const std::string& value) {
  if (key == nullptr || TrimText(key, kValueBlanks).empty() || std::strpbrk(key, "=[]\r\n") != nullptr) {
    BrenoxReport("\"%s\" cannot be a key; nothing stored", key != nullptr ? key : "");
    return;
  }
  if (value.find_first_of("\r\n") != std::string::npos || value.find('\0') != std::string::npos) {
    BrenoxReport("the value of \"%s\" spans lines and cannot be stored in \"%s\"", key, m_Path.c_str());
    return;
  }
  m_Ini.SetValue(m_Section.c_str(), key, value.c_str());
  if (m_Path.empty()) return;

  // Read the file afresh so that hand edits made since Apply are kept.
  std::string text;
  int error = 0;
  // A missing file is written afresh.
  if (!ReadWholeFile(m_Path, text, &error) && error != ENOENT) {
    BrenoxReport("cannot read \"%s\": %s; \"%s\" is kept for this run only, the file is left alone", m_Path.c_str(),
                 std::strerror(error), key);
    return;
  }
  // Lines that are no INI are copied as they are: only the key's own line changes.
  std::string writeError;
  if (!WriteWholeFile(m_Path, ini_text::SetValue(text, m_Section, key, value), writeError))
    BrenoxReport("cannot write \"%s\": %s; \"%s\" is kept for this run only", m_Path.c_str(), writeError.c_str(), key);
}

void CBrenoxConfig::SetBool(const char* key, bool value) { Store(key, value ? "1" : "0"); }

void CBrenoxConfig::SetInt(const char* key, int value) { Store(key, std::to_string(value)); }

void CBrenoxConfig::SetString(const char* key, const char* value) { Store(key, value != nullptr ? value : ""); }

void CBrenoxConfig::SetFloat(const char* key, double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  Store(key, ec == std::errc() ? std::string(buffer, end) : std::string("0"));
}

void CBrenoxConfig::DefaultBool(const char* key, bool value) {
  if (key != nullptr) m_Defaults[AsciiLower(key)] = value ? "1" : "0";
}

void CBrenoxConfig::DefaultInt(const char* key, int value) {
  if (key != nullptr) m_Defaults[AsciiLower(key)] = std::to_string(value);
}

void CBrenoxConfig::DefaultString(const char* key, const char* value) {
  if (key != nullptr) m_Defaults[AsciiLower(key)] = value != nullptr ? value : "";
}
