// The configuration as the manager registers it, read and written through the real
// configuration component.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestSupport.h"
#include "app/ManagerConfig.h"
#include "components/ConfigComponent.h"
#include "interfaces/IConfig.h"

namespace {

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

  void ExpectDefaults() {
    EXPECT_TRUE(m_Config->GetBool("cbOpenInCMDLine", false));
    EXPECT_FALSE(m_Config->GetBool("cbDebugModule", true));
    EXPECT_FALSE(m_Config->GetBool("cbSingleServerMode", true));
    EXPECT_STREQ(m_Config->GetString("edt_ip", ""), "127.0.0.1");
    EXPECT_EQ(m_Config->GetInt("edt_port", 0), 19001);
    EXPECT_EQ(m_Config->GetInt("edtMapManagerNum", 7), 0);
    EXPECT_FALSE(m_Config->GetBool("cbForbiddenAutoRestart", true));
    EXPECT_EQ(std::string(m_Config->GetString("edtScriptPath", "")), m_Dir + "MapServerData/Script/");
    EXPECT_STREQ(m_Config->GetString("edtSSIP", ""), "127.0.0.1");
    EXPECT_EQ(m_Config->GetInt("edtSSPort", 0), 21888);
    EXPECT_STREQ(m_Config->GetString("edtMutexSign", ""), "MapServerManager");
  }

  TempDir m_Made{"vemo-config"};
  const std::string m_Dir = m_Made.Path();
  IConfig* m_Config = nullptr;
};

TEST_F(ConfigDefaultsTest, MissingEmptyOrUnreadableFileGivesExactlyTheDefaults) {
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
  std::ofstream(app::ConfigFilePath(m_Dir))
      << "[MapManager]\ncbDebugModule=1\nedtMapManagerNum=3\nedtMutexSign=OtherSign\n";
  OpenAsStartup();
  EXPECT_TRUE(m_Config->GetBool("cbDebugModule", false));
  EXPECT_EQ(m_Config->GetInt("edtMapManagerNum", 0), 3);
  EXPECT_STREQ(m_Config->GetString("edtMutexSign", ""), "OtherSign");
  EXPECT_EQ(m_Config->GetInt("edtSSPort", 0), 21888) << "keys absent from the file keep their default";

  m_Config->SetBool("cbOpenInCMDLine", false);
  m_Config->SetString("edtScriptPath", "/srv/scripts/");
  EXPECT_FALSE(m_Config->GetBool("cbOpenInCMDLine", true));
  EXPECT_STREQ(m_Config->GetString("edtScriptPath", ""), "/srv/scripts/");

  // A later start-up reads what was written, and the file's other keys are kept.
  OpenAsStartup();
  EXPECT_FALSE(m_Config->GetBool("cbOpenInCMDLine", true));
  EXPECT_STREQ(m_Config->GetString("edtScriptPath", ""), "/srv/scripts/");
  EXPECT_EQ(m_Config->GetInt("edtMapManagerNum", 0), 3);
}

}  // namespace
