#include "views/MapRowText.h"

#include <charconv>
#include <cstdint>

#include "common/Utils.h"
#include "registry/MapServerInfo.h"
#include "registry/MapServerState.h"
#include "registry/RecordAccess.h"
#include "views/DisplayText.h"

namespace views {
namespace {

QString Signed(int32_t value) { return QString::fromStdString(FormatText("%i", value)); }
QString Unsigned(uint32_t value) {
  return QString::fromStdString(FormatText("%lu", static_cast<unsigned long>(value)));
}
QString Pair(int32_t first, int32_t second) {
  return QString::fromStdString(FormatText("%d/%d", first, second));
}
QString Megabytes(uint64_t bytes) {
  return QString::fromStdString(FormatText("%0.3f", static_cast<double>(bytes) / 1024 / 1024));
}
QString StatusText(const tagMapServerData& record) {
  return QString::fromLatin1(MapServerStateText(record::State(record)));
}

}  // namespace

QString MapNameText(const MapServerInfo& info) {
  return DisplayText(FormatText("%s(%s)", info.GetDisplayName().c_str(),
                                info.GetMapData().GetServerName().c_str()));
}

QString ShortestFloatText(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
  if (result.ec != std::errc()) return QString();
  return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

QString MapListCellText(const MapServerInfo* info, int column) {
  if (info == nullptr) return QString();
  switch (column) {
    case 0:
      return Signed(info->GetActive());
    case 1:
      return MapNameText(*info);
    case 2:
      return Signed(info->GetMapData().GetMapID());
    case 3:
      return Signed(info->GetProcessCpu());
    default:
      break;
  }
  const tagMapServerData* record = info->GetShareData();
  if (record == nullptr) return QString();
  const tagMapServerData& r = *record;
  switch (column) {
    case 4:
      return StatusText(r);
    case 5:
      return Signed(record::Load(r.GameObjCnt));
    case 6:
      return Pair(record::Load(r.PlayerCnt), record::Load(r.MaxPlayerCnt));
    case 7:
      return Pair(record::Load(r.ItemCnt), record::Load(r.MaxItemCnt));
    case 8:
      return Signed(record::Load(r.FPS));
    case 9:
      return Unsigned(record::Load(r.ProcessId));
    case 10:
      return Unsigned(record::Load(r.Hwnd));
    case 11:
      return Unsigned(record::Load(r.XmlLoadCnt));
    case 12:
      return Unsigned(record::Load(r.PackTotal));
    case 13:
      return Pair(record::Load(r.FBCnt), info->GetFBLimit());
    case 14:
      return Megabytes(info->GetMemoryCounters().WorkingSetSize);
    case 15:
      return Megabytes(info->GetMemoryCounters().PagefileUsage);
    case 16:
      return Signed(record::Load(r.AllocPlayerCnt));
    case 17:
      return Signed(record::Load(r.AllocItemCnt));
    case 18:
      return ShortestFloatText(record::Load(r.StreamSaveCostTime));
    case 19:
      return Signed(info->GetMapManagerNum());
    default:
      return QString();
  }
}

QString MapServerListCellText(const MapServerInfo* info, int column) {
  if (info == nullptr) return QString();
  switch (column) {
    case 0:
      return MapNameText(*info);
    case 1:
      return Signed(info->GetMapData().GetMapID());
    default:
      break;
  }
  const tagMapServerData* record = info->GetShareData();
  if (record == nullptr) return QString();
  const tagMapServerData& r = *record;
  switch (column) {
    case 2:
      return StatusText(r);
    case 3:
      return QString::fromStdString(FormatText("%d", record::Load(r.PlayerCnt)));
    case 4:
      return QString::fromStdString(FormatText("%d", record::Load(r.ItemCnt)));
    case 5:
      return Signed(record::Load(r.FPS));
    case 6:
      return Unsigned(record::Load(r.ProcessId));
    default:
      return QString();
  }
}

}  // namespace views
