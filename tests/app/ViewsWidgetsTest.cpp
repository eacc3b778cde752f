// The two widgets of the monitoring views on their own, without a window: the owner-data
// list model and the state grid.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "support/OffscreenApplication.h"
#include "views/OwnerDataListModel.h"
#include "views/StateGrid.h"

namespace {

TEST(OwnerDataListModelTest, CountChangesInsertAndRemoveRowsWithoutReset) {
  EnsureOffscreenApplication();
  views::OwnerDataListModel model({"A", "B", "C"});
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  int asked = 0;
  model.SetCellText([&](int row, int column) {
    ++asked;
    return QString("%1:%2").arg(row).arg(column);
  });
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

  model.SetItemCount(5);
  model.SetItemCount(5);
  model.SetItemCount(2);
  model.SetItemCount(-3);
  EXPECT_EQ(model.rowCount(), 0);
  model.SetItemCount(4);
  EXPECT_EQ(resets.count(), 0);
  ASSERT_EQ(inserted.count(), 2);
  EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
  EXPECT_EQ(inserted.at(0).at(2).toInt(), 4);
  ASSERT_EQ(removed.count(), 2);
  EXPECT_EQ(removed.at(0).at(1).toInt(), 2);
  EXPECT_EQ(removed.at(0).at(2).toInt(), 4);

  // Cells are produced on demand only, and a refresh of rows past the end is clamped.
  asked = 0;
  EXPECT_EQ(model.data(model.index(3, 2)).toString(), "3:2");
  EXPECT_EQ(asked, 1);
  model.RefreshRows(2, 100);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.at(0).at(0).toModelIndex(), model.index(2, 0));
  EXPECT_EQ(changed.at(0).at(1).toModelIndex(), model.index(3, 2));
  model.RefreshRows(7, 9);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "B");
  EXPECT_FALSE(model.headerData(3, Qt::Horizontal).isValid());
}

TEST(StateGridTest, CellBoxLeavesBlackBottomAndRightEdgesInsideAWhiteMargin) {
  EnsureOffscreenApplication();
  QImage image(24, 24, QImage::Format_RGB32);
  image.fill(Qt::gray);
  {
    QPainter painter(&image);
    views::StateGrid::PaintCellBox(painter, QRect(0, 0, 24, 24), QColor(0xFF, 0x00, 0x00));
  }
  // Fill from (2,2) up to, not including, the black edges at x = 22 and y = 22.
  EXPECT_EQ(image.pixelColor(2, 2), QColor(0xFF, 0x00, 0x00));
  EXPECT_EQ(image.pixelColor(21, 21), QColor(0xFF, 0x00, 0x00));
  EXPECT_EQ(image.pixelColor(12, 22), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(22, 12), QColor(Qt::black));
  // The margin is left as it was.
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::gray));
  EXPECT_EQ(image.pixelColor(23, 10), QColor(Qt::gray));
}

TEST(StateGridTest, ClicksPickTheCellAndItsListPosition) {
  EnsureOffscreenApplication();
  views::StateGrid grid;
  EXPECT_EQ(grid.size(), QSize(20 * 24, 30 * 24));
  QSignalSpy clicked(&grid, &views::StateGrid::Clicked);
  QSignalSpy doubleClicked(&grid, &views::StateGrid::DoubleClicked);
  QTest::mouseClick(&grid, Qt::LeftButton, {}, QPoint(3 * 24 + 5, 2 * 24 + 5));
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(grid.Col(), 3);
  EXPECT_EQ(grid.Row(), 2);
  EXPECT_EQ(views::StateGrid::PositionOf(grid.Col(), grid.Row()), 43);
  QTest::mouseDClick(&grid, Qt::LeftButton, {}, QPoint(19 * 24 + 1, 29 * 24 + 1));
  EXPECT_EQ(doubleClicked.count(), 1);
  EXPECT_EQ(views::StateGrid::PositionOf(grid.Col(), grid.Row()), 599);
}

TEST(StateGridTest, OnlyExposedCellsAreDrawn) {
  EnsureOffscreenApplication();
  views::StateGrid grid;
  int drawn = 0;
  grid.SetDrawCell([&](int, int, QPainter&, const QRect&) { ++drawn; });
  QImage image(grid.size(), QImage::Format_RGB32);
  grid.render(&image, QPoint(), QRegion(QRect(0, 0, 48, 24)));
  EXPECT_EQ(drawn, 2);
}

}  // namespace
