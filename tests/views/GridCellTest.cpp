// The grid's cell rule on real records: the colour of every state, the load thresholds,
// the error day, and the painted cell.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <climits>

#include "ViewsTestSupport.h"
#include "views/GridCell.h"
#include "views/GridColours.h"
#include "views/StateGrid.h"

namespace {

using GridCellTest = ViewsMapList;

views::CellPlan Plan(MapServerInfo& info, int today = 7) {
  return views::PlanCell(&info.GetMapData(), info.GetShareData(), today);
}

TEST_F(GridCellTest, StateColoursAndLoadThresholds) {
  Load(MapLine(1, m_Server, "One"));
  tagMapServerData& r = Record(1);
  MapServerInfo& map = Map(1);

  const std::pair<int32_t, QColor> states[] = {
      {0, views::kCellNotStarted},  {1, views::kCellNotStarted},  {2, views::kCellNotStarted},
      {4, views::kCellPythonError}, {5, views::kCellCppError},    {6, views::kCellState6},
      {7, views::kCellNotStarted},  {-1, views::kCellNotStarted}, {INT_MIN, views::kCellNotStarted}};
  for (const auto& [state, colour] : states) {
    r.State = state;
    const views::CellPlan plan = Plan(map);
    EXPECT_TRUE(plan.HasData);
    EXPECT_FALSE(plan.Running);
    EXPECT_EQ(plan.Final(), colour) << state;
  }

  // Running: the load decides. Exactly 20, 50 and 70 percent belong to the heavier colour.
  r.State = msRunning;
  struct LoadCase {
    int32_t players, capacity;
    QColor colour;
  };
  const LoadCase loads[] = {{0, 500, views::kCellLight},
                            {99, 500, views::kCellLight},
                            {100, 500, views::kCellNormal},
                            {1, 5, views::kCellNormal},
                            {249, 500, views::kCellNormal},
                            {250, 500, views::kCellHeavy},
                            {349, 500, views::kCellHeavy},
                            {350, 500, views::kCellVeryHeavy},
                            {7, 10, views::kCellVeryHeavy},
                            {900, 500, views::kCellVeryHeavy},
                            // No capacity: load 0, whatever the players.
                            {250, 0, views::kCellLight},
                            {INT_MAX, -5, views::kCellLight},
                            {INT_MAX, INT_MIN, views::kCellLight},
                            // Nonsense counts never overflow.
                            {INT_MIN, 1, views::kCellLight},
                            {INT_MAX, 1, views::kCellVeryHeavy}};
  for (const LoadCase& load : loads) {
    r.PlayerCnt = load.players;
    r.MaxPlayerCnt = load.capacity;
    const views::CellPlan plan = Plan(map);
    EXPECT_TRUE(plan.Running);
    EXPECT_EQ(plan.StateColour, views::kCellNotStarted);
    EXPECT_EQ(plan.Final(), load.colour) << load.players << "/" << load.capacity;
  }
  // The load is the exact truncated percentage.
  EXPECT_EQ(views::PlayerLoad(57, 100), 57);
  EXPECT_EQ(views::PlayerLoad(29, 100), 29);
  EXPECT_EQ(views::PlayerLoad(-199, 1000), -19);

  // No map or no record: white.
  EXPECT_FALSE(views::PlanCell(nullptr, nullptr, 7).HasData);
  EXPECT_EQ(views::PlanCell(&map.GetMapData(), nullptr, 7).Final(), views::kCellEmpty);
}

TEST_F(GridCellTest, ErrorDayIsSetOnTheFallFromRunningAndShownFromTheNextRepaint) {
  Load(MapLine(1, m_Server, "Falls") + MapLine(2, m_Server, "StartsInError") + MapLine(3, m_Server, "Dies"));
  tagMapServerData& r = Record(1);
  MapServerInfo& map = Map(1);

  r.State = msRunning;
  EXPECT_EQ(Plan(map, 7).DayShown, 0);
  r.State = msPythonError;
  views::CellPlan plan = Plan(map, 7);
  EXPECT_EQ(plan.Final(), views::kCellPythonError);
  EXPECT_EQ(plan.DayShown, 0) << "the day is set on this repaint and shown from the next";
  EXPECT_EQ(Plan(map, 8).DayShown, 7) << "the day of the fall stays";
  r.State = msRunning;
  plan = Plan(map, 9);
  EXPECT_TRUE(plan.Running);
  EXPECT_EQ(plan.DayShown, 7) << "written, then covered by the load colour";
  r.State = msCppError;
  plan = Plan(map, 9);
  EXPECT_EQ(plan.Final(), views::kCellCppError);
  EXPECT_EQ(plan.DayShown, 7) << "the first day is kept and shown at once";
  EXPECT_EQ(map.GetMapData().m_ErrorDay, 7);

  // A map first drawn in an error state gets a day too: the last drawn state starts at 3.
  Record(2).State = msCppError;
  EXPECT_EQ(Plan(Map(2), 21).DayShown, 0);
  EXPECT_EQ(Plan(Map(2), 22).DayShown, 21);
  // Disconnected or gone is no error fall.
  Record(3).State = msDisconnected;
  Plan(Map(3), 5);
  Record(3).State = msNotExist;
  EXPECT_EQ(Plan(Map(3), 5).DayShown, 0);
  EXPECT_EQ(Map(3).GetMapData().m_ErrorDay, 0);

  // A reload of the map list starts again.
  Load(MapLine(1, m_Server, "Falls"));
  EXPECT_EQ(Map(1).GetMapData().m_ErrorDay, 0);
  EXPECT_EQ(Map(1).GetMapData().m_LastDrawState, msRunning);
}

// The day number in the top left corner of the box: light on a dark box, and covered by the
// load colour once the map runs again. (The box itself is checked on the window's grid.)
TEST_F(GridCellTest, DayNumberReadsOnDarkBoxesAndHidesUnderTheLoadColour) {
  views::CellPlan plan;
  plan.HasData = true;
  plan.StateColour = views::kCellCppError;
  plan.DayShown = 28;
  QImage image(24, 24, QImage::Format_RGB32);
  auto paint = [&] {
    image.fill(Qt::white);
    QPainter painter(&image);
    views::StateGrid::PaintCell(painter, QRect(0, 0, 24, 24), plan);
  };
  auto count = [&](const QColor& colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += image.pixelColor(x, y) == colour ? 1 : 0;
    return n;
  };
  paint();
  EXPECT_GT(count(Qt::white, 2, 2, 14, 16), 5) << "white digits on blue";
  EXPECT_EQ(count(Qt::white, 2, 16, 22, 22), 0) << "in the top left corner only";
  plan.StateColour = views::kCellPythonError;
  paint();
  EXPECT_GT(count(Qt::black, 2, 2, 14, 16), 5) << "black digits on lime";
  plan.Running = true;
  plan.LoadColour = views::kCellHeavy;
  paint();
  EXPECT_EQ(count(views::kCellHeavy, 2, 2, 22, 22), 20 * 20);
}

}  // namespace
