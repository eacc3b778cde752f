#include "runtime/UserThread.h"

UserThread::UserThread(const std::string& name, ThreadWorkFunc func, void* userData, bool comInit)
    : m_Name(name), m_WorkFunc(func), m_UserData(userData), m_ComInit(comInit) {}

UserThread::~UserThread() {
  // The worker ends (if it still runs) and is destroyed here; its exit callback touches
  // this entry, so the entry's fields must outlive it.
  m_Worker.reset();
}

void UserThread::OnWorkerExit(void* context, int index) { static_cast<UserThread*>(context)->m_Thread.store(nullptr); }
