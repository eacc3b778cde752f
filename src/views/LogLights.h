// The log lights: for the map server the operator selected, a strip of seven counter boxes,
// one per serious log level from "Debug" to "Fatal", each with the level's name under it.
// A box shows its count and takes its level's colour as soon as the count is not 0; at 0
// it is grey. The refresh tick feeds in the selected map server's log counters.
//
// The strip is built on a panel of the window: the name labels belong to the window (they
// go with the panel), the counter labels belong to the strip and go with it.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <array>

#include "common/AIndexList.h"
#include "interfaces/ILog.h"

class QWidget;

namespace views {

// Where the strip may ask for counts by itself. The manager leaves it empty: its counts come
// from the selected map server's record through SetCounts.
class ILogCountSource {
 public:
  virtual ~ILogCountSource() = default;
  virtual int GetLogCount(ELogLevel level) = 0;
};

class LogLights {
 public:
  static constexpr int kFirstLevel = llDebug;
  static constexpr int kLastLevel = llFatal;
  static constexpr int kLightCount = kLastLevel - kFirstLevel + 1;
  // Geometry of the strip.
  static constexpr int kMargin = 2;
  static constexpr int kCounterWidth = 33;
  static constexpr int kCounterHeight = 22;
  static constexpr int kGap = 5;
  static constexpr int kNameHeight = 8;
  static constexpr int kPitch = kCounterWidth + kGap;
  static constexpr int kStripWidth = kMargin + kLightCount * kPitch;            // 268
  static constexpr int kStripHeight = kCounterHeight + 2 * kGap + kNameHeight;  // 40

  // The colour of a level; level 0 is the colour of a counter at 0.
  static QColor LevelColour(int level);

  LogLights(ILogCountSource* source, QWidget* owner, QWidget* panel);
  virtual ~LogLights();
  LogLights(const LogLights&) = delete;
  LogLights& operator=(const LogLights&) = delete;

  // Builds the strip on the panel (once; a second call changes nothing).
  virtual void CreateLights();
  // With a count source, applies its counts that are not 0; without one, nothing.
  virtual void Refresh();
  // The counts of "Debug" to "Fatal", in level order.
  virtual void SetCounts(const std::array<int, kLightCount>& counts);
  // Shows `count` on the level's counter, in the level's colour when not 0, grey when 0.
  void SetCount(ELogLevel level, int count);

  // The counter label of a shown level; null before CreateLights or for another level.
  QLabel* Counter(ELogLevel level) const;

 private:
  // One counter label. The window may be torn down before the strip; a label already gone
  // with its panel is not deleted again.
  struct Light {
    explicit Light(QLabel* label) : Label(label) {}
    ~Light();
    QPointer<QLabel> Label;
  };

  ILogCountSource* m_Source;
  QPointer<QWidget> m_Owner;
  QPointer<QWidget> m_Panel;
  AIndexListPro<ELogLevel, Light> m_Lights{true};
};

}  // namespace views
