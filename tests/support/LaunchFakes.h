// Stand-ins for what the launching code asks of the rest of the manager: the configuration
// kept in memory and a window without a display. The launch, command and metrics tests and
// the benchmarks drive the real launcher with them.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "interfaces/IConfig.h"
#include "launch/ILaunchWindow.h"

// The configuration in memory: values set by the test, else the registered defaults.
class MemoryConfig : public IConfig {
 public:
  void Open(const char*, const char*) override {}
  void Apply() override { ++applied; }
  bool GetBool(const char* key, bool fallback) override { return Lookup(key, fallback ? "1" : "0") == "1"; }
  int GetInt(const char* key, int fallback) override { return std::stoi(Lookup(key, std::to_string(fallback))); }
  const char* GetString(const char* key, const char* fallback) override {
    m_Last = Lookup(key, fallback != nullptr ? fallback : "");
    return m_Last.c_str();
  }
  double GetFloat(const char* key, double fallback) override { return std::stod(Lookup(key, std::to_string(fallback))); }
  void SetBool(const char* key, bool value) override { values[key] = value ? "1" : "0"; }
  void SetInt(const char* key, int value) override { values[key] = std::to_string(value); }
  void SetString(const char* key, const char* value) override { values[key] = value; }
  void SetFloat(const char* key, double value) override { values[key] = std::to_string(value); }
  void DefaultBool(const char* key, bool value) override { defaults[key] = value ? "1" : "0"; }
  void DefaultInt(const char* key, int value) override { defaults[key] = std::to_string(value); }
  void DefaultString(const char* key, const char* value) override { defaults[key] = value; }

  // What the test or the code under test set, "<unset>" when nothing was.
  std::string Value(const std::string& key) const {
    auto it = values.find(key);
    return it != values.end() ? it->second : "<unset>";
  }

  std::map<std::string, std::string> values, defaults;
  int applied = 0;

 private:
  std::string Lookup(const std::string& key, const std::string& fallback) const {
    if (auto it = values.find(key); it != values.end()) return it->second;
    if (auto it = defaults.find(key); it != defaults.end()) return it->second;
    return fallback;
  }
  std::string m_Last;
};

// Thrown by EndProcess, so that a test sees the end instead of losing its process.
struct ProcessEnded {
  int exitCode;
};

// The window's side, recorded.
class TestWindow : public ILaunchWindow {
 public:
  void SetServiceStarted() override { startEnabled = false; }
  bool IsStartEnabled() override { return startEnabled; }
  void SetServerVersionText(const std::string& text) override { serverVersionText = text; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetMapCount(int count) override { mapCount = count; }
  bool IsStartInCmdLineChecked() override { return startInCmdLine; }
  void ShowStatePage() override { ++statePageShown; }
  void ProcessMessages() override {
    ++messagesProcessed;
    if (onProcessMessages) onProcessMessages();
  }
  bool IsClosing() override { return closing; }
  [[noreturn]] void EndProcess(int exitCode) override { throw ProcessEnded{exitCode}; }

  bool startEnabled = true;
  bool startInCmdLine = true;
  bool closing = false;
  std::string serverVersionText, caption;
  int mapCount = -1;
  int statePageShown = 0;
  int messagesProcessed = 0;
  std::function<void()> onProcessMessages;
};
