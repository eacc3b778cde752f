#include "views/GridCell.h"

#include <algorithm>
#include <climits>
#include <ctime>

#include "platform/clock.h"
#include "registry/MapServerData.h"
#include "registry/RecordAccess.h"
#include "views/GridColours.h"

namespace views {

int PlayerLoad(int32_t players, int32_t maxPlayers) {
  if (maxPlayers <= 0) return 0;
  // In 64 bits the product cannot overflow and the quotient is the exact truncation, where
  // a floating-point quotient can land just below a whole percentage (57 of 100 as 56.99..).
  const int64_t load = static_cast<int64_t>(players) * 100 / maxPlayers;
  return static_cast<int>(std::clamp<int64_t>(load, INT_MIN, INT_MAX));
}

const QColor& LoadColour(int load) {
  if (load < 20) return kCellLight;
  if (load < 50) return kCellNormal;
  if (load < 70) return kCellHeavy;
  return kCellVeryHeavy;
}

const QColor& StateColour(int32_t state) {
  switch (state) {
    case msPythonError: return kCellPythonError;
    case msCppError: return kCellCppError;
    case msDisconnected: return kCellState6;
    default: return kCellNotStarted;
  }
}

QColor CellPlan::Final() const {
  if (!HasData) return kCellEmpty;
  return Running ? LoadColour : StateColour;
}

CellPlan PlanCell(MapServerData* data, const tagMapServerData* record, int today) {
  CellPlan plan;
  if (data == nullptr || record == nullptr) return plan;
  plan.HasData = true;
  const int32_t state = record::State(*record);
  plan.StateColour = StateColour(state);
  const int notedDay = data->m_ErrorDay;
  if ((state == msPythonError || state == msCppError) && data->m_ErrorDay == 0 && data->m_LastDrawState == msRunning)
    data->m_ErrorDay = today;
  plan.DayShown = notedDay;
  data->m_LastDrawState = state;
  if (state == msRunning) {
    plan.Running = true;
    plan.LoadColour = LoadColour(PlayerLoad(record::Load(record->PlayerCnt), record::Load(record->MaxPlayerCnt)));
  }
  return plan;
}

int TodayOfMonth() {
  const std::time_t now = platform::CurrentClock().Now();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 1;
  return local.tm_mday;
}

}  // namespace views
