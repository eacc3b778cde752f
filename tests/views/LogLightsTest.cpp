// The log lights strip: its geometry, the grey "0" before the first counts, each counter's
// colour, a count source, and its destruction before or after the window's panel.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <array>

#include "ViewsTestSupport.h"
#include "views/LogLights.h"

namespace {

const QColor kGrey(0xAA, 0xAA, 0xAA);
const QColor kLevelColours[] = {QColor(0x80, 0x00, 0x80), QColor(0x00, 0x00, 0xFF), QColor(0x00, 0xFF, 0xFF),
                                QColor(0x00, 0x80, 0x00), QColor(0xFF, 0xD7, 0x00), QColor(0xFF, 0x45, 0x00),
                                QColor(0xFF, 0x00, 0x00)};
const char* const kNames[] = {"Debug", "PyWarn", " Warn", "Design", "PyErr", "Error", "Fatal"};

// The colour a counter shows, from its picture (its corner lies outside the text).
QColor Shown(QLabel* label) { return label->grab().toImage().pixelColor(1, 1); }

QLabel* Counter(const views::LogLights& lights, int i) { return lights.Counter(static_cast<ELogLevel>(llDebug + i)); }

class CountSource : public views::ILogCountSource {
 public:
  int GetLogCount(ELogLevel level) override { return counts[static_cast<std::size_t>(level)]; }
  std::array<int, 9> counts{};
};

TEST(LogLightsTest, SevenCountersWithTheirNamesInExactlyTheirPlaces) {
  EnsureOffscreenApplication();
  QWidget window;
  auto* panel = new QWidget(&window);
  panel->resize(500, 90);  // the strip takes its own size, whatever the panel had
  views::LogLights lights(nullptr, &window, panel);
  EXPECT_EQ(Counter(lights, 0), nullptr);
  lights.CreateLights();
  lights.CreateLights();  // builds once only

  EXPECT_EQ(panel->size(), QSize(268, 40));
  EXPECT_EQ(panel->grab().toImage().pixelColor(267, 39), QColor(0xF0, 0xF0, 0xF0));
  ASSERT_EQ(panel->findChildren<QLabel*>().size(), 14);
  for (int i = 0; i < 7; ++i) {
    QLabel* counter = Counter(lights, i);
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->geometry(), QRect(2 + 38 * i, 2, 33, 22)) << i;
    EXPECT_EQ(counter->text(), "0");
    EXPECT_EQ(Shown(counter), kGrey);
    EXPECT_EQ(counter->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(counter->font().bold());
    EXPECT_EQ(counter->font().pointSize(), 10);
  }
  // Each name under its counter, in its level's colour.
  int found = 0;
  for (QLabel* label : panel->findChildren<QLabel*>()) {
    for (int i = 0; i < 7; ++i) {
      if (label->text() != kNames[i]) continue;
      ++found;
      EXPECT_EQ(label->x(), 2 + 38 * i);
      EXPECT_EQ(label->y(), 24);
      EXPECT_EQ(label->width(), 38);
      EXPECT_GE(label->height(), 8);
      EXPECT_LE(label->geometry().bottom(), 39) << "inside the strip";
      EXPECT_EQ(label->palette().color(QPalette::WindowText), kLevelColours[i]);
    }
  }
  EXPECT_EQ(found, 7);
}

TEST(LogLightsTest, EachCounterShowsItsCountInItsColourAndGreyAtZero) {
  EnsureOffscreenApplication();
  QWidget panel;
  views::LogLights lights(nullptr, &panel, &panel);
  lights.CreateLights();

  lights.SetCounts({1, 2, 3, 4, 5, 6, 7});
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Counter(lights, i)->text(), QString::number(i + 1));
    EXPECT_EQ(Shown(Counter(lights, i)), kLevelColours[i]) << kNames[i];
  }
  // Independent counters: "Fatal" at 255 with "Error" at 0 colours only "Fatal".
  lights.SetCounts({0, 0, 0, 0, 0, 0, 255});
  EXPECT_EQ(Counter(lights, 6)->text(), "255");
  EXPECT_EQ(Shown(Counter(lights, 6)), kLevelColours[6]);
  EXPECT_EQ(Counter(lights, 5)->text(), "0");
  EXPECT_EQ(Shown(Counter(lights, 5)), kGrey);
  lights.SetCounts({});
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Shown(Counter(lights, i)), kGrey);
  lights.SetCount(llError, -3);  // nonsense still shows, coloured as not 0
  EXPECT_EQ(Counter(lights, 5)->text(), "-3");
  EXPECT_EQ(Shown(Counter(lights, 5)), kLevelColours[5]);
  lights.SetCount(llInfo, 9);  // not a shown level: nothing
  lights.Refresh();            // no count source: nothing
  EXPECT_EQ(Counter(lights, 5)->text(), "-3");

  // With a count source, Refresh applies only the counts that are not 0.
  CountSource source;
  views::LogLights sourced(&source, &panel, new QWidget(&panel));
  sourced.CreateLights();
  sourced.SetCount(llWarn, 4);
  source.counts[llFatal] = 2;
  sourced.Refresh();
  EXPECT_EQ(sourced.Counter(llFatal)->text(), "2");
  EXPECT_EQ(sourced.Counter(llWarn)->text(), "4");
}

TEST(LogLightsTest, TheStripTakesItsCountersAlongAndSurvivesThePanelGoingFirst) {
  EnsureOffscreenApplication();
  QWidget window;
  auto* panel = new QWidget(&window);
  QPointer<QLabel> counter;
  {
    views::LogLights lights(nullptr, &window, panel);
    lights.CreateLights();
    counter = lights.Counter(llDebug);
  }
  EXPECT_TRUE(counter.isNull());
  EXPECT_EQ(panel->findChildren<QLabel*>().size(), 7) << "the names belong to the window";

  auto* second = new QWidget(&window);
  auto lights = std::make_unique<views::LogLights>(nullptr, &window, second);
  lights->CreateLights();
  delete second;
  EXPECT_EQ(lights->Counter(llFatal), nullptr);
  lights->SetCounts({1, 1, 1, 1, 1, 1, 1});
  lights.reset();
}

}  // namespace
