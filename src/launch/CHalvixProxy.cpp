#include "launch/CHalvixProxy.h"

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/library.h"
#include "platform/paths.h"

CHalvixProxy& CHalvixProxy::GetProxy() {
  // Lives until the process ends: the component may still be called while the window is
  // torn down.
  static CHalvixProxy* proxy = new CHalvixProxy;
  return *proxy;
}

CHalvixProxy::~CHalvixProxy() { Release(); }

bool CHalvixProxy::Init(LaunchControlCallback requestStart, LaunchControlCallback requestStop) {
  if (m_Initialized) return true;
  if (!m_Module) {
    // The component is looked for in the current directory as the process sees it now.
    const std::string path = FormatText("%s/%s", platform::CurrentDirectory().c_str(), "Halvix.dll");
    // The current directory may be anybody's: a library there that another user could have
    // put or changed would run as this manager.
    std::string reason;
    if (!platform::IsLibraryFileTrusted(path, &reason)) {
      LogObject()->LogWarn("CHalvixProxy::Init refusing to load %s: %s", path.c_str(), reason.c_str());
      return false;
    }
    m_Module = platform::Library(path);
    if (!m_Module) return false;
  }
  m_GetInstance = m_Module.Resolve<GetLaunchControlInstanceFunc>("GetLaunchControlInstance");
  m_ReleaseInstance = m_Module.Resolve<ReleaseLaunchControlInstanceFunc>("ReleaseLaunchControlInstance");
  if (m_GetInstance == nullptr || m_ReleaseInstance == nullptr) {
    Unload();
    return false;
  }
  ILaunchControl* instance = m_GetInstance();
  // The library stays loaded when the component declines.
  if (instance == nullptr || !instance->Init(requestStart, requestStop, 0)) return false;
  m_Initialized = true;
  return true;
}

bool CHalvixProxy::Release() {
  if (!m_Initialized) return true;
  if (m_ReleaseInstance != nullptr) m_ReleaseInstance();
  Unload();
  m_Initialized = false;
  return true;
}

void CHalvixProxy::Unload() {
  m_Module.Unload();
  m_GetInstance = nullptr;
  m_ReleaseInstance = nullptr;
}

ILaunchControl* CHalvixProxy::GetInstance() {
  if (!m_Initialized || m_GetInstance == nullptr) return nullptr;
  return m_GetInstance();
}

bool CHalvixProxy::ReleaseInstance() {
  if (m_ReleaseInstance != nullptr) m_ReleaseInstance();
  return true;
}

ILaunchControl* CHalvixProxy::NotifyTarget() { return IsInitialized() ? GetInstance() : nullptr; }

void CHalvixProxy::NotifyInitialized() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyInitialized();
}

void CHalvixProxy::NotifyStarting() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyStarting();
}

void CHalvixProxy::NotifyStarted() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyStarted();
}

void CHalvixProxy::NotifyStopping() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyStopping();
}

void CHalvixProxy::NotifyStopped() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyStopped();
}

void CHalvixProxy::NotifyClosing() {
  if (ILaunchControl* instance = NotifyTarget()) instance->NotifyClosing();
}
