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
  void AddXmlLoads(uint32_t count) { m_XmlLoadCnt += count; }
  uint32_t XmlLoadTarget() const { return m_XmlLoadTarget; }
  void SetStreamSaveCostTime(float milliseconds) { m_StreamSaveCostTime = milliseconds; }

  // Writes every figure into the record's map-server fields.
  void Publish(tagMapServerData& record) const;

  int32_t PlayerCnt() const { return m_PlayerCnt; }
  int32_t MaxPlayerCnt() const { return m_MaxPlayerCnt; }
  int32_t ItemCnt() const { return m_ItemCnt; }
  int32_t MaxItemCnt() const { return m_MaxItemCnt; }
  int32_t FPS() const { return m_Fps; }
  uint32_t PackTotal() const { return m_PackTotal; }

  // A random draw in [0, 1) from the map's own source, for the simulated log events.
  double Chance() { return m_Uniform(m_Random); }

 private:
  int m_MapId;
  double m_Phase;
  std::mt19937 m_Random;
  std::uniform_real_distribution<double> m_Uniform{0.0, 1.0};

  int32_t m_GameObjCnt = 0;
  int32_t m_PlayerCnt = 0;
  int32_t m_MaxPlayerCnt = 0;
  int32_t m_Fps = 0;
  int32_t m_ItemCnt = 0;
  int32_t m_MaxItemCnt = 0;
  uint32_t m_XmlLoadCnt = 0;
  uint32_t m_XmlLoadTarget = 0;
  uint32_t m_PackTotal = 0;
  int32_t m_FbCnt = 0;
  int32_t m_AllocPlayerCnt = 0;
  int32_t m_AllocItemCnt = 0;
  float m_StreamSaveCostTime = 0.0f;
  int32_t m_NpcCnt = 0;
};

// The map id of a key "<server name>_<map id>"; a key without a numeric tail gives a
// stable number made from its text, so every key still gets figures of its own.
int MapIdOfKey(const std::string& key);

}  // namespace mapserver
