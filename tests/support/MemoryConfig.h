// The configuration in memory, the one stand-in for the configuration component in the
// tests and benchmarks.
#pragma once

#include <map>
#include <string>

#include "interfaces/IConfig.h"

// The configuration in memory: values set by the test, else the registered defaults.
class MemoryConfig : public IConfig {
 public:
  void Open(const char*, const char*) override {}
  void Apply() override { ++applied; }
  bool GetBool(const char* key, bool fallback) override { return Lookup(key, fallback ? "1" : "0") == "1"; }
  int GetInt(const char* key, int fallback) override { return std::stoi(Lookup(key, std::to_string(fallback))); }
  // The text stays valid until the same key is read again.
  const char* GetString(const char* key, const char* fallback) override {
    std::string& kept = m_Returned[key];
    kept = Lookup(key, fallback != nullptr ? fallback : "");
    return kept.c_str();
  }
  double GetFloat(const char* key, double fallback) override {
    return std::stod(Lookup(key, std::to_string(fallback)));
  }
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
  std::map<std::string, std::string> m_Returned;
};
