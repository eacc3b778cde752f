// Colours of the state grid and the legend that explains them.
#pragma once

#include <QColor>
#include <array>

namespace views {

inline const QColor kCellEmpty{0xFF, 0xFF, 0xFF};        // no map, or no record
inline const QColor kCellNotStarted{0x80, 0x80, 0x80};   // states 0, 1, 2 and unknown ones
inline const QColor kCellPythonError{0x00, 0xFF, 0x00};  // state 4
inline const QColor kCellCppError{0x00, 0x00, 0xFF};     // state 5
inline const QColor kCellState6{0x00, 0x00, 0x00};       // state 6
inline const QColor kCellLight{0x00, 0xFF, 0xFF};        // running, load below 20
inline const QColor kCellNormal{0xFF, 0xFF, 0x00};       // running, load 20 to below 50
inline const QColor kCellHeavy{0xFF, 0x00, 0xFF};        // running, load 50 to below 70
inline const QColor kCellVeryHeavy{0xFF, 0x00, 0x00};    // running, load 70 or more

struct LegendEntry {
  const QColor* colour;
  const char* caption;
};

// The legend on the "Info" page beside the grid, top to bottom.
inline const std::array<LegendEntry, 7> kGridLegend = {{
    {&kCellNotStarted, "ServerNotStart"},
    {&kCellPythonError, "pythonError"},
    {&kCellCppError, "c++Error"},
    {&kCellLight, "Light(Player<20%)"},
    {&kCellNormal, "Normal(Player<50%)"},
    {&kCellHeavy, "Heavy(Player<70%)"},
    {&kCellVeryHeavy, "VeryHeavy"},
}};

inline constexpr const char* kGridHint = "DoubleClickCubeToShowDetail";

}  // namespace views
