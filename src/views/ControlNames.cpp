#include "views/ControlNames.h"

#include <QAbstractScrollArea>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>

#include "views/StateGrid.h"

namespace views {
namespace {

// The tab caption of a page of a page control, or "" when `widget` is no such page.
QString PageCaption(const QWidget* widget) {
  const auto* stack = qobject_cast<const QStackedWidget*>(widget->parentWidget());
  if (stack == nullptr) return QString();
  const auto* tabs = qobject_cast<const QTabWidget*>(stack->parentWidget());
  if (tabs == nullptr) return QString();
  const int index = tabs->indexOf(const_cast<QWidget*>(widget));
  return index >= 0 ? tabs->tabText(index) : QString();
}

// The caption that stands for a control without one.
QString CaptionFor(const QWidget* control, const QList<QLabel*>& labels) {
  for (const QLabel* label : labels)
    if (label->buddy() == control && !label->text().isEmpty()) return label->text();
  for (const QWidget* up = control->parentWidget(); up != nullptr; up = up->parentWidget()) {
    if (const auto* group = qobject_cast<const QGroupBox*>(up); group && !group->title().isEmpty())
      return group->title();
    const QString page = PageCaption(up);
    if (!page.isEmpty()) return page;
  }
  return QString();
}

bool IsCaptionlessControl(const QWidget* widget) {
  const QString name = widget->objectName();
  if (name.isEmpty() || name.startsWith("qt_")) return false;  // a part of another control
  return qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||
         qobject_cast<const QLineEdit*>(widget) != nullptr || qobject_cast<const StateGrid*>(widget) != nullptr;
}

}  // namespace

void NameControlsByCaption(QWidget* root) {
  if (root == nullptr) return;
  const QList<QLabel*> labels = root->findChildren<QLabel*>();
  for (QTabWidget* tabs : root->findChildren<QTabWidget*>()) {
    for (int i = 0; i < tabs->count(); ++i) {
      QWidget* page = tabs->widget(i);
      if (page->accessibleName().isEmpty()) page->setAccessibleName(tabs->tabText(i));
    }
  }
  for (QWidget* widget : root->findChildren<QWidget*>()) {
    if (!widget->accessibleName().isEmpty() || !IsCaptionlessControl(widget)) continue;
    const QString caption = CaptionFor(widget, labels);
    if (!caption.isEmpty()) widget->setAccessibleName(caption);
  }
}

}  // namespace views
