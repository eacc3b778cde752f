// The map list file of the game data component: its format, and lines that break it.
#include <gtest/gtest.h>

#include <string>

#include "CMapFileLoader.h"
#include "TextFields.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace {

using gamedata::CMapFileLoader;

TEST(MapFileLoaderTest, ReadsMapsWithCommentsQuotesTabsAndGbkNames) {
  RecordingLog log;
  TempDir dir;
  // A byte order mark, CR LF line ends, a comment line, a blank line, a trailing comment,
  // a quoted name with a blank and a GBK name ("新手村" in code page 936).
  std::string text =
      "\xEF\xBB\xBF# MapID ServerName MapName SortKey LineID MaxPlayer MapType FBLimit MapManagerNum\r\n"
      "\r\n"
      "1\tMap\t\"Green Hills\"\t3\t1\t500\t0\t2\t1   # first map\r\n"
      "  2  Map.FB-2  \xD0\xC2\xCA\xD6\xB4\xE5  1 2 300 1 -4 2\n"
      "3 Map \"\" +7 1 0 0 0 0";
  std::string path = dir.Write("MapID.txt", text);

  CMapFileLoader loader;
  ASSERT_TRUE(loader.LoadMapFile(path.c_str(), 0));
  EXPECT_STREQ(loader.GetMapFilePath(), path.c_str());
  EXPECT_EQ(loader.GetErrorCount(), 0);
  ASSERT_EQ(loader.GetMapCount(), 3);

  const tagMapItem* first = loader.GetMapItem(0);
  EXPECT_STREQ(first->ServerName, "Map");
  EXPECT_EQ(first->MapID, 1);
  EXPECT_STREQ(first->MapName, "Green Hills");
  EXPECT_EQ(first->SortKey, 3);
  EXPECT_EQ(first->LineID, 1);
  EXPECT_EQ(first->MaxPlayer, 500);
  EXPECT_EQ(first->MapType, 0);
  EXPECT_EQ(first->FBLimit, 2);
  EXPECT_EQ(first->MapManagerNum, 1);

  const tagMapItem* second = loader.GetMapItem(1);
  EXPECT_STREQ(second->ServerName, "Map.FB-2");
  EXPECT_STREQ(second->MapName, "\xD0\xC2\xCA\xD6\xB4\xE5");
  EXPECT_EQ(second->FBLimit, -4);
  EXPECT_EQ(second->MapManagerNum, 2);

  EXPECT_STREQ(loader.GetMapItem(2)->MapName, "");
  EXPECT_EQ(loader.GetMapItem(2)->SortKey, 7);
  EXPECT_EQ(loader.GetMapItem(-1), nullptr);
  EXPECT_EQ(loader.GetMapItem(3), nullptr);
  EXPECT_EQ(loader.FindMapItem(2), second);
  EXPECT_EQ(loader.FindMapItem(4), nullptr);
  EXPECT_TRUE(log.Contains("CMapFileLoader::LoadMapFile " + path + ": 3 maps loaded, 0 lines skipped"));
  EXPECT_TRUE(log.Texts(llDebug).empty());
}

