#include "views/LogLights.h"

#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QWidget>
#include <algorithm>

namespace views {

LogLights::Light::~Light() { delete Label.data(); }

namespace {

void SetBackground(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

}  // namespace

QColor LogLights::LevelColour(int level) {
  static const QColor colours[kLogLevelCount] = {
      QColor(0xAA, 0xAA, 0xAA),  // counter at 0
      QColor(0x87, 0xCE, 0xEB),  // " Info"
      QColor(0x80, 0x00, 0x80),  // "Debug"
      QColor(0x00, 0x00, 0xFF),  // "PyWarn"
      QColor(0x00, 0xFF, 0xFF),  // " Warn"
      QColor(0x00, 0x80, 0x00),  // "Design"
      QColor(0xFF, 0xD7, 0x00),  // "PyErr"
      QColor(0xFF, 0x45, 0x00),  // "Error"
      QColor(0xFF, 0x00, 0x00),  // "Fatal"
  };
  return level >= 0 && level < kLogLevelCount ? colours[level] : colours[0];
}

LogLights::LogLights(ILogCountSource* source, QWidget* owner, QWidget* panel)
    : m_Source(source), m_Owner(owner), m_Panel(panel) {}

LogLights::~LogLights() = default;

void LogLights::CreateLights() {
  if (m_Panel.isNull() || m_Lights.Count() != 0) return;
  int x = kMargin;
  const int y = kMargin;
  for (int level = kFirstLevel; level <= kLastLevel; ++level) {
    auto* counter = new QLabel(m_Panel);
    SetBackground(counter, LevelColour(llNomal));
    SetTextColour(counter, Qt::black);
    counter->setAlignment(Qt::AlignCenter);
    QFont counterFont = counter->font();
    counterFont.setPointSize(10);
    counterFont.setBold(true);
    counter->setFont(counterFont);
    counter->setText("0");
    counter->setGeometry(x, y, kCounterWidth, kCounterHeight);
    counter->setAccessibleDescription(QString::fromLatin1(LogLevelName(level)).trimmed());
    counter->show();
    m_Lights.Add(static_cast<ELogLevel>(level), new Light(counter));

    // The name takes the line height of its text where 8 pixels cannot show it; it stays
    // inside the strip.
    auto* name = new QLabel(QString::fromLatin1(LogLevelName(level)), m_Panel);
    SetTextColour(name, LevelColour(level));
    const int nameHeight =
        std::min(std::max(kNameHeight, name->sizeHint().height()), kStripHeight - (y + kCounterHeight));
    name->setGeometry(x, y + kCounterHeight, kPitch, nameHeight);
    name->show();
    x += kPitch;
  }
  m_Panel->setWindowTitle(QString());
  m_Panel->setFixedSize(x, kCounterHeight + 2 * kGap + kNameHeight);
  SetBackground(m_Panel, QColor(0xF0, 0xF0, 0xF0));
}

void LogLights::Refresh() {
  if (m_Source == nullptr) return;
  for (int level = kFirstLevel; level <= kLastLevel; ++level) {
    const int count = m_Source->GetLogCount(static_cast<ELogLevel>(level));
    if (count != 0) SetCount(static_cast<ELogLevel>(level), count);
  }
}

void LogLights::SetCounts(const std::array<int, kLightCount>& counts) {
  for (int i = 0; i < kLightCount; ++i)
    SetCount(static_cast<ELogLevel>(kFirstLevel + i), counts[static_cast<std::size_t>(i)]);
}

void LogLights::SetCount(ELogLevel level, int count) {
  QLabel* counter = Counter(level);
  if (counter == nullptr) return;
  const QString text = QString::number(count);
  if (counter->text() != text) counter->setText(text);
  const QColor colour = LevelColour(count != 0 ? level : llNomal);
  if (counter->palette().color(QPalette::Window) != colour) SetBackground(counter, colour);
}

QLabel* LogLights::Counter(ELogLevel level) const {
  const Light* light = m_Lights.Find(level);
  return light != nullptr ? light->Label.data() : nullptr;
}

}  // namespace views
