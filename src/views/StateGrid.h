// The state grid: a drawn grid of 20 columns by 30 rows, one cell per map of the map
// list (cell (c, r) is list position r x 20 + c). It holds no data: every cell is drawn
// by the owner's draw-cell function, and only the cells that are exposed are drawn.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

namespace views {

struct CellPlan;

class StateGrid : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColCount = 20;
  static constexpr int kRowCount = 30;
  static constexpr int kDefaultColWidth = 24;
  static constexpr int kDefaultRowHeight = 24;

  // Draws one cell. The rectangle is given as a Windows one: right and bottom exclusive.
  using DrawCell = std::function<void(int col, int row, QPainter& painter, const QRect& cell)>;
  // The tooltip of a cell under the mouse; an empty text shows none.
  using CellToolTip = std::function<QString(int col, int row)>;

  explicit StateGrid(QWidget* parent = nullptr);

  void SetDrawCell(DrawCell drawCell);
  void SetCellToolTip(CellToolTip toolTip) { m_ToolTip = std::move(toolTip); }
  int ColCount() const { return kColCount; }
  int RowCount() const { return kRowCount; }
  // The cell under the last click, (-1, -1) before the first.
  int Col() const { return m_Col; }
  int Row() const { return m_Row; }
  // The list position a cell shows.
  static int PositionOf(int col, int row) { return row * kColCount + col; }
  QRect CellRect(int col, int row) const;

  // Paints a cell box: a white line along the bottom, then inside a 2-pixel margin a
  // black bottom and right edge and a fill in `colour` that leaves those edges visible.
  static void PaintCellBox(QPainter& painter, const QRect& cell, const QColor& colour);
  // Paints a cell as the draw-cell rule planned it: the box in white; for a map with a
  // record the box in the state's colour, the error day in its top left corner, and for a
  // running map the box again in the load colour, which covers the day.
  static void PaintCell(QPainter& painter, const QRect& cell, const CellPlan& plan);

  QSize sizeHint() const override;

 signals:
  void Clicked();
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool CellAt(const QPoint& point, int* col, int* row) const;

  DrawCell m_DrawCell;
  CellToolTip m_ToolTip;
  int m_Col = -1;
  int m_Row = -1;
};

}  // namespace views
