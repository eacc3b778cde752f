// The configuration component, loaded for real, with the manager's keys and defaults.
#include <gtest/gtest.h>

#include "ComponentTestSupport.h"
#include "components/ConfigComponent.h"
#include "platform/library.h"
#include "support/RecordingLog.h"

namespace {

class ConfigComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.Path().empty());
    component_test::PreloadComponents();
    // Loaded through the manager's loader first, which hands the component the way to the
    // manager's log (here the recording one).
    ASSERT_NE(CreateConfigInterface(), nullptr);
    void* library = platform::LoadLibrary("Brenox.dll");
    ASSERT_NE(library, nullptr) << platform::LastLibraryError();
    create = reinterpret_cast<CreateConfigFunc>(platform::GetProcAddress(library, "CreateConfig"));
    free = reinterpret_cast<FreeConfigFunc>(platform::GetProcAddress(library, "FreeConfig"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(free, nullptr);
    path = dir / "VemoMapServerManager.ini";
  }
  void TearDown() override {
    for (IConfig* config : made) free(config);
  }

  // A configuration opened on the file with the manager's defaults registered and applied.
  IConfig* Started() {
    IConfig* config = create();
    made.push_back(config);
    config->Open(path.c_str(), "MapManager");
    config->DefaultBool("cbOpenInCMDLine", true);
    config->DefaultBool("cbDebugModule", false);
    config->DefaultBool("cbSingleServerMode", false);
    config->DefaultString("edt_ip", "127.0.0.1");
    config->DefaultInt("edt_port", 19001);
    config->DefaultInt("edtMapManagerNum", 0);
    config->DefaultBool("cbForbiddenAutoRestart", false);
    config->DefaultString("edtScriptPath", "/opt/vemo/MapServerData/Script/");
    config->DefaultString("edtSSIP", "127.0.0.1");
    config->DefaultInt("edtSSPort", 21888);
    config->DefaultString("edtMutexSign", "MapServerManager");
    config->Apply();
    return config;
  }

  // Each read passes a fallback other than the expected value, so a lost default shows.
  static void ExpectDefaults(IConfig* config) {
    EXPECT_TRUE(config->GetBool("cbOpenInCMDLine", false));
    EXPECT_FALSE(config->GetBool("cbDebugModule", true));
    EXPECT_FALSE(config->GetBool("cbSingleServerMode", true));
    EXPECT_STREQ(config->GetString("edt_ip", ""), "127.0.0.1");
    EXPECT_EQ(config->GetInt("edt_port", 0), 19001);
    EXPECT_EQ(config->GetInt("edtMapManagerNum", 7), 0);
    EXPECT_FALSE(config->GetBool("cbForbiddenAutoRestart", true));
    EXPECT_STREQ(config->GetString("edtScriptPath", ""), "/opt/vemo/MapServerData/Script/");
    EXPECT_STREQ(config->GetString("edtSSIP", ""), "127.0.0.1");
    EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
    EXPECT_STREQ(config->GetString("edtMutexSign", ""), "MapServerManager");
  }

  std::vector<std::string> Warnings() const { return log.Texts(llWarn); }

  RecordingLog log;
  TempDir dir{"vemo-components"};
  std::string path;
  CreateConfigFunc create = nullptr;
  FreeConfigFunc free = nullptr;
  std::vector<IConfig*> made;
};

TEST_F(ConfigComponentTest, MissingOrEmptyFileYieldsExactlyTheDefaults) {
  ExpectDefaults(Started());
  EXPECT_FALSE(std::filesystem::exists(path));  // reading never creates the file
  WriteFile(path, "");
  ExpectDefaults(Started());
  WriteFile(path, "[MapManager]\n");
  ExpectDefaults(Started());
  // An unregistered key falls back to the caller's default.
  EXPECT_EQ(Started()->GetInt("noSuchKey", 7), 7);
}

TEST_F(ConfigComponentTest, WrittenValuesReadBackAndSurviveApply) {
  IConfig* config = Started();
  config->SetBool("cbDebugModule", true);
  config->SetBool("cbOpenInCMDLine", false);
  config->SetString("edtScriptPath", "/srv/scripts/\xD6\xD0/");
  EXPECT_TRUE(config->GetBool("cbDebugModule", false));
  EXPECT_FALSE(config->GetBool("cbOpenInCMDLine", true));
  EXPECT_STREQ(config->GetString("edtScriptPath", ""), "/srv/scripts/\xD6\xD0/");

  config->Apply();
  EXPECT_TRUE(config->GetBool("cbDebugModule", false));
  IConfig* again = Started();
  EXPECT_TRUE(again->GetBool("cbDebugModule", false));
  EXPECT_FALSE(again->GetBool("cbOpenInCMDLine", true));
  EXPECT_STREQ(again->GetString("edtScriptPath", ""), "/srv/scripts/\xD6\xD0/");
  EXPECT_EQ(again->GetInt("edtSSPort", 0), 21888);
  EXPECT_EQ(ReadFile(path), "[MapManager]\ncbDebugModule=1\ncbOpenInCMDLine=0\nedtScriptPath=/srv/scripts/\xD6\xD0/\n");

  // The unused positions work too.
  again->SetInt("edtMapManagerNum", 3);
  again->SetFloat("ratio", 0.25);
  IConfig* third = Started();
  EXPECT_EQ(third->GetInt("edtMapManagerNum", 0), 3);
  EXPECT_EQ(third->GetFloat("ratio", 0), 0.25);
}

