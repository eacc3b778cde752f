// The configuration component, loaded for real, with the manager's keys and defaults.
#include <gtest/gtest.h>

#include "ComponentTestSupport.h"
#include "components/ConfigComponent.h"
#include "platform/library.h"

namespace {

using component_test::ReadFile;
using component_test::ScratchDir;
using component_test::WriteFile;

class ConfigComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.Path().empty());
    component_test::PreloadComponents();
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

  static void ExpectDefaults(IConfig* config) {
    EXPECT_TRUE(config->GetBool("cbOpenInCMDLine", false));
    EXPECT_FALSE(config->GetBool("cbDebugModule", false));
    EXPECT_FALSE(config->GetBool("cbSingleServerMode", false));
    EXPECT_STREQ(config->GetString("edt_ip", ""), "127.0.0.1");
    EXPECT_EQ(config->GetInt("edt_port", 0), 19001);
    EXPECT_EQ(config->GetInt("edtMapManagerNum", 0), 0);
    EXPECT_FALSE(config->GetBool("cbForbiddenAutoRestart", false));
    EXPECT_STREQ(config->GetString("edtScriptPath", ""), "/opt/vemo/MapServerData/Script/");
    EXPECT_STREQ(config->GetString("edtSSIP", ""), "127.0.0.1");
    EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
    EXPECT_STREQ(config->GetString("edtMutexSign", ""), "MapServerManager");
  }

  ScratchDir dir;
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
  EXPECT_EQ(ReadFile(path),
            "[MapManager]\ncbDebugModule=1\ncbOpenInCMDLine=0\nedtScriptPath=/srv/scripts/\xD6\xD0/\n");

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
  EXPECT_EQ(config->GetInt("edtMapManagerNum", 0), 0);  // not a number: the default
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

TEST_F(ConfigComponentTest, UnparseableFileIsReportedReadAsDefaultsAndNeverOverwritten) {
  const std::string broken = "[MapManager]\ncbDebugModule=1\nedt_port 5\n[Other]\nkey=value\n";
  WriteFile(path, broken);
  ::testing::internal::CaptureStderr();
  IConfig* config = Started();
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("line 3"), std::string::npos) << report;
  ExpectDefaults(config);

  ::testing::internal::CaptureStderr();
  config->SetBool("cbDebugModule", true);
  report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("left alone"), std::string::npos) << report;
  EXPECT_EQ(ReadFile(path), broken);
  EXPECT_TRUE(config->GetBool("cbDebugModule", false));  // kept for this run

  // Binary garbage is no INI either.
  const char garbage[] = "[MapManager]\nedt_port=1\0\x01\x02";
  WriteFile(path, std::string(garbage, sizeof garbage - 1));
  ::testing::internal::CaptureStderr();
  ExpectDefaults(Started());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("line 2"), std::string::npos);
}

TEST_F(ConfigComponentTest, UnreadableFileIsReportedAndReadAsDefaults) {
  std::filesystem::create_directory(path);  // a directory where the file should be
  ::testing::internal::CaptureStderr();
  IConfig* config = Started();
  config->SetString("edt_ip", "10.0.0.1");
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("cannot read"), std::string::npos) << report;
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ConfigComponentTest, ValuesThatCannotBeStoredAreRefused) {
  IConfig* config = Started();
  ::testing::internal::CaptureStderr();
  config->SetString("edtSSIP", "1.2.3.4\n[Evil]");
  config->SetString("bad=key", "x");
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("spans lines"), std::string::npos) << report;
  EXPECT_NE(report.find("cannot be a key"), std::string::npos) << report;
  EXPECT_STREQ(config->GetString("edtSSIP", ""), "127.0.0.1");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ConfigComponentTest, ManagerLoaderCreatesOnce) {
  IConfig* config = CreateConfigInterface();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(CreateConfigInterface(), config);
  config->Open(path.c_str(), "MapManager");
  config->DefaultInt("edtSSPort", 21888);
  config->Apply();
  EXPECT_EQ(config->GetInt("edtSSPort", 0), 21888);
}

}  // namespace
