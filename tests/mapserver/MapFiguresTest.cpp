// The simulated figures of the demonstration's map servers: plausible over a long run,
// and every load colour of the grid on a machine of maps.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "MapFigures.h"

using mapserver::MapFigures;

TEST(MapFigures, StayWithinTheirLimitsAndSpanLightToHeavyLoad) {
  for (int mapId : {1, 1001, 20345}) {
    MapFigures figures(mapId, 42);
    tagMapServerData record{};
    int32_t allocPlayers = 0;
    int32_t allocItems = 0;
    uint32_t packTotal = 0;
    int lowest = 100;
    int highest = 0;
    for (int second = 1; second <= 2 * static_cast<int>(MapFigures::kWavePeriodSeconds); ++second) {
      figures.Advance(second);
      figures.Publish(record);
      ASSERT_GE(record.PlayerCnt, 0);
      ASSERT_LE(record.PlayerCnt, record.MaxPlayerCnt);
      ASSERT_LE(record.ItemCnt, record.MaxItemCnt);
      ASSERT_GE(record.FPS, 1);
      ASSERT_GE(record.AllocPlayerCnt, record.PlayerCnt);
      ASSERT_GE(record.AllocItemCnt, record.ItemCnt);
      // Pools and the packet total never go back.
      ASSERT_GE(record.AllocPlayerCnt, allocPlayers);
      ASSERT_GE(record.AllocItemCnt, allocItems);
      ASSERT_GE(record.PackTotal, packTotal);
      allocPlayers = record.AllocPlayerCnt;
      allocItems = record.AllocItemCnt;
      packTotal = record.PackTotal;
      if (second > 120) {
        int load = record.PlayerCnt * 100 / record.MaxPlayerCnt;
        lowest = std::min(lowest, load);
        highest = std::max(highest, load);
      }
    }
    EXPECT_LT(lowest, 20) << mapId;
    EXPECT_GE(highest, 70) << mapId;
  }
}

// The grid's colour bands of a running map: load = players / capacity x 100, truncated;
// aqua below 20, yellow below 50, fuchsia below 70, red from 70.
int Band(const tagMapServerData& record) {
  if (record.MaxPlayerCnt <= 0) return 0;
  const int load = static_cast<int>(static_cast<double>(record.PlayerCnt) / record.MaxPlayerCnt * 100);
  return load < 20 ? 0 : load < 50 ? 1 : load < 70 ? 2 : 3;
}

// The demonstration's machine of 36 maps (ids 1001 to 1036) shows every load colour once
// its players have logged in, and keeps doing so, whatever noise each process draws.
TEST(MapFigures, AMachineOfMapsShowsEveryLoadColourAfterTheFirstMinute) {
  for (uint32_t seed : {1u, 4242u, 99991u}) {
    std::vector<MapFigures> maps;
    for (int mapId = 1001; mapId <= 1036; ++mapId) maps.emplace_back(mapId, seed + static_cast<uint32_t>(mapId));
    for (int second = 60; second <= 60 + static_cast<int>(MapFigures::kWavePeriodSeconds); second += 30) {
      std::set<int> bands;
      for (MapFigures& figures : maps) {
        tagMapServerData record{};
        figures.Advance(second);
        figures.Publish(record);
        bands.insert(Band(record));
      }
      EXPECT_EQ(bands.size(), 4u) << "second " << second << ", seed " << seed;
    }
  }
}

// A key "<server name>_<map id>" names its map; any other key still gets a map number of
// its own, with figures of its own.
TEST(MapFigures, MapIdComesFromTheKeyOrAStableNumberOfItsOwn) {
  EXPECT_EQ(mapserver::MapIdOfKey("Map_1001"), 1001);
  EXPECT_EQ(mapserver::MapIdOfKey("Dungeon_Deep_7"), 7);
  EXPECT_EQ(mapserver::MapIdOfKey("Map_000000042"), 42);

  const std::vector<std::string> others = {"odd", "Map_x", "Map_", "Map_99999999999999", "Map_12a"};
  std::set<int> ids;
  for (const std::string& key : others) {
    const int id = mapserver::MapIdOfKey(key);
    ids.insert(id);
    MapFigures figures(id, 42);
    tagMapServerData record{};
    figures.Advance(300);
    figures.Publish(record);
    EXPECT_GT(record.MaxPlayerCnt, 0) << key;
    EXPECT_GT(record.PlayerCnt, 0) << key;
  }
  EXPECT_EQ(ids.size(), others.size()) << "each key gets a map of its own";
}
