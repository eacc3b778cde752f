// Holds the interpreter lock for a scope.
//
// Python 3 keeps one global interpreter lock that must be held by the calling thread for
// every use of the interpreter: building or releasing objects, importing, calling. The
// script host takes it inside each of its own operations and gives it up in between, so
// that any thread may use the host (one at a time). Code outside the host that touches
// interpreter objects -- building an argument tuple, releasing a call's result,
// registering an extension module -- holds a CPythonLock for that time:
//
//   CPythonLock lock;
//   PyObject* args = Py_BuildValue("(y#)", bytes, length);
//   PyObject* result = CallAndReleaseArgs(host, "Fennick.py", "ServerStatusOnCommand", args);
//   Py_XDECREF(result);
//
// (CallWithBytes in CPythonScript.h does exactly this for a byte message.) Nesting is
// allowed. Before the interpreter has been started the lock does nothing.
#pragma once

class CPythonLock {
 public:
  CPythonLock();
  ~CPythonLock();
  CPythonLock(const CPythonLock&) = delete;
  CPythonLock& operator=(const CPythonLock&) = delete;

 private:
  int m_State = 0;  // the interpreter's PyGILState_STATE
  bool m_Held = false;
};
