// Finds a control of the main window by its object name, which is the control's name in
// the window's outline ("btnStart", "lvMaps", "ttTimer"), so that tests and benchmarks see
// the window as an operator does, through its controls, and never through its insides.
#pragma once

#include <QAbstractItemView>
#include <QObject>
#include <stdexcept>
#include <string>

#include "views/OwnerDataListModel.h"

// The control named `name` of type T; throws (which fails the test) when there is none.
template <typename T>
T* Control(const QObject& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) throw std::logic_error(std::string("the window has no control named ") + name);
  return found;
}

// The owner-data model behind the list view named `name` ("lvMaps", "lvMapServerList").
inline views::OwnerDataListModel* ListModel(const QObject& window, const char* name) {
  auto* model = qobject_cast<views::OwnerDataListModel*>(Control<QAbstractItemView>(window, name)->model());
  if (model == nullptr) throw std::logic_error(std::string("the list view has no owner-data model: ") + name);
  return model;
}
