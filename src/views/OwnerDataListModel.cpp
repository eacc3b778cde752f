#include "views/OwnerDataListModel.h"

#include <algorithm>

namespace views {

OwnerDataListModel::OwnerDataListModel(const QStringList& captions, QObject* parent)
    : QAbstractTableModel(parent), m_Captions(captions) {}

void OwnerDataListModel::SetCellText(CellText cellText) {
  m_CellText = std::move(cellText);
  RefreshRows(0, m_Count - 1);
}

void OwnerDataListModel::SetItemCount(int count) {
  count = std::max(count, 0);
  if (count > m_Count) {
    beginInsertRows(QModelIndex(), m_Count, count - 1);
    m_Count = count;
    endInsertRows();
  } else if (count < m_Count) {
    beginRemoveRows(QModelIndex(), count, m_Count - 1);
    m_Count = count;
    endRemoveRows();
  }
}

void OwnerDataListModel::RefreshRows(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, m_Count - 1);
  if (first > last || m_Captions.isEmpty()) return;
  emit dataChanged(index(first, 0), index(last, static_cast<int>(m_Captions.size()) - 1), {Qt::DisplayRole});
}

int OwnerDataListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_Count; }

int OwnerDataListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_Captions.size());
}

QVariant OwnerDataListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  if (!m_CellText) return QString();
  return m_CellText(index.row(), index.column());
}

QVariant OwnerDataListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section >= 0 && section < m_Captions.size()) return m_Captions.at(section);
    return {};
  }
  return section;
}

}  // namespace views
