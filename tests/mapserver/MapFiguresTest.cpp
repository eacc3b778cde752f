// The simulated figures stay plausible over a long run and cover the load colours.
#include <gtest/gtest.h>

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

TEST(MapFigures, MapIdComesFromTheKeyOrAStableHash) {
  EXPECT_EQ(mapserver::MapIdOfKey("Map_1001"), 1001);
  EXPECT_EQ(mapserver::MapIdOfKey("Dungeon_Deep_7"), 7);
  EXPECT_EQ(mapserver::MapIdOfKey("odd"), mapserver::MapIdOfKey("odd"));
  EXPECT_GE(mapserver::MapIdOfKey("Map_x"), 0);
  EXPECT_GE(mapserver::MapIdOfKey("Map_99999999999999"), 0);
}
