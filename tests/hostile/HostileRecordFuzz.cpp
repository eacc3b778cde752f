#include "HostileRecordFuzz.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/Utils.h"
#include "components/GameDataComponent.h"
#include "interfaces/ITiravo.h"
#include "interfaces/MMORPGPacket.h"
#include "metrics/MetricsText.h"
#include "platform/process.h"
#include "registry/MapServerInfoManager.h"
#include "registry/RecordAccess.h"
#include "statuslink/BaseInfoReply.h"
#include "statuslink/NetCore.h"
#include "statuslink/StatusLinkControl.h"
#include "support/FakeTiravo.h"
#include "support/OffscreenApplication.h"
#include "views/GridCell.h"
#include "views/LogLights.h"
#include "views/MapRowText.h"

namespace {

constexpr int kMaps = 3;

// The network core in memory; it keeps only the last message sent.
FakeTiravo g_Core(1);

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "hostile record: %s\n", what);
  std::abort();
}

// True when a base information reply's counts and lengths account for every byte.
bool ReplyParses(const std::string& body) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<uint8_t>(body[at]) | static_cast<uint8_t>(body[at + 1]) << 8);
  };
  if (body.size() < 7 || body[0] != 5 || body[1] != 1) return false;
  std::size_t at = 3;
  const std::size_t numerics = u16(at);
  at += 2 + numerics * 12;
  if (at + 2 > body.size()) return false;
  const std::size_t texts = u16(at);
  at += 2;
  for (std::size_t i = 0; i < texts; ++i) {
    if (at + 6 > body.size()) return false;
    at += 6 + u16(at + 4);
  }
  return at == body.size();
}

struct Fixture {
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemo-hostile-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    setenv("VEMO_LOG_DIR", dir.c_str(), 1);
    if (!LoadGameDataComponent("Pellwyn.dll")) Fail("the game data component did not load");
    const std::string server = "Hostile" + std::to_string(platform::CurrentProcessId());
    std::ofstream list(dir + "/MapID.txt");
    for (int id = 1; id <= kMaps; ++id) list << id << " " << server << " Map" << id << " " << id << " 1 500 0 3 1\n";
    list.close();
    maps.LoadMapList(0, dir + "/MapID.txt", false);
    lights = std::make_unique<views::LogLights>(nullptr, &owner, &panel);
    lights->CreateLights();
    InstallCore(&g_Core);
    StatusLinkControl::Settings settings;
    settings.Maps = &maps;
    link = std::make_unique<StatusLinkControl>(settings);
  }
  // The directory goes with the program, so that runs leave nothing in the temporary folder.
  ~Fixture() {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
  // The application exists before any widget of the fixture.
  bool application = (EnsureOffscreenApplication(), true);
  std::string dir;
  MapServerInfoManager maps{1};
  QWidget owner;
  QWidget panel{&owner};
  std::unique_ptr<views::LogLights> lights;
  std::unique_ptr<StatusLinkControl> link;
  IManagerFigures figures;
};

}  // namespace

int FuzzHostileRecord(const uint8_t* data, std::size_t size) {
  static Fixture fixture;
  if (size == 0) return 0;
  // The bytes, repeated as needed, fill the records one after another.
  for (int i = 0; i < fixture.maps.GetMapInfoCount(); ++i) {
    tagMapServerData* record = fixture.maps.GetMapInfo(i)->GetShareData();
    if (record == nullptr) continue;
    auto* bytes = reinterpret_cast<uint8_t*>(record);
    for (std::size_t k = 0; k < sizeof *record; ++k) bytes[k] = data[(i * sizeof *record + k) % size];
  }

  for (int i = 0; i < fixture.maps.GetMapInfoCount(); ++i) {
    MapServerInfo* info = fixture.maps.GetMapInfo(i);
    for (int column = 0; column < 20; ++column) views::MapListCellText(info, column);
    for (int column = 0; column < 7; ++column) views::MapServerListCellText(info, column);
    const views::CellPlan plan =
        views::PlanCell(&info->GetMapData(), info->GetShareData(), 1 + static_cast<int>(data[0] % 31));
    if (plan.HasData && !plan.Final().isValid()) Fail("a grid cell without a colour");
    std::array<int, views::LogLights::kLightCount> counts{};
    const tagMapServerData* record = info->GetShareData();
    for (int level = 0; level < views::LogLights::kLightCount; ++level)
      counts[static_cast<std::size_t>(level)] = record->LogLevelCounts[level];
    fixture.lights->SetCounts(counts);
  }

  MMORPG::MMORPGPacket request;
  request.ReadData("\x06\x01", 2);
  g_Core.ClearSent();
  fixture.link->OnSVCBaseInfo(&request);
  if (!ReplyParses(g_Core.LastBody())) Fail("a base information reply that does not parse");

  const std::string page = BuildMetricsText(fixture.maps, nullptr, fixture.figures);
  if (!IsWellFormedUtf8(page)) Fail("a metrics page that is not UTF-8");
  return 0;
}
