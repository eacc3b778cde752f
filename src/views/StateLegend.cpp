#include "views/StateLegend.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "views/GridColours.h"

namespace views {

StateLegend::StateLegend(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->setSpacing(4);
  for (const LegendEntry& entry : kGridLegend) {
    auto* row = new QHBoxLayout;
    auto* swatch = new QLabel(this);
    swatch->setFixedSize(20, 16);
    swatch->setAutoFillBackground(true);
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, *entry.colour);
    swatch->setPalette(palette);
    swatch->setFrameShape(QFrame::Box);
    row->addWidget(swatch);
    auto* caption = new QLabel(QString::fromUtf8(entry.caption), this);
    row->addWidget(caption, 1);
    column->addLayout(row);
  }
  auto* hint = new QLabel(QString::fromUtf8(kGridHint), this);
  hint->setWordWrap(true);
  column->addWidget(hint);
  column->addStretch(1);
}

}  // namespace views
