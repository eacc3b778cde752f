#include "views/StateGrid.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

#include "views/GridCell.h"
#include "views/GridColours.h"

namespace views {

StateGrid::StateGrid(QWidget* parent) : QWidget(parent) {
  setFixedSize(sizeHint());
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void StateGrid::SetDrawCell(DrawCell drawCell) {
  m_DrawCell = std::move(drawCell);
  update();
}

QSize StateGrid::sizeHint() const { return QSize(kColCount * kDefaultColWidth, kRowCount * kDefaultRowHeight); }

QRect StateGrid::CellRect(int col, int row) const {
  return QRect(col * kDefaultColWidth, row * kDefaultRowHeight, kDefaultColWidth, kDefaultRowHeight);
}

void StateGrid::PaintCellBox(QPainter& painter, const QRect& cell, const QColor& colour) {
  // Windows coordinates: left, top inclusive; right, bottom exclusive.
  const int left = cell.left();
  const int top = cell.top();
  const int right = cell.left() + cell.width();
  const int bottom = cell.top() + cell.height();
  // The white line lies on the cell's exclusive bottom edge, so the cell's own clip keeps it
  // off the row below, as a cell of a grid without grid lines draws it.
  painter.setPen(Qt::white);
  painter.drawLine(left, bottom, right, bottom);
  const int l = left + 2, t = top + 2, r = right - 2, b = bottom - 2;
  if (r <= l || b <= t) return;
  painter.setPen(Qt::black);
  painter.drawLine(l, b, r, b);
  painter.drawLine(r, t, r, b);
  painter.fillRect(QRect(l, t, r - l, b - t), colour);
}

void StateGrid::PaintCell(QPainter& painter, const QRect& cell, const CellPlan& plan) {
  PaintCellBox(painter, cell, kCellEmpty);
  if (!plan.HasData) return;
  PaintCellBox(painter, cell, plan.StateColour);
  if (plan.DayShown != 0) {
    // Dark boxes get a light day number.
    const bool dark = qGray(plan.StateColour.rgb()) < 100;
    painter.setPen(dark ? Qt::white : Qt::black);
    const QRect box = cell.adjusted(2, 2, -2, -2);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, QString::number(plan.DayShown));
  }
  if (plan.Running) PaintCellBox(painter, cell, plan.LoadColour);
}

void StateGrid::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect();
  painter.fillRect(exposed, Qt::white);
  const int firstCol = std::max(0, exposed.left() / kDefaultColWidth);
  const int lastCol = std::min(kColCount - 1, exposed.right() / kDefaultColWidth);
  const int firstRow = std::max(0, exposed.top() / kDefaultRowHeight);
  const int lastRow = std::min(kRowCount - 1, exposed.bottom() / kDefaultRowHeight);
  for (int row = firstRow; row <= lastRow; ++row) {
    for (int col = firstCol; col <= lastCol; ++col) {
      const QRect cell = CellRect(col, row);
      painter.save();
      painter.setClipRect(cell);
      if (m_DrawCell)
        m_DrawCell(col, row, painter, cell);
      else
        PaintCellBox(painter, cell, Qt::white);
      painter.restore();
    }
  }
}

bool StateGrid::CellAt(const QPoint& point, int* col, int* row) const {
  if (point.x() < 0 || point.y() < 0) return false;
  const int c = point.x() / kDefaultColWidth;
  const int r = point.y() / kDefaultRowHeight;
  if (c >= kColCount || r >= kRowCount) return false;
  *col = c;
  *row = r;
  return true;
}

void StateGrid::mousePressEvent(QMouseEvent* event) {
  int col = 0, row = 0;
  if (event->button() != Qt::LeftButton || !CellAt(event->position().toPoint(), &col, &row)) return;
  m_Col = col;
  m_Row = row;
  emit Clicked();
}

bool StateGrid::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    int col = 0, row = 0;
    QString text;
    if (m_ToolTip && CellAt(help->pos(), &col, &row)) text = m_ToolTip(col, row);
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this, CellRect(col, row));
    }
    return true;
  }
  return QWidget::event(event);
}

void StateGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  int col = 0, row = 0;
  if (event->button() != Qt::LeftButton || !CellAt(event->position().toPoint(), &col, &row)) return;
  m_Col = col;
  m_Row = row;
  emit DoubleClicked();
}

}  // namespace views
