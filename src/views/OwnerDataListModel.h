// A list view model that holds no data of its own: it knows its column captions and
// its item count, and asks its owner for the text of a cell only when a view draws it.
//
// Setting the item count never resets the model: rows are inserted or removed at the
// end, so the view keeps its scroll position and selection, and a repaint of the rows
// that are shown is a dataChanged over that range.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <vector>

namespace views {

class OwnerDataListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Text of one cell; called for visible cells only.
  using CellText = std::function<QString(int row, int column)>;

  explicit OwnerDataListModel(const QStringList& captions, QObject* parent = nullptr);

  void SetCellText(CellText cellText);
  // The number of rows the view shows (the number of maps). Negative counts as 0.
  void SetItemCount(int count);
  int ItemCount() const { return m_Count; }
  // Asks the views to fetch rows first..last again (clamped to the rows that exist).
  void RefreshRows(int first, int last);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QStringList m_Captions;
  int m_Count = 0;
  CellText m_CellText;
};

}  // namespace views
