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

MapFigures::MapFigures(int mapId, uint32_t seed) : mapId_(mapId), random_(seed) {
  unsigned id = static_cast<unsigned>(mapId);
  phase_ = static_cast<double>((id * 2654435761u) % 1000u) / 1000.0;
  maxPlayerCnt_ = 400 + static_cast<int32_t>(id % 7u) * 100;
  maxItemCnt_ = 50000 + static_cast<int32_t>(id % 5u) * 10000;
  npcCnt_ = 300 + static_cast<int32_t>(id % 200u);
  xmlLoadTarget_ = 48 + id % 10u;
  fps_ = 0;
}

void MapFigures::Advance(double runningSeconds) {
  if (runningSeconds <= 0.0) {
    playerCnt_ = 0;
    itemCnt_ = 0;
    fps_ = 0;
    gameObjCnt_ = npcCnt_;
    fbCnt_ = 0;
    return;
  }
  // Load between about 5% and 95% of capacity, moving slowly, plus a little noise.
  double wave = 0.5 + 0.45 * std::sin(2.0 * kPi * (runningSeconds / kWavePeriodSeconds + phase_));
  double noise = (Chance() - 0.5) * 0.04;
  double login = std::min(1.0, runningSeconds / kLoginSeconds);
  double load = std::clamp((wave + noise) * login, 0.0, 1.0);
  playerCnt_ = static_cast<int32_t>(std::lround(load * maxPlayerCnt_));

  int32_t groundItems = 2000 + (mapId_ % 500 + 500) % 500 * 3;
  itemCnt_ = groundItems + playerCnt_ * 35 + static_cast<int32_t>(Chance() * 200.0);
  itemCnt_ = std::min(itemCnt_, maxItemCnt_);

  // Busy maps run a little slower; the frame rate never drops to zero while running.
  fps_ = std::max(1, static_cast<int32_t>(std::lround(30.0 - load * 8.0 + (Chance() - 0.5) * 2.0)));
  gameObjCnt_ = npcCnt_ + playerCnt_ + itemCnt_ / 20;
  fbCnt_ = playerCnt_ / 40;

  // Every player sends a handful of packets a second; the total wraps as a 32-bit counter.
  packTotal_ += static_cast<uint32_t>(playerCnt_) * (5u + static_cast<uint32_t>(Chance() * 10.0));

  // Pools grow in blocks and never shrink.
  allocPlayerCnt_ = std::max(allocPlayerCnt_, RoundUp(playerCnt_, 64));
  allocItemCnt_ = std::max(allocItemCnt_, RoundUp(itemCnt_, 1024));
}

void MapFigures::Publish(tagMapServerData& record) const {
  record.GameObjCnt = gameObjCnt_;
  record.PlayerCnt = playerCnt_;
  record.MaxPlayerCnt = maxPlayerCnt_;
  record.FPS = fps_;
  record.ItemCnt = itemCnt_;
  record.MaxItemCnt = maxItemCnt_;
  record.XmlLoadCnt = xmlLoadCnt_;
  record.PackTotal = packTotal_;
  record.FBCnt = fbCnt_;
  record.AllocPlayerCnt = allocPlayerCnt_;
  record.AllocItemCnt = allocItemCnt_;
  record.StreamSaveCostTime = streamSaveCostTime_;
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
