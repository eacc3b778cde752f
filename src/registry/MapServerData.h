// One map's identity and its shared record: the key "<server name>_<map id>" names the
// segment "<key>_Config" that the map server writes into.
#pragma once

#include <string>

#include "interfaces/tagMapServerData.h"
#include "registry/AShareStructObj.h"

class MapServerData {
 public:
  // Builds the key and creates (zero-filled) or opens the map's shared record.
  MapServerData(const std::string& serverName, int mapId);

  MapServerData(const MapServerData&) = delete;
  MapServerData& operator=(const MapServerData&) = delete;

  const std::string& GetServerName() const { return m_ServerName; }
  int GetMapID() const { return m_MapID; }
  const std::string& GetKey() const { return m_Key; }
  // The shared record, or null when its segment could not be created or mapped.
  tagMapServerData* GetShareData() const { return m_ShareData.GetData(); }

  // The state the grid drew last (3 at construction) and the day of the month on which
  // the grid first saw the map fall from "Running" into an error state (0: none).
  int m_LastDrawState = 3;
  int m_ErrorDay = 0;

 private:
  std::string m_ServerName;
  int m_MapID;
  std::string m_Key;
  AShareStructObj<tagMapServerData> m_ShareData;
};
