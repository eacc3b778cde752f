#include "IniFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CBrenoxConfig.h"
#include "IniText.h"
#include "support/RecordingLog.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "INI invariant broken: %s\n", what);
  std::abort();
}

RecordingLog* g_Log = nullptr;
ILog* FuzzLog() { return g_Log; }

std::size_t Count(const std::string& text, char c) {
  std::size_t n = 0;
  for (char t : text) n += t == c;
  return n;
}

// The texts of the given 1-based lines without their line ending and the carriage returns
// they end in: a last line that ends in one gets it counted in "\r\n" when a write adds a
// line after it.
std::vector<std::string> LinesAt(const std::string& text, const std::vector<int>& numbers) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c != '\n') {
      lines.back() += c;
      continue;
    }
    lines.emplace_back();
  }
  std::vector<std::string> out;
  for (int n : numbers) {
    std::string line = lines.at(static_cast<std::size_t>(n - 1));
    while (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// A configuration read from `text`, with a few of the manager's defaults.
void Read(CBrenoxConfig& config, const std::string& text) {
  config.Open("", "MapManager");
  config.DefaultString("edtSSIP", "127.0.0.1");
  config.DefaultInt("edtSSPort", 21888);
  config.DefaultBool("cbDebugModule", false);
  config.ApplyText(text);
}

void CheckValue(CBrenoxConfig& config, const char* key) {
  const char* value = config.GetString(key, "fallback");
  if (value == nullptr) Fail("GetString gave null");
  if (std::strchr(value, '\n') != nullptr) Fail("a value spans lines");
  config.GetInt(key, 0);
  config.GetBool(key, false);
  config.GetFloat(key, 0);
}

}  // namespace

int FuzzIni(const uint8_t* data, std::size_t size) {
  RecordingLog log;  // the component's reports land here (and are dropped with it)
  g_Log = &log;
  BrenoxSetLog(&FuzzLog);
  const std::string text(reinterpret_cast<const char*>(data), size);

  // Reading keeps the line structure: a skipped line is emptied, never merged or split.
  std::vector<int> bad;
  const std::string readable = ini_text::Readable(text, &bad);
  if (Count(readable, '\n') != Count(text, '\n')) Fail("lines merged or split");
  if (readable.find('\0') != std::string::npos) Fail("a NUL byte reached the reader");
  for (std::size_t i = 0; i < bad.size(); ++i)
    if (bad[i] < 1 || bad[i] > static_cast<int>(Count(text, '\n') + 1) || (i > 0 && bad[i] <= bad[i - 1]))
      Fail("bad line numbers out of order or range");

  CBrenoxConfig config;
  Read(config, text);
  for (const char* key : {"edtSSIP", "edtSSPort", "cbDebugModule", "edtMutexSign", ""}) CheckValue(config, key);
  const std::string port = config.GetString("edtSSPort", "");

  // Writing one key changes that key only: it reads back, another key keeps its value, and
  // no line becomes readable or unreadable (the skipped lines stay, word for word).
  const std::string written = ini_text::SetValue(text, "MapManager", "edtSSIP", "10.1.2.3");
  std::vector<int> badAfter;
  ini_text::Readable(written, &badAfter);
  if (LinesAt(written, badAfter) != LinesAt(text, bad)) Fail("a write changed which lines are readable");
  CBrenoxConfig again;
  Read(again, written);
  if (std::string(again.GetString("edtSSIP", "")) != "10.1.2.3") Fail("the written value does not read back");
  if (std::string(again.GetString("edtSSPort", "")) != port) Fail("a write changed another key");

  BrenoxSetLog(nullptr);
  g_Log = nullptr;
  return 0;
}
