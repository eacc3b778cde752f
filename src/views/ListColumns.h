// Column captions of the two map list views, in column order.
#pragma once

#include <array>

namespace views {

// The map list view on the "Table" page: one row per map of the map list.
inline constexpr std::array<const char*, 20> kMapListColumns = {
    "Active",
    "Name",
    "ID",
    "CPU",
    "Status",
    "GameObjCnt",
    "PlayerCount",
    "Current Item Count",
    "FPS",
    "PID",
    "hwnd",
    "XML Load Count",
    "Pack Total",
    "FB Count",
    "Commited Memory(MB)",
    "Commited Virtual Memory(MB)",
    "Allocated Player Count",
    "Allocated Item Count",
    "Stream Data Saving Cost Time",
    "MapManagerNo",
};

// The map server list view on the "Msg" page.
inline constexpr std::array<const char*, 7> kMapServerListColumns = {
    "Name", "ID", "状态", "在线人数", "当前物品总数", "FPS", "PID",
};

}  // namespace views
