#include "registry/MapServerData.h"

#include "common/Utils.h"

MapServerData::MapServerData(const std::string& serverName, int mapId)
    : m_ServerName(serverName),
      m_MapID(mapId),
      m_Key(FormatText("%s_%d", serverName.c_str(), mapId)),
      m_ShareData(m_Key + "_Config") {}
