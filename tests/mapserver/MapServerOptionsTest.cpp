// The two command-line formats the manager writes, and the misbehaviour switches.
#include <gtest/gtest.h>

#include "MapServerOptions.h"

using mapserver::FaultKind;
using mapserver::FaultSpec;
using mapserver::MapServerOptions;
using mapserver::ParseFaultList;
using mapserver::ParseMapServerArgs;

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

TEST(MapServerOptions, ReadsBothFormatsAndScriptPathsWithBlanksOrNone) {
  MapServerOptions options;
  std::string error;
  ASSERT_TRUE(ParseMapServerArgs(Words("Map_1001 12 1 D:\\Scripts\\ MapManager"), options, error)) << error;
  EXPECT_FALSE(options.AllMode);
  EXPECT_EQ(options.Keys, std::vector<std::string>{"Map_1001"});
  EXPECT_EQ(options.ServerVersion, 12);
  EXPECT_TRUE(options.Debug);
  EXPECT_EQ(options.ScriptPath, "D:\\Scripts\\");

  // A script path with blanks arrives as several words; an empty one leaves none.
  ASSERT_TRUE(ParseMapServerArgs(Words("Map_1 0 0 /srv/game scripts/ MapManager"), options, error)) << error;
  EXPECT_EQ(options.ScriptPath, "/srv/game scripts/");
  ASSERT_TRUE(ParseMapServerArgs(Words("Map_1 0 0  MapManager"), options, error)) << error;
  EXPECT_EQ(options.ScriptPath, "");

  // ALL mode, written with a blank after every map; a map listed twice is served once.
  ASSERT_TRUE(
      ParseMapServerArgs(Words("ALL 3 0 /s MapManager 2 Map_1 Map_2 Map_1 --fault=Map_2:hang@5 "), options, error))
      << error;
  EXPECT_TRUE(options.AllMode);
  EXPECT_EQ(options.MapManagerNum, 2);
  EXPECT_EQ(options.Keys, (std::vector<std::string>{"Map_1", "Map_2"}));
  EXPECT_EQ(options.DuplicateKeys, std::vector<std::string>{"Map_1"});
  ASSERT_EQ(options.Faults.size(), 1u);
  EXPECT_EQ(options.Faults[0].Key, "Map_2");
  EXPECT_EQ(options.Faults[0].Kind, FaultKind::Hang);
  EXPECT_EQ(options.Faults[0].DelaySeconds, 5);
}

TEST(MapServerOptions, RejectsMalformedLinesWithAReason) {
  const char* cases[] = {
      "",                                       // nothing
      "Map_1 1 0 /s",                           // no MapManager
      "Map_1 1 MapManager",                     // too short
      "Map_1 v1 0 /s MapManager",               // version not a number
      "Map_1 1 yes /s MapManager",              // debug not 0 or 1
      "Map_1 1 0 /s MapManager Map_2",          // extra word for one map
      "ALL 1 0 /s MapManager",                  // no map manager number
      "ALL 1 0 /s MapManager 2",                // no maps
      "ALL 1 0 /s MapManager 2x Map_1",         // bad map manager number
      "--fault=a:crash 1 0 /s MapManager",      // an option where the key belongs
      "Map_1 1 0 /s MapManager --fault=Map_1",  // fault without kind
      "Map_1 1 0 /s MapManager --fault=Map_1:hang@-1",
      "Map_1 1 0 /s MapManager --unknown",
  };
  for (const char* line : cases) {
    MapServerOptions options;
    std::string error;
    EXPECT_FALSE(ParseMapServerArgs(Words(line), options, error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(MapServerOptions, FaultListKeepsGoodEntriesAndReportsBadOnes) {
  std::vector<FaultSpec> specs;
  std::vector<std::string> errors;
  ParseFaultList("Map_1001:crash, Map_1002:HANG@0,,*:state5,Map_9:fly,nokind", specs, errors);
  ASSERT_EQ(specs.size(), 3u);
  EXPECT_EQ(specs[0].Kind, FaultKind::Crash);
  EXPECT_EQ(specs[0].DelaySeconds, mapserver::kDefaultFaultDelaySeconds);
  EXPECT_EQ(specs[1].Key, "Map_1002");
  EXPECT_EQ(specs[1].Kind, FaultKind::Hang);
  EXPECT_EQ(specs[1].DelaySeconds, 0);
  EXPECT_EQ(specs[2].Key, "*");
  EXPECT_EQ(specs[2].Kind, FaultKind::State5);
  EXPECT_EQ(errors.size(), 2u);
}
