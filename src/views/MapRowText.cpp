#include "views/MapRowText.h"

#include <charconv>
#include <cstdint>
#include <iterator>

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
QString Pair(int32_t first, int32_t second) { return QString::fromStdString(FormatText("%d/%d", first, second)); }
QString Megabytes(uint64_t bytes) {
  return QString::fromStdString(FormatText("%0.3f", static_cast<double>(bytes) / 1024 / 1024));
}

}  // namespace

QString MapNameText(const MapServerInfo& info) {
  return DisplayText(FormatText("%s(%s)", info.GetDisplayName().c_str(), info.GetMapData().GetServerName().c_str()));
}

QString ShortestFloatText(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
  if (result.ec != std::errc()) return QString();
  return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

namespace {

// What a column shows.
enum class Field {
  Active,
  Name,
  MapId,
  Cpu,
  Status,
  GameObjCnt,
  PlayerPair,
  ItemPair,
  Fps,
  ProcessId,
  Hwnd,
  XmlLoadCnt,
  PackTotal,
  FbPair,
  WorkingSet,
  PagefileUsage,
  AllocPlayerCnt,
  AllocItemCnt,
  StreamSaveCostTime,
  MapManagerNo,
  PlayerCnt,
  ItemCnt,
};

constexpr Field kMapListFields[] = {
    Field::Active,
    Field::Name,
    Field::MapId,
    Field::Cpu,
    Field::Status,
    Field::GameObjCnt,
    Field::PlayerPair,
    Field::ItemPair,
    Field::Fps,
    Field::ProcessId,
    Field::Hwnd,
    Field::XmlLoadCnt,
    Field::PackTotal,
    Field::FbPair,
    Field::WorkingSet,
    Field::PagefileUsage,
    Field::AllocPlayerCnt,
    Field::AllocItemCnt,
    Field::StreamSaveCostTime,
    Field::MapManagerNo,
};
constexpr Field kMapServerListFields[] = {Field::Name,    Field::MapId, Field::Status,   Field::PlayerCnt,
                                          Field::ItemCnt, Field::Fps,   Field::ProcessId};
static_assert(std::size(kMapListFields) == 20 && std::size(kMapServerListFields) == 7);

// A field of a map's own, which needs no record.
QString MapFieldText(const MapServerInfo& info, Field field) {
  switch (field) {
    case Field::Active: return Signed(info.GetActive());
    case Field::Name: return MapNameText(info);
    case Field::MapId: return Signed(info.GetMapData().GetMapID());
    case Field::Cpu: return Signed(info.GetProcessCpu());
    case Field::MapManagerNo: return Signed(info.GetMapManagerNum());
    default: break;
  }
  return QString();
}

// A field read from the record (once per cell).
QString RecordFieldText(const MapServerInfo& info, const tagMapServerData& r, Field field) {
  switch (field) {
    case Field::Status: return QString::fromLatin1(MapServerStateText(record::State(r)));
    case Field::GameObjCnt: return Signed(record::Load(r.GameObjCnt));
    case Field::PlayerPair: return Pair(record::Load(r.PlayerCnt), record::Load(r.MaxPlayerCnt));
    case Field::ItemPair: return Pair(record::Load(r.ItemCnt), record::Load(r.MaxItemCnt));
    case Field::Fps: return Signed(record::Load(r.FPS));
    case Field::ProcessId: return Unsigned(record::Load(r.ProcessId));
    case Field::Hwnd: return Unsigned(record::Load(r.Hwnd));
    case Field::XmlLoadCnt: return Unsigned(record::Load(r.XmlLoadCnt));
    case Field::PackTotal: return Unsigned(record::Load(r.PackTotal));
    case Field::FbPair: return Pair(record::Load(r.FBCnt), info.GetFBLimit());
    case Field::WorkingSet: return Megabytes(info.GetMemoryCounters().WorkingSetSize);
    case Field::PagefileUsage: return Megabytes(info.GetMemoryCounters().PagefileUsage);
    case Field::AllocPlayerCnt: return Signed(record::Load(r.AllocPlayerCnt));
    case Field::AllocItemCnt: return Signed(record::Load(r.AllocItemCnt));
    case Field::StreamSaveCostTime: return ShortestFloatText(record::Load(r.StreamSaveCostTime));
    case Field::PlayerCnt: return QString::fromStdString(FormatText("%d", record::Load(r.PlayerCnt)));
    case Field::ItemCnt: return QString::fromStdString(FormatText("%d", record::Load(r.ItemCnt)));
    default: return MapFieldText(info, field);
  }
}

// Column `column` of a list whose first `withoutRecord` columns show without a record.
template <std::size_t N>
QString CellText(const MapServerInfo* info, int column, const Field (&fields)[N], int withoutRecord) {
  if (info == nullptr || column < 0 || column >= static_cast<int>(N)) return QString();
  const Field field = fields[column];
  if (column < withoutRecord) return MapFieldText(*info, field);
  const tagMapServerData* record = info->GetShareData();
  return record != nullptr ? RecordFieldText(*info, *record, field) : QString();
}

}  // namespace

QString MapListCellText(const MapServerInfo* info, int column) {
  return CellText(info, column, kMapListFields, kMapListColumnsWithoutRecord);
}

QString MapServerListCellText(const MapServerInfo* info, int column) {
  return CellText(info, column, kMapServerListFields, kMapServerListColumnsWithoutRecord);
}

}  // namespace views
