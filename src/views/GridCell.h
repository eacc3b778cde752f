// The rule that decides what one cell of the state grid shows, apart from the painting,
// so that it can be driven without a display.
//
// A cell shows the map at its list position: white without a map or record; otherwise the
// colour of the map server's state (lime for a script error, blue for a program error,
// black when disconnected, grey for anything else), and while it runs the colour of its
// player load instead. The error day marks the day of the month on which the grid first
// saw the map fall from "Running" into an error state; it is written into the cell from
// the next repaint on, while the map is not running, until the map list is reloaded.
#pragma once

#include <QColor>
#include <cstdint>

class MapServerData;
struct tagMapServerData;

namespace views {

// Players in percent of the capacity, truncated toward zero; 0 when the capacity is 0 or
// negative. Exact for every pair of 32-bit values (a load beyond the int range is held at
// its end).
int PlayerLoad(int32_t players, int32_t maxPlayers);
// The grid colour of a running map at this load.
const QColor& LoadColour(int load);
// The grid colour of a state (the colour a running map has before its load is applied).
const QColor& StateColour(int32_t state);

// What the draw-cell rule paints into one cell, step by step.
struct CellPlan {
  bool HasData = false;  // a map with a record: without one the cell stays white
  QColor StateColour;    // the box painted in the state's colour
  int DayShown = 0;      // the error day written into the cell, 0 for none
  bool Running = false;  // state 3: the box is painted again in the load colour
  QColor LoadColour;
  // The colour the cell shows once painted.
  QColor Final() const;
};

// Runs the draw-cell rule for one map (null `data` or `record`: no map or no record). Reads
// the record's state and players once, and updates the map's error day and last drawn
// state. `today` is the day of the month, 1 to 31.
CellPlan PlanCell(MapServerData* data, const tagMapServerData* record, int today);

// The local day of the month, from the platform's clock.
int TodayOfMonth();

}  // namespace views
