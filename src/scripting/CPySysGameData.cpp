// The bridge to the system data component.
#include "scripting/CPySysGameData.h"

#include "components/LogComponent.h"
#include "platform/library.h"
#include "platform/paths.h"

CPySysGameData::CPySysGameData(const std::string& path) {
  std::string file = platform::LogicalFileName(path);
  if (!platform::FileExists(file) || platform::DirectoryExists(file)) {
    LogObject()->LogInfo("%s not exist. Pysysdb will be not open.", path.c_str());
    return;
  }
  m_Library = platform::Library(path);
  if (!m_Library) {
    LogObject()->LogFatal("Load DLL %s fail!", path.c_str());
    m_LoadFailed = true;
    return;
  }
  // Optional: a component that writes to the manager's log is told how to reach it.
  if (auto setLog = m_Library.Resolve<PyDataSetLogFunc>("PyData_SetLog")) setLog(&LogObject);
  m_Init = m_Library.Resolve<PyDataInitFunc>("PyData_Init");
  if (m_Init == nullptr) LogObject()->LogFatal("Get PyData_Init fucntion address fail!");
  m_AddFromPack = m_Library.Resolve<PyDataAddFromPackFunc>("PyData_AddFromPack");
  if (m_AddFromPack == nullptr) LogObject()->LogFatal("Get PyData_AddFromPack fucntion address fail!");
  m_Release = m_Library.Resolve<PyDataReleaseFunc>("PyData_Release");
  if (m_Release == nullptr) LogObject()->LogFatal("Get PyData_Release fucntion address fail!");
}

CPySysGameData::~CPySysGameData() {
  if (m_Release != nullptr) m_Release();
  // The library stays loaded: the interpreter may still hold what the component made.
  m_Library.KeepLoaded();
}

void CPySysGameData::InitPyData() {
  if (m_Init != nullptr) m_Init();
}
