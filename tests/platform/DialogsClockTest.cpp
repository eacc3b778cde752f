#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"

using namespace platform;

namespace {

struct UnattendedEnv {
  explicit UnattendedEnv(const char* value) {
    if (value != nullptr)
      setenv("VEMO_UNATTENDED", value, 1);
    else
      unsetenv("VEMO_UNATTENDED");
  }
  ~UnattendedEnv() { unsetenv("VEMO_UNATTENDED"); }
};

}  // namespace

TEST(DialogsTest, ScriptedDialogsRecordAndAnswerFromTheirQueues) {
  ScriptedDialogs scripted;
  scripted.answers = {true};
  scripted.values = {"typed", "/srv/maps"};
  EXPECT_TRUE(scripted.Ask("Close?", "CloseAsk"));
  EXPECT_FALSE(scripted.Ask("Kill?", "KillAsk"));  // queue empty: Cancel
  std::string value = "start";
  EXPECT_TRUE(scripted.InputBox("Caption", "Prompt", value));
  EXPECT_EQ(value, "typed");
  std::string path = "/";
  EXPECT_TRUE(scripted.BrowseForFolder("Pick", path));
  EXPECT_EQ(path, "/srv/maps");
  EXPECT_FALSE(scripted.InputBox("Caption", "Again", value));
  EXPECT_EQ(value, "typed");
  scripted.Message("hello");
  scripted.ErrorBox("bad", "Error report");
  ASSERT_EQ(scripted.records.size(), 7u);
  EXPECT_EQ(scripted.records[0].kind, "Ask");
  EXPECT_EQ(scripted.records[0].text, "Close?");
  EXPECT_EQ(scripted.records[0].caption, "CloseAsk");
  EXPECT_EQ(scripted.records[2].kind, "InputBox");
  EXPECT_EQ(scripted.records[2].text, "Prompt");
  EXPECT_EQ(scripted.records[5].caption, "");
  EXPECT_EQ(scripted.records[6].caption, "Error report");
}

TEST(DialogsTest, CurrentDialogsChoice) {
  UnattendedEnv none(nullptr);
  ScriptedDialogs scripted;
  scripted.answers = {true};
  SetDialogs(&scripted);
  EXPECT_TRUE(CurrentDialogs().Ask("Start?", "Start Ask"));
  EXPECT_EQ(scripted.records.size(), 1u);
  SetDialogs(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(CurrentDialogs().Ask("Start?", "Start Ask"));  // the console answers Cancel
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Start?"), std::string::npos);
}

TEST(DialogsTest, UnattendedAnswersEveryDialogEvenOverSetDialogs) {
  ScriptedDialogs scripted;
  SetDialogs(&scripted);
  {
    UnattendedEnv ok("ok");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(CurrentDialogs().Ask("Kill the map server?", "KillAsk"));
    std::string value = "kept";
    EXPECT_TRUE(CurrentDialogs().InputBox("Script", "Command", value));
    EXPECT_EQ(value, "kept");
    std::string path = "/start";
    EXPECT_TRUE(CurrentDialogs().BrowseForFolder("Folder", path));
    EXPECT_EQ(path, "/start");
    CurrentDialogs().ErrorBox("It broke", "Error report");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("KillAsk"), std::string::npos);
    EXPECT_NE(err.find("Kill the map server?"), std::string::npos);
    EXPECT_NE(err.find("Error report"), std::string::npos);
    EXPECT_NE(err.find("It broke"), std::string::npos);
  }
  {
    UnattendedEnv cancel("cancel");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CurrentDialogs().Ask("Close?", "CloseAsk"));
    std::string value = "kept";
    EXPECT_FALSE(CurrentDialogs().InputBox("Script", "Command", value));
    EXPECT_EQ(value, "kept");
    testing::internal::GetCapturedStderr();
  }
  {
    UnattendedEnv other("yes");  // anything else leaves the choice to SetDialogs
    EXPECT_FALSE(CurrentDialogs().Ask("Close?", "CloseAsk"));
  }
  EXPECT_EQ(scripted.records.size(), 1u);
  SetDialogs(nullptr);
}

namespace {
class FakeClock : public Clock {
 public:
  uint32_t TickCount() override { return 0xFFFFFFF0u; }
  uint64_t MillisecondsSinceBoot() override { return 123456; }
  std::time_t Now() override { return 86400 * 3 / 2; }  // 1970-01-02 12:00 UTC
};

std::vector<std::string> g_debugLines;
void Collect(const std::string& line) { g_debugLines.push_back(line); }
}  // namespace

TEST(ClockTest, ReplaceableClockAndDateTime) {
  const uint32_t before = GetTickCount();
  const uint32_t later = TimeGetTime();
  EXPECT_LT(static_cast<uint32_t>(later - before), 10000u);
  EXPECT_GT(GetMillisecondsSinceBoot(), 0u);

  FakeClock fake;
  SetClockForTesting(&fake);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  EXPECT_EQ(GetMillisecondsSinceBoot(), 123456u);
  const char* savedTz = std::getenv("TZ");
  std::string saved = savedTz != nullptr ? savedTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_DOUBLE_EQ(NowAsDateTime(), 25570.5);
  EXPECT_DOUBLE_EQ(TimeToDateTime(0), 25569.0);
  EXPECT_DOUBLE_EQ(TimeToDateTime(951782400), 36585.0);     // 2000-02-29, a leap day
  EXPECT_DOUBLE_EQ(TimeToDateTime(-86400 * 25569LL), 0.0);  // 1899-12-30 itself
  setenv("TZ", "UTC-8", 1);                                 // eight hours east: local time is later
  tzset();
  EXPECT_DOUBLE_EQ(TimeToDateTime(0), 25569.0 + 8.0 / 24.0);
  if (savedTz != nullptr)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  SetClockForTesting(nullptr);
  EXPECT_NE(GetTickCount(), 0xFFFFFFF0u);
}

TEST(DebugOutputTest, SinkCollectsLinesAndStderrGetsThemOtherwise) {
  SetDebugSinkForTesting(Collect);
  OutputDebugString("first");
  SetDebugSinkForTesting(nullptr);
  EXPECT_EQ(g_debugLines, std::vector<std::string>{"first"});
  testing::internal::CaptureStderr();
  OutputDebugString("second");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "second\n");
}
