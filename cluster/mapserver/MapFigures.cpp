#include "MapFigures.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace mapserver {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLoginSeconds = 60.0;

int32_t RoundUp(int32_t value, int32_t step) { return (value + step - 1) / step * step; }

}  // namespace

MapFigures::MapFigures(int mapId, uint32_t seed) : m_MapId(mapId), m_Random(seed) {
  unsigned id = static_cast<unsigned>(mapId);
  m_Phase = static_cast<double>((id * 2654435761u) % 1000u) / 1000.0;
  m_MaxPlayerCnt = 400 + static_cast<int32_t>(id % 7u) * 100;
  m_MaxItemCnt = 50000 + static_cast<int32_t>(id % 5u) * 10000;
  m_NpcCnt = 300 + static_cast<int32_t>(id % 200u);
  m_XmlLoadTarget = 48 + id % 10u;
  m_Fps = 0;
}

void MapFigures::Advance(double runningSeconds) {
  if (runningSeconds <= 0.0) {
    m_PlayerCnt = 0;
    m_ItemCnt = 0;
    m_Fps = 0;
    m_GameObjCnt = m_NpcCnt;
    m_FbCnt = 0;
    return;
  }
  // Load between about 5% and 95% of capacity, moving slowly, plus a little noise.
  double wave = 0.5 + 0.45 * std::sin(2.0 * kPi * (runningSeconds / kWavePeriodSeconds + m_Phase));
  double noise = (Chance() - 0.5) * 0.04;
  double login = std::min(1.0, runningSeconds / kLoginSeconds);
  double load = std::clamp((wave + noise) * login, 0.0, 1.0);
  m_PlayerCnt = static_cast<int32_t>(std::lround(load * m_MaxPlayerCnt));

  int32_t groundItems = 2000 + (m_MapId % 500 + 500) % 500 * 3;
  m_ItemCnt = groundItems + m_PlayerCnt * 35 + static_cast<int32_t>(Chance() * 200.0);
  m_ItemCnt = std::min(m_ItemCnt, m_MaxItemCnt);

  // Busy maps run a little slower; the frame rate never drops to zero while running.
  m_Fps = std::max(1, static_cast<int32_t>(std::lround(30.0 - load * 8.0 + (Chance() - 0.5) * 2.0)));
  m_GameObjCnt = m_NpcCnt + m_PlayerCnt + m_ItemCnt / 20;
  m_FbCnt = m_PlayerCnt / 40;

  // Every player sends a handful of packets a second; the total wraps as a 32-bit counter.
  m_PackTotal += static_cast<uint32_t>(m_PlayerCnt) * (5u + static_cast<uint32_t>(Chance() * 10.0));

  // Pools grow in blocks and never shrink.
  m_AllocPlayerCnt = std::max(m_AllocPlayerCnt, RoundUp(m_PlayerCnt, 64));
  m_AllocItemCnt = std::max(m_AllocItemCnt, RoundUp(m_ItemCnt, 1024));
}

void MapFigures::Publish(tagMapServerData& record) const {
  record.GameObjCnt = m_GameObjCnt;
  record.PlayerCnt = m_PlayerCnt;
  record.MaxPlayerCnt = m_MaxPlayerCnt;
  record.FPS = m_Fps;
  record.ItemCnt = m_ItemCnt;
  record.MaxItemCnt = m_MaxItemCnt;
  record.XmlLoadCnt = m_XmlLoadCnt;
  record.PackTotal = m_PackTotal;
  record.FBCnt = m_FbCnt;
  record.AllocPlayerCnt = m_AllocPlayerCnt;
  record.AllocItemCnt = m_AllocItemCnt;
  record.StreamSaveCostTime = m_StreamSaveCostTime;
}

int MapIdOfKey(const std::string& key) {
  std::size_t underscore = key.rfind('_');
  if (underscore != std::string::npos && underscore + 1 < key.size()) {
    std::string tail = key.substr(underscore + 1);
    if (tail.size() <= 9 && tail.find_first_not_of("0123456789") == std::string::npos) {
      return std::stoi(tail);
    }
  }
  unsigned hash = 2166136261u;
  for (unsigned char c : key) hash = (hash ^ c) * 16777619u;
  return static_cast<int>(hash % 100000u);
}

}  // namespace mapserver
