// The cells of both map list views, read from real records: every column in its format,
// a map without a record, the memory of a launched process, and a hostile record.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "ViewsTestSupport.h"
#include "registry/CSharedMem.h"
#include "support/ProcStat.h"
#include "support/TestSupport.h"
#include "views/DisplayText.h"
#include "views/MapRowText.h"

namespace {

QStringList MapListRow(const MapServerInfo* info) {
  QStringList row;
  for (int column = 0; column < 20; ++column) row << views::MapListCellText(info, column);
  return row;
}

QStringList MapServerListRow(const MapServerInfo* info) {
  QStringList row;
  for (int column = 0; column < 7; ++column) row << views::MapServerListCellText(info, column);
  return row;
}

using ListRowTextTest = ViewsMapList;

TEST_F(ListRowTextTest, EveryColumnInItsFormatAndOnlyTheFirstColumnsWithoutARecord) {
  // Map 8's segment is held too small for a record by someone else.
  bool existed = false;
  CSharedMem blocker(m_Server + "_8_Config", 16, existed);
  ASSERT_TRUE(blocker.Valid());
  // "新手村" in GBK, as an older map list writes it.
  Load(MapLine(3, m_Server, "\xD0\xC2\xCA\xD6\xB4\xE5", 6, 2) + MapLine(8, m_Server, "Blocked"));
  ASSERT_EQ(m_Maps.GetMapInfoCount(), 2);

  tagMapServerData& r = Record(3);
  r.GameObjCnt = -12;
  r.PlayerCnt = 123;
  r.MaxPlayerCnt = 500;
  r.FPS = 27;
  r.ItemCnt = 4500;
  r.MaxItemCnt = 60000;
  r.State = msRunning;
  r.ProcessId = 0xFFFFFFFFu;  // unsigned columns never show a sign
  r.Hwnd = 0x80000001u;
  r.XmlLoadCnt = 52;
  r.PackTotal = 3000000000u;
  r.FBCnt = 3;
  r.AllocPlayerCnt = 128;
  r.AllocItemCnt = -1;
  r.StreamSaveCostTime = 12.5f;
  Map(3).SetActive(0);

  EXPECT_EQ(MapListRow(m_Maps.GetMapInfo(0)),
            QStringList({"0",          QString::fromUtf8("新手村(") + QString::fromStdString(m_Server) + ")",
                         "3",          "0",
                         "Running",    "-12",
                         "123/500",    "4500/60000",
                         "27",         "4294967295",
                         "2147483649", "52",
                         "3000000000", "3/6",
                         "0.000",      "0.000",
                         "128",        "-1",
                         "12.5",       "2"}));
  EXPECT_EQ(MapServerListRow(m_Maps.GetMapInfo(0)),
            QStringList({QString::fromUtf8("新手村(") + QString::fromStdString(m_Server) + ")", "3", "Running", "123",
                         "4500", "27", "4294967295"}));

  // The state texts; the cost time in its shortest form.
  const std::pair<int32_t, const char*> states[] = {{0, "Not Exist!"}, {1, "Connecting..."}, {2, "Initing..."},
                                                    {4, "unknown"},    {5, "unknown"},       {6, "unknown"},
                                                    {-7, "unknown"},   {INT_MIN, "unknown"}};
  for (const auto& [state, text] : states) {
    r.State = state;
    EXPECT_EQ(views::MapListCellText(&Map(3), 4), text) << state;
    EXPECT_EQ(views::MapServerListCellText(&Map(3), 2), text) << state;
  }
  const std::pair<float, const char*> costs[] = {
      {0.1f, "0.1"}, {0.0f, "0"}, {1e20f, "1e+20"}, {-2.25f, "-2.25"}, {123456.7f, "123456.7"}};
  for (const auto& [cost, text] : costs) {
    r.StreamSaveCostTime = cost;
    EXPECT_EQ(views::MapListCellText(&Map(3), 18), text) << text;
  }

  // A map without a record shows "Active" to "CPU", and "Name" and "ID".
  const MapServerInfo* blocked = m_Maps.GetMapInfo(1);
  ASSERT_EQ(blocked->GetShareData(), nullptr);
  QStringList expected = {"1", "Blocked(" + QString::fromStdString(m_Server) + ")", "8", "0"};
  while (expected.size() < 20) expected << "";
  EXPECT_EQ(MapListRow(blocked), expected);
  EXPECT_EQ(MapServerListRow(blocked),
            QStringList({"Blocked(" + QString::fromStdString(m_Server) + ")", "8", "", "", "", "", ""}));

  // No map at a position, or a column that does not exist: empty.
  EXPECT_EQ(MapListRow(m_Maps.GetMapInfo(2)), QStringList(QList<QString>(20)));
  EXPECT_EQ(views::MapListCellText(&Map(3), 20), "");
  EXPECT_EQ(views::MapServerListCellText(&Map(3), -1), "");
}

TEST_F(ListRowTextTest, MemoryColumnsShowTheLaunchedProcessInMegabytes) {
  Load(MapLine(5, m_Server, "Mem"));
  platform::ProcessInformation process;
  int errorCode = 0;
  ASSERT_TRUE(platform::StartProcess("/bin/sleep 30", "", false, &process, &errorCode));
  Map(5).SetProcessInfo(process);
  EXPECT_EQ(views::MapListCellText(&Map(5), 14), "0.000") << "not sampled yet";
  // Sampled once the program has loaded and sleeps, so that its memory no longer grows.
  ASSERT_TRUE(WaitUntil([&] { return ProcState(process.ProcessId) == 'S'; }));
  Map(5).SampleMemory();  // the refresh tick's sample
  platform::MemoryCounters counters;
  ASSERT_TRUE(platform::GetMemoryCounters(process.ProcessId, &counters));

  const QRegularExpression megabytes("^\\d+\\.\\d{3}$");
  const QString workingSet = views::MapListCellText(&Map(5), 14);
  EXPECT_TRUE(megabytes.match(workingSet).hasMatch()) << workingSet.toStdString();
  EXPECT_NEAR(workingSet.toDouble(), counters.WorkingSetSize / 1024.0 / 1024.0, 0.5);
  EXPECT_GT(workingSet.toDouble(), 0.0);
  EXPECT_TRUE(megabytes.match(views::MapListCellText(&Map(5), 15)).hasMatch());

  ASSERT_TRUE(platform::TerminateProcess(process.ProcessHandle, -1));
  ASSERT_TRUE(platform::WaitForProcess(process.ProcessHandle, 5000, nullptr));
  Map(5).SampleMemory();
  EXPECT_EQ(views::MapListCellText(&Map(5), 14), "0.000") << "a process that ended has no memory";
}

TEST_F(ListRowTextTest, HostileRecordIsShownWithinItsFieldsWhateverItHolds) {
  Load(MapLine(9, m_Server, "Hostile"));
  tagMapServerData& r = Record(9);
  std::memset(&r, 0xFF, sizeof r);  // no zero byte anywhere; invalid UTF-8 and GBK
  r.PlayerCnt = INT_MIN;
  r.MaxPlayerCnt = -1;
  r.State = INT_MAX;
  r.StreamSaveCostTime = std::numeric_limits<float>::quiet_NaN();

  const QStringList row = MapListRow(&Map(9));
  EXPECT_EQ(row.at(4), "unknown");
  EXPECT_EQ(row.at(6), "-2147483648/-1");
  EXPECT_EQ(row.at(9), "4294967295");
  EXPECT_EQ(row.at(18), "nan");
  r.StreamSaveCostTime = std::numeric_limits<float>::infinity();
  EXPECT_EQ(views::MapListCellText(&Map(9), 18), "inf");
  r.StreamSaveCostTime = std::numeric_limits<float>::max();
  EXPECT_EQ(views::MapListCellText(&Map(9), 18), "3.4028235e+38");

  // Texts without a terminator are read to the end of their field and shown whole: bytes
  // that are neither UTF-8 nor GBK show as "?".
  const QString message = views::DisplayText(record::Text(r.MsgText));
  EXPECT_EQ(message, QString(1024, '?'));
  // UTF-8 passes unchanged, GBK is converted, a cut GBK pair shows as "?".
  EXPECT_EQ(views::DisplayText("Map \xE6\x96\xB0"), QString::fromUtf8("Map 新"));
  EXPECT_EQ(views::DisplayText("\xD0\xC2\xCA"), QString::fromUtf8("新?"));
}

}  // namespace
