// The text of one cell of the two map list views. Row n shows map n of the map list; a
// row without a map is empty, a map without a record shows only its first columns
// ("Active" to "CPU" in the map list view, "Name" and "ID" in the map server list view).
//
// Every value is read from the record once per cell, when the view draws it: a map server
// may change its figures between two columns of one row.
#pragma once

#include <QString>

class MapServerInfo;

namespace views {

// Columns of the map list view that a map without a record still shows.
constexpr int kMapListColumnsWithoutRecord = 4;
// Columns of the map server list view that a map without a record still shows.
constexpr int kMapServerListColumnsWithoutRecord = 2;

// Column 0..19 of the map list view ("Table" page); "" for a null map or a column out of range.
QString MapListCellText(const MapServerInfo* info, int column);
// Column 0..6 of the map server list view ("Msg" page).
QString MapServerListCellText(const MapServerInfo* info, int column);

// "%s(%s)" with the display name and the server name.
QString MapNameText(const MapServerInfo& info);
// A 32-bit float in the shortest general decimal form that reads back as the same value.
QString ShortestFloatText(float value);

}  // namespace views