TEST(MapFileLoaderTest, MalformedLinesAreSkippedWithTheirReason) {
  RecordingLog log;
  TempDir dir;
  struct Case {
    std::string line;
    std::string reason;
  };
  const Case cases[] = {
      {"7 Map Seven 1 1 500 0 0", "expected 9 fields, found 8"},
      {"7 Map Seven 1 1 500 0 0 1 extra", "expected 9 fields, found 10"},
      {"x7 Map Seven 1 1 500 0 0 1", "MapID is not a 32-bit integer: \"x7\""},
      {"7 Map Seven 1 1 500 0 0 2147483648", "MapManagerNum is not a 32-bit integer: \"2147483648\""},
      {"7 Map Seven 1.5 1 500 0 0 1", "SortKey is not a 32-bit integer: \"1.5\""},
      {"0 Map Zero 1 1 500 0 0 1", "MapID 0 is not positive"},
      {"-3 Map Minus 1 1 500 0 0 1", "MapID -3 is not positive"},
      {"7 Map/x Seven 1 1 500 0 0 1", "ServerName \"Map/x\" may hold only letters, digits, '_', '-' and '.'"},
      {"7 \"Two Words\" Seven 1 1 500 0 0 1",
       "ServerName \"Two Words\" may hold only letters, digits, '_', '-' and '.'"},
      {"7 Map \"Seven 1 1 500 0 0 1", "unterminated quote"},
      {"7 Map \"Se\"ven 1 1 500 0 0 1", "text after a closing quote"},
      {std::string("7 Map Se\0en 1 1 500 0 0 1", 25), "the line holds a zero byte"},
  };
  std::string text = "1 Map Good 1 1 500 0 0 1\n";
  for (const auto& c : cases) text += c.line + "\n";
  text += "2 Map AlsoGood 1 1 500 0 0 1\n";
  std::string path = dir.Write("MapID.txt", text);

  CMapFileLoader loader;
  ASSERT_TRUE(loader.LoadMapFile(path.c_str(), 0));
  ASSERT_EQ(loader.GetMapCount(), 2);
  EXPECT_EQ(loader.GetMapItem(0)->MapID, 1);
  EXPECT_EQ(loader.GetMapItem(1)->MapID, 2);
  EXPECT_EQ(loader.GetErrorCount(), static_cast<int>(std::size(cases)));

  std::vector<std::string> warnings = log.Texts(llWarn);
  ASSERT_EQ(warnings.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(warnings[i], "CMapFileLoader::LoadMapFile " + path + "(" + std::to_string(i + 2) +
                               "): " + cases[i].reason + ", line skipped");
  EXPECT_EQ(loader.GetLastErrorText(), warnings.back());
}

TEST(MapFileLoaderTest, UnreadableFileGivesNoMaps) {
  RecordingLog log;
  TempDir dir;
  CMapFileLoader loader;
  std::string good = dir.Write("MapID.txt", "1 Map Good 1 1 500 0 0 1\n");
  ASSERT_TRUE(loader.LoadMapFile(good.c_str(), 0));
  ASSERT_EQ(loader.GetMapCount(), 1);

  std::string missing = dir.Path() + "Missing.txt";
  EXPECT_FALSE(loader.LoadMapFile(missing.c_str(), 0));
  EXPECT_EQ(loader.GetMapCount(), 0);
  EXPECT_EQ(loader.GetErrorCount(), 1);
  EXPECT_TRUE(log.Contains("CMapFileLoader::LoadMapFile can't read " + missing + ": No such file or directory"));

  EXPECT_FALSE(loader.LoadMapFile(dir.Path().c_str(), 0));
  EXPECT_TRUE(log.Contains("CMapFileLoader::LoadMapFile can't read " + dir.Path() + ": is a directory"));
  EXPECT_FALSE(loader.LoadMapFile(nullptr, 0));
  EXPECT_FALSE(loader.LoadMapFile("", 0));
  EXPECT_EQ(log.Texts(llError).size(), 4u);

  // An empty file is a valid list of no maps.
  std::string empty = dir.Write("Empty.txt", "");
  EXPECT_TRUE(loader.LoadMapFile(empty.c_str(), 0));
  EXPECT_EQ(loader.GetMapCount(), 0);
}

TEST(MapFileLoaderTest, ReloadReplacesTheItemsAndDebugLoadWritesEachMap) {
  RecordingLog log;
  TempDir dir;
  std::string first = dir.Write("A.txt", "1 Alpha A 1 1 500 0 0 1\n2 Alpha B 1 1 500 0 0 1\n");
  std::string second = dir.Write("B.txt", "5 Beta E 1 1 500 0 0 3\n");
  CMapFileLoader loader;
  ASSERT_TRUE(loader.LoadMapFile(first.c_str(), 0));
  EXPECT_FALSE(loader.IsDebugLoad());
  ASSERT_TRUE(loader.LoadMapFile(second.c_str(), 1));
  EXPECT_TRUE(loader.IsDebugLoad());
  ASSERT_EQ(loader.GetMapCount(), 1);
  EXPECT_STREQ(loader.GetMapItem(0)->ServerName, "Beta");
  EXPECT_EQ(loader.FindMapItem(1), nullptr);
  EXPECT_EQ(log.Texts(llDebug),
            std::vector<std::string>{"CMapFileLoader::LoadMapFile MapID = 5, ServerName = Beta, MapName = E, "
                                     "MapManagerNum = 3"});
  loader.Clear();
  EXPECT_EQ(loader.GetMapCount(), 0);
  EXPECT_STREQ(loader.GetMapFilePath(), "");
}

TEST(MapFileLoaderTest, ItemTextsStayPutForManyMaps) {
  RecordingLog log;
  TempDir dir;
  std::string text;
  for (int id = 1; id <= 2000; ++id)
    text += std::to_string(id) + " S" + std::to_string(id) + " N" + std::to_string(id) + " 0 1 500 0 0 1\n";
  std::string path = dir.Write("MapID.txt", text);
  CMapFileLoader loader;
  ASSERT_TRUE(loader.LoadMapFile(path.c_str(), 0));
  ASSERT_EQ(loader.GetMapCount(), 2000);
  for (int i = 0; i < 2000; i += 199) {
    EXPECT_EQ(loader.GetMapItem(i)->ServerName, "S" + std::to_string(i + 1));
    EXPECT_EQ(loader.GetMapItem(i)->MapName, "N" + std::to_string(i + 1));
  }
}

}  // namespace
