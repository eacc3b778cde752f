// The colour legend of the state grid with the double-click hint.
#pragma once

#include <QWidget>

namespace views {

class StateLegend : public QWidget {
  Q_OBJECT

 public:
  explicit StateLegend(QWidget* parent = nullptr);
};

}  // namespace views
