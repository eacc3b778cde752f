// The configuration of the configuration component "Brenox.dll": one section of an INI file.
//
// Apply reads the file (SimpleIni). The values in force are the file's values, or the
// registered defaults for keys the file lacks, or the caller's default for keys with
// neither. Bools are written as 1 and 0; 1/0, true/false, yes/no and on/off are read.
// A value that does not read as its type gives the registered default.
//
// SetBool, SetInt, SetString and SetFloat store the value and write the file at once.
// The write edits the file as text: only the lines of that key change (or one line is
// added to the section, or the section is added at the end), so comments, blank lines,
// other keys and other sections stay as the operator wrote them. The file is read afresh
// before each write, so hand edits made since Apply survive, and replaced through a
// temporary file so that a failed write never leaves half a file.
//
// A line that is neither blank, a comment (";" or "#"), a "[section]" nor a "key=value" is
// skipped: every other line keeps its meaning, and a write leaves the skipped line as the
// operator wrote it. The file is reported once for the lines it skips (again only when they
// change). A file that cannot be read is reported and read as if empty (the defaults); a
// Set then keeps the value for this run only, so nothing the operator wrote is lost. A
// missing file is normal: the first Set creates it.
//
// Messages go to the manager's log when the manager has handed the component its way there
// (the export SetConfigLog, IConfig.h), otherwise to standard error; prefixed "Brenox:".
#pragma once

// Texts are single-byte or GBK: SimpleIni keeps the bytes as they are. Debian's header
// holds the template bodies only where SI_IMPLEMENTATION is defined.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <map>
#include <string>
#include <vector>

#include "interfaces/IConfig.h"

class CBrenoxConfig final : public IConfig {
 public:
  CBrenoxConfig();
  ~CBrenoxConfig() = default;
  CBrenoxConfig(const CBrenoxConfig&) = delete;
  CBrenoxConfig& operator=(const CBrenoxConfig&) = delete;

  void Open(const char* path, const char* section) override;
  void Apply() override;
  bool GetBool(const char* key, bool defaultValue) override;
  int GetInt(const char* key, int defaultValue) override;
  const char* GetString(const char* key, const char* defaultValue) override;
  double GetFloat(const char* key, double defaultValue) override;
  void SetBool(const char* key, bool value) override;
  void SetInt(const char* key, int value) override;
  void SetString(const char* key, const char* value) override;
  void SetFloat(const char* key, double value) override;
  void DefaultBool(const char* key, bool value) override;
  void DefaultInt(const char* key, int value) override;
  void DefaultString(const char* key, const char* value) override;

  // What Apply does with the file's text once it has read it.
  void ApplyText(const std::string& text);

 private:
  // The text in force for a key: the file's (or a value set this run), else the
  // registered default; false when neither exists.
  bool Lookup(const std::string& key, std::string& value) const;
  bool RegisteredDefault(const std::string& key, std::string& value) const;
  // Stores the value and writes it to the file (see above).
  void Store(const char* key, const std::string& value);
  // Reports the lines of the file that Apply skipped, unless they were reported last time.
  void ReportSkippedLines(const std::vector<int>& badLines);

  std::string m_Path;
  std::string m_Section;
  CSimpleIniA m_Ini;                              // the file's contents, as last applied
  std::map<std::string, std::string> m_Defaults;  // registered defaults as text, by lower-case key
  std::string m_StringResult;                     // what GetString handed out last
  std::string m_LastSkipReport;                   // the last report of skipped lines
};

// Writes one of the component's messages, at the warning level, to the manager's log when
// it has been handed (SetConfigLog), else to standard error.
void BrenoxReport(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Remembers the manager's way to its log (null: standard error only).
void BrenoxSetLog(ConfigLogFunc getLog);
