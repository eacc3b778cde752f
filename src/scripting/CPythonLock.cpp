// The interpreter lock for a scope.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "scripting/CPythonLock.h"

CPythonLock::CPythonLock() {
  if (!Py_IsInitialized()) return;
  m_State = static_cast<int>(PyGILState_Ensure());
  m_Held = true;
}

CPythonLock::~CPythonLock() {
  // The interpreter may have been finalized inside the scope by an owning host; its
  // thread states are gone then and there is nothing to give back.
  if (m_Held && Py_IsInitialized()) PyGILState_Release(static_cast<PyGILState_STATE>(m_State));
}