TEST_F(ConfigComponentTest, HandEditedFileIsHonouredAndKeptOnWrite) {
  const std::string handWritten =
      "; written by the operator\r\n"
      "[Other]\r\n"
      "edt_port=1\r\n"
      "\r\n"
      "[mapmanager]\r\n"
      "# ports\r\n"
      "EDT_PORT = 20001\r\n"
      "cbOpenInCMDLine = no\r\n"
      "cbSingleServerMode=yes\r\n"
      "edtMapManagerNum=abc\r\n"
      "edtMutexSign=  \r\n"
      "\r\n"
      "[Tail]\r\n"
      "x=y\r\n";
  WriteFile(path, handWritten);
  IConfig* config = Started();
  EXPECT_EQ(config->GetInt("edt_port", 0), 20001);
  EXPECT_FALSE(config->GetBool("cbOpenInCMDLine", true));
  EXPECT_TRUE(config->GetBool("cbSingleServerMode", false));
  EXPECT_EQ(config->GetInt("edtMapManagerNum", 7), 0);  // not a number: the registered default
  EXPECT_STREQ(config->GetString("edtMutexSign", "x"), "");
  EXPECT_STREQ(config->GetString("edtSSIP", ""), "127.0.0.1");

  // A value changed by hand after Apply survives a later write of another key.
  std::string edited = handWritten;
  edited.replace(edited.find("20001"), 5, "20002");
  WriteFile(path, edited);
  config->SetBool("cbOpenInCMDLine", true);
  config->SetString("edtScriptPath", "/new/");
  std::string expected = edited;
  expected.replace(expected.find("cbOpenInCMDLine = no"), 20, "cbOpenInCMDLine = 1");
  expected.insert(expected.find("\r\n\r\n[Tail]") + 2, "edtScriptPath=/new/\r\n");
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(ConfigComponentTest, LineThatIsNoIniIsSkippedReportedOnceInTheLogAndKeptOnWrite) {
  const std::string broken =
      "[MapManager]\r\ncbDebugModule=1\r\nedt_port 5\r\nedtSSPort=3000\r\n[Other]\r\nedtSSPort=1\r\n";
  WriteFile(path, broken);
  IConfig* config = Started();
  // Only the broken line is lost: the keys before and after it are in force.
  EXPECT_TRUE(config->GetBool("cbDebugModule", false));
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 3000);
  EXPECT_EQ(config->GetInt("edt_port", 0), 19001);
  EXPECT_STREQ(config->GetString("edtMutexSign", ""), "MapServerManager");
  ASSERT_EQ(Warnings().size(), 1u);
  EXPECT_NE(Warnings()[0].find("line 3"), std::string::npos) << Warnings()[0];
  EXPECT_NE(Warnings()[0].find(path), std::string::npos) << Warnings()[0];

  // Applying the same file again says nothing new.
  config->Apply();
  EXPECT_EQ(Warnings().size(), 1u);

  // A write changes its own line only; the broken line stays as the operator wrote it.
  config->SetBool("cbDebugModule", false);
  std::string expected = broken;
  expected.replace(expected.find("cbDebugModule=1"), 15, "cbDebugModule=0");
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_FALSE(config->GetBool("cbDebugModule", true));
  EXPECT_EQ(Warnings().size(), 1u);

  // A NUL byte makes its line unreadable, not the file.
  const char garbage[] = "[MapManager]\nedt_port=1\0\x01\x02\nedtSSPort=7\n";
  WriteFile(path, std::string(garbage, sizeof garbage - 1));
  config = Started();
  EXPECT_EQ(config->GetInt("edt_port", 0), 19001);
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 7);
  ASSERT_EQ(Warnings().size(), 2u);
  EXPECT_NE(Warnings()[1].find("line 2"), std::string::npos) << Warnings()[1];
}

TEST_F(ConfigComponentTest, UnreadableFileIsReportedAndReadAsDefaults) {
  std::filesystem::create_directory(path);  // a directory where the file should be
  IConfig* config = Started();
  config->SetString("edt_ip", "10.0.0.1");
  ASSERT_EQ(Warnings().size(), 2u);
  EXPECT_NE(Warnings()[0].find("cannot read"), std::string::npos) << Warnings()[0];
  EXPECT_NE(Warnings()[1].find("kept for this run only"), std::string::npos) << Warnings()[1];
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ConfigComponentTest, ValuesThatCannotBeStoredAreRefused) {
  IConfig* config = Started();
  config->SetString("edtSSIP", "1.2.3.4\n[Evil]");
  config->SetString("bad=key", "x");
  ASSERT_EQ(Warnings().size(), 2u);
  EXPECT_NE(Warnings()[0].find("spans lines"), std::string::npos) << Warnings()[0];
  EXPECT_NE(Warnings()[1].find("cannot be a key"), std::string::npos) << Warnings()[1];
  EXPECT_STREQ(config->GetString("edtSSIP", ""), "127.0.0.1");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ConfigComponentTest, ManagerLoaderCreatesOnceAndItsConfigurationWritesToTheManagersLog) {
  IConfig* config = CreateConfigInterface();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(CreateConfigInterface(), config);
  WriteFile(path, "[MapManager]\nnot a key\n");
  config->Open(path.c_str(), "MapManager");
  config->DefaultInt("edtSSPort", 21888);
  config->Apply();
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
  ASSERT_EQ(Warnings().size(), 1u);
  EXPECT_EQ(Warnings()[0].rfind("Brenox: ", 0), 0u) << Warnings()[0];
}

}  // namespace
