// Helpers of the status link tests: a map list without the game data component, decoders
// of the replies and a view without a window (the network core and the configuration in
// memory are those of tests/support).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/IGameData.h"
#include "interfaces/MMORPGPacket.h"
#include "interfaces/StatusWire.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "statuslink/IStatusLinkView.h"
#include "statuslink/NetCore.h"
#include "support/Bytes.h"
#include "support/FakeTiravo.h"
#include "support/MemoryConfig.h"
// TempDir, FakeClock and WaitUntil.
#include "support/TestSupport.h"

namespace statuslink_test {

// A map list of given maps, made without the game data component.
class TestMaps : public IMapFileLoader {
 public:
  explicit TestMaps(std::string server) : m_Server(std::move(server)) {}

  // Adds a map; the list is built by Load.
  void Add(int mapId, const std::string& displayName) {
    m_Names.push_back(std::make_unique<std::string>(displayName));
    m_Items.push_back(tagMapItem{m_Server.c_str(), mapId, m_Names.back()->c_str(), static_cast<int>(m_Items.size()), 1,
                                 500, 0, 0, 0});
  }
  void Load() { maps.LoadMapList(this, 0, "test-maps", false); }
  tagMapServerData& Record(int index) { return *maps.GetMapInfo(index)->GetShareData(); }
  const std::string& Server() const { return m_Server; }

  void Clear() override {}
  const char* GetMapFilePath() override { return "test-maps"; }
  tagMapItem* FindMapItem(int mapId) override {
    for (auto& item : m_Items)
      if (item.MapID == mapId) return &item;
    return nullptr;
  }
  int GetErrorCount() override { return 0; }
  const char* GetLastErrorText() override { return ""; }
  bool IsDebugLoad() override { return false; }
  int GetMapCount() override { return static_cast<int>(m_Items.size()); }
  tagMapItem* GetMapItem(int index) override { return &m_Items[static_cast<std::size_t>(index)]; }
  bool LoadMapFile(const char*, int) override { return true; }

  MapServerInfoManager maps{1};

 private:
  std::string m_Server;
  std::vector<std::unique_ptr<std::string>> m_Names;
  std::vector<tagMapItem> m_Items;
};

// A server name that no other test process uses at the same time.
inline std::string UniqueServer(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + std::to_string(platform::CurrentProcessId()) + "x" + std::to_string(counter++);
}

// What the start and stop of the link did to the window.
class FakeView : public IStatusLinkView {
 public:
  void SetStatusText(const std::string& text) override { texts.push_back(text); }
  void ShowLinkButtons(bool linked) override { buttons.push_back(linked ? "linked" : "unlinked"); }
  void SetScriptStepActive(bool active) override { scriptStep.push_back(active); }
  void ScheduleRetry(int delayMs) override { retries.push_back(delayMs); }

  std::vector<std::string> texts;
  std::vector<std::string> buttons;
  std::vector<bool> scriptStep;
  std::vector<int> retries;
};

// A request head: the fields a peer may set.
inline std::string RequestHead(uint16_t echoTag, uint32_t headTag = 0, uint8_t packType = 0, uint8_t dest = 13,
                               uint8_t src = 13) {
  MMORPG::tagPackHead head{headTag, echoTag, packType, dest, src};
  return statuswire::HeadBytes(head);
}

inline std::string BaseInfoRequest() { return Bytes({6, 1}); }

// One item of a decoded base information reply.
struct Item {
  uint32_t key;
  uint64_t value;    // numeric items
  std::string text;  // text items
  uint32_t Code() const { return key & 0x1FF; }
};

struct BaseInfo {
  bool wellFormed = false;
  std::vector<Item> numerics;
  std::vector<Item> texts;
};

// Decodes a base information reply body; wellFormed only when every byte is accounted for.
inline BaseInfo DecodeBaseInfo(const std::string& body) {
  BaseInfo info;
  if (body.size() < 7 || body[0] != 5 || body[1] != 1 || body[2] != 0) return info;
  std::size_t at = 3;
  const auto numericCount = static_cast<std::size_t>(LoadLe(body, at, 2));
  at += 2;
  if (body.size() < at + 12 * numericCount + 2) return info;
  for (std::size_t i = 0; i < numericCount; ++i, at += 12)
    info.numerics.push_back({static_cast<uint32_t>(LoadLe(body, at, 4)), LoadLe(body, at + 4, 8), {}});
  const auto textCount = static_cast<std::size_t>(LoadLe(body, at, 2));
  at += 2;
  for (std::size_t i = 0; i < textCount; ++i) {
    if (body.size() < at + 6) return info;
    const auto length = static_cast<std::size_t>(LoadLe(body, at + 4, 2));
    if (body.size() < at + 6 + length) return info;
    info.texts.push_back({static_cast<uint32_t>(LoadLe(body, at, 4)), 0, body.substr(at + 6, length)});
    at += 6 + length;
  }
  info.wellFormed = at == body.size();
  return info;
}

// A decoded common command reply.
struct CommonReply {
  bool wellFormed = false;
  std::string name;    // up to the first zero byte of the 32
  std::string result;  // D bytes
  std::string param;   // L bytes
};

inline CommonReply DecodeCommonReply(const std::string& body) {
  CommonReply reply;
  if (body.size() < 40 || body[0] != 1 || body[1] != 5 || body[2] != 0) return reply;
  reply.name = std::string(body.data() + 3, strnlen(body.data() + 3, 32));
  const auto resultLen = static_cast<std::size_t>(LoadLe(body, 35, 4));
  if (body.size() < 40 + resultLen) return reply;
  reply.result = body.substr(39, resultLen);
  const auto paramLen = static_cast<std::size_t>(static_cast<unsigned char>(body[39 + resultLen]));
  if (body.size() != 40 + resultLen + paramLen) return reply;
  reply.param = body.substr(40 + resultLen, paramLen);
  reply.wellFormed = true;
  return reply;
}

}  // namespace statuslink_test
