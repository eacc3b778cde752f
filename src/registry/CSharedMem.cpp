#include "registry/CSharedMem.h"

#include <cerrno>

#include "common/Utils.h"
#include "platform/shared_memory.h"

CSharedMem::CSharedMem(const std::string& name, int size, bool& existed) : m_Size(size), m_Name(name) {
  int errorCode = 0;
  bool wasThere = false;
  if (size > 0) {
    m_Handle = platform::CreateSharedSegment(name, static_cast<std::size_t>(size), &wasThere, &errorCode);
  } else {
    // A segment of no bytes cannot be created; report it as the system would.
    errorCode = EINVAL;
  }
  if (m_Handle < 0 && errorCode == 0) errorCode = EINVAL;  // no handle is always a failure

  if (errorCode == platform::kErrorAlreadyExists) {
    existed = true;
  } else if (errorCode != 0) {
    DebugOut(FormatText("CSharedMem::CSharedMem CreateFileMapping fail,name=%s,errorno=%d errorInfo=%s", name.c_str(),
                        errorCode, platform::SystemErrorText(errorCode).c_str())
                 .c_str());
    existed = false;
  } else if (wasThere) {
    existed = true;
  }

  if (m_Handle >= 0) {
    int mapError = 0;
    m_View = platform::MapSharedSegment(m_Handle, static_cast<std::size_t>(size), &mapError);
    if (m_View == nullptr) {
      DebugOut(
          FormatText("CSharedMem::CSharedMem MapViewOfFile fail,name=%s,errorno=%d", name.c_str(), mapError).c_str());
    }
  }
  // The first holder starts from zeros: the platform zero-fills a fresh segment under its
  // exclusive lock, before any other process can open it. Filling it again here would race
  // with a map server that opened it in the meantime and wipe its first writes (its Hwnd).
  m_Valid = m_Handle >= 0 && m_View != nullptr;
}

CSharedMem::~CSharedMem() {
  if (m_View != nullptr) platform::UnmapSharedSegment(m_View, static_cast<std::size_t>(m_Size));
  if (m_Handle >= 0) platform::CloseSharedSegment(m_Handle);
}
