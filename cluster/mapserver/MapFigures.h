// The live figures of one simulated map: players against capacity, items, frame rate,
// game objects and the server's counters. They follow a slow daily-like wave with a
// phase of their own per map, so that a machine full of maps shows every load colour,
// plus a little noise from a per-map random source.
#pragma once

#include <cstdint>
#include <random>

#include "interfaces/tagMapServerData.h"

namespace mapserver {

class MapFigures {
 public:
  // `mapId` picks the map's capacity and phase; `seed` the noise.
  MapFigures(int mapId, uint32_t seed);

  // Advances to `runningSeconds` seconds after the map started running (0 before):
  // players log in over the first minute, then follow the wave.
  void Advance(double runningSeconds);
  // The load wave's period.
  static constexpr double kWavePeriodSeconds = 900.0;

  // Loading scripts and XML files during start-up and on a script reload.
  void AddXmlLoads(uint32_t count) { xmlLoadCnt_ += count; }
  uint32_t XmlLoadTarget() const { return xmlLoadTarget_; }
  void SetStreamSaveCostTime(float milliseconds) { streamSaveCostTime_ = milliseconds; }

  // Writes every figure into the record's map-server fields.
  void Publish(tagMapServerData& record) const;

  int32_t PlayerCnt() const { return playerCnt_; }
  int32_t MaxPlayerCnt() const { return maxPlayerCnt_; }
  int32_t ItemCnt() const { return itemCnt_; }
  int32_t MaxItemCnt() const { return maxItemCnt_; }
  int32_t FPS() const { return fps_; }
  uint32_t PackTotal() const { return packTotal_; }

  // A random draw in [0, 1) from the map's own source, for the simulated log events.
  double Chance() { return uniform_(random_); }

 private:
  int mapId_;
  double phase_;
  std::mt19937 random_;
  std::uniform_real_distribution<double> uniform_{0.0, 1.0};

  int32_t gameObjCnt_ = 0;
  int32_t playerCnt_ = 0;
  int32_t maxPlayerCnt_ = 0;
  int32_t fps_ = 0;
  int32_t itemCnt_ = 0;
  int32_t maxItemCnt_ = 0;
  uint32_t xmlLoadCnt_ = 0;
  uint32_t xmlLoadTarget_ = 0;
  uint32_t packTotal_ = 0;
  int32_t fbCnt_ = 0;
  int32_t allocPlayerCnt_ = 0;
  int32_t allocItemCnt_ = 0;
  float streamSaveCostTime_ = 0.0f;
  int32_t npcCnt_ = 0;
};

// The map id of a key "<server name>_<map id>"; a key without a numeric tail gives a
// stable number made from its text, so every key still gets figures of its own.
int MapIdOfKey(const std::string& key);

}  // namespace mapserver
