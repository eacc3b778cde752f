// The configuration as the manager registers it, read and written through the real
// configuration component.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/ManagerConfig.h"
#include "components/ConfigComponent.h"
#include "interfaces/IConfig.h"
#include "support/TestSupport.h"

namespace {

enum class Kind { Bool, Int, Text };

struct Key {
  const char* name;
  Kind kind;
  const char* byDefault;  // as the operator's documentation gives it; "" + directory for the script path
  const char* inFile;     // another value, as an operator writes it in the file
};

// The keys of section "MapManager" with their documented defaults: the manager's own, then
// the five for running on a Linux machine without an operator.
const Key kKeys[] = {
    {"cbOpenInCMDLine", Kind::Bool, "1", "0"},
    {"cbDebugModule", Kind::Bool, "0", "1"},
    {"cbSingleServerMode", Kind::Bool, "0", "1"},
    {"edt_ip", Kind::Text, "127.0.0.1", "10.0.0.9"},
    {"edt_port", Kind::Int, "19001", "19555"},
    {"edtMapManagerNum", Kind::Int, "0", "3"},
    {"cbForbiddenAutoRestart", Kind::Bool, "0", "1"},
    {"edtScriptPath", Kind::Text, "MapServerData/Script/", "/srv/scripts/"},
    {"edtSSIP", Kind::Text, "127.0.0.1", "10.0.0.7"},
    {"edtSSPort", Kind::Int, "21888", "21999"},
    {"edtMutexSign", Kind::Text, "MapServerManager", "OtherSign"},
    {"AutoConnectStatusServer", Kind::Bool, "0", "1"},
    {"MetricsPort", Kind::Int, "0", "9464"},
    {"MetricsAddress", Kind::Text, "127.0.0.1", "0.0.0.0"},
    {"RestartExitedMaps", Kind::Bool, "0", "1"},
    {"RestartsPerMinute", Kind::Int, "30", "12"},
};

class ConfigDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Config = CreateConfigInterface();
    ASSERT_NE(m_Config, nullptr);
  }
  // Opens the manager's file in the test directory the way start-up does.
  void OpenAsStartup() {
    m_Config->Open(app::ConfigFilePath(m_Dir).c_str(), app::kConfigSection);
    app::RegisterConfigDefaults(*m_Config, m_Dir);
    m_Config->Apply();
  }

  // What the key reads as, by its type; a fallback no table value has, so that a key that
  // was never registered shows.
  std::string Read(const Key& key) {
    switch (key.kind) {
      case Kind::Bool: {
        const bool asTrue = m_Config->GetBool(key.name, true), asFalse = m_Config->GetBool(key.name, false);
        return asTrue != asFalse ? "<unregistered>" : asTrue ? "1" : "0";
      }
      case Kind::Int: return std::to_string(m_Config->GetInt(key.name, -424242));
      case Kind::Text: return m_Config->GetString(key.name, "<unregistered>");
    }
    return "";
  }
  std::string Default(const Key& key) {
    return std::string(key.name) == "edtScriptPath" ? m_Dir + key.byDefault : key.byDefault;
  }
  void ExpectDefaults() {
    for (const Key& key : kKeys) EXPECT_EQ(Read(key), Default(key)) << key.name;
  }

  TempDir m_Made{"vemo-config"};
  const std::string m_Dir = m_Made.Path();
  IConfig* m_Config = nullptr;
};

TEST_F(ConfigDefaultsTest, MissingEmptyOrUnreadableFileGivesExactlyTheDefaults) {
  EXPECT_EQ(app::ConfigFilePath("/opt/vemo/"), "/opt/vemo/VemoMapServerManager.ini");
  OpenAsStartup();
  ExpectDefaults();
  EXPECT_FALSE(std::filesystem::exists(app::ConfigFilePath(m_Dir)))
      << "reading the configuration must not create the file";

  std::ofstream(app::ConfigFilePath(m_Dir)) << "";
  OpenAsStartup();
  ExpectDefaults();

  const std::string garbage = "\x01\x02 not an ini file {{{\n[MapManager\n=\xff\xfe\n";
  std::ofstream(app::ConfigFilePath(m_Dir), std::ios::binary) << garbage;
  OpenAsStartup();
  ExpectDefaults();
}

TEST_F(ConfigDefaultsTest, FileValuesWinOverDefaultsAndWrittenValuesReadBack) {
  // Every key in the file, in the operator's spelling, but one: that one keeps its default.
  std::ofstream file(app::ConfigFilePath(m_Dir));
  file << "[MapManager]\n";
  for (const Key& key : kKeys)
    if (std::string(key.name) != "edtSSPort") file << key.name << "=" << key.inFile << "\n";
  file.close();
  OpenAsStartup();
  for (const Key& key : kKeys)
    EXPECT_EQ(Read(key), std::string(key.name) == "edtSSPort" ? Default(key) : key.inFile) << key.name;

  m_Config->SetBool("cbOpenInCMDLine", true);
  m_Config->SetString("edtScriptPath", "/srv/other/");
  // A later start-up reads what was written, and the file's other keys are kept.
  OpenAsStartup();
  EXPECT_TRUE(m_Config->GetBool("cbOpenInCMDLine", false));
  EXPECT_STREQ(m_Config->GetString("edtScriptPath", ""), "/srv/other/");
  EXPECT_EQ(m_Config->GetInt("edtMapManagerNum", 0), 3);
  EXPECT_EQ(m_Config->GetInt("RestartsPerMinute", 0), 12);
}

}  // namespace
