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
  m_Library = platform::LoadLibrary(path);
  if (m_Library == nullptr) {
    LogObject()->LogFatal("Load DLL %s fail!", path.c_str());
    m_LoadFailed = true;
    return;
  }
  m_Init = reinterpret_cast<PyDataInitFunc>(platform::GetProcAddress(m_Library, "PyData_Init"));
  if (m_Init == nullptr) LogObject()->LogFatal("Get PyData_Init fucntion address fail!");
  m_AddFromPack = reinterpret_cast<PyDataAddFromPackFunc>(platform::GetProcAddress(m_Library, "PyData_AddFromPack"));
  if (m_AddFromPack == nullptr) LogObject()->LogFatal("Get PyData_AddFromPack fucntion address fail!");
  m_Release = reinterpret_cast<PyDataReleaseFunc>(platform::GetProcAddress(m_Library, "PyData_Release"));
  if (m_Release == nullptr) LogObject()->LogFatal("Get PyData_Release fucntion address fail!");
}

CPySysGameData::~CPySysGameData() {
  if (m_Release != nullptr) m_Release();
}

void CPySysGameData::InitPyData() {
  if (m_Init != nullptr) m_Init();
}
