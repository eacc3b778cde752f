// The status script's extension module: class IPY_SSLogicProcess with SendPack, and the
// generic sequences IntVector and DoubleVector (with their iterator SwigPyIterator).
// Scripts import the generated wrapper IPY_SSLogicProcess.py, which imports the module
// "_IPY_SSLogicProcess" that the manager registers in its interpreter.
%module IPY_SSLogicProcess

%begin %{
// Byte strings stand where the original interpreter had str: `char *` takes bytes only.
#define SWIG_PYTHON_STRICT_BYTE_CHAR
%}

%{
#include "statuslink/IPY_SSLogicProcess.h"
%}

%include "std_vector.i"
%template(IntVector) std::vector<int>;
%template(DoubleVector) std::vector<double>;

// The byte arguments keep their size (SWIG counts a terminator in it), so that a length
// beyond the bytes given is refused instead of sending what lies behind them. The locals are
// named by argument number (2 for the head, 4 for the body), which is how the length checks
// below find them.
%typemap(in) char* (char* buf = 0, size_t size = 0, int alloc = 0) {
  int res = SWIG_AsCharPtrAndSize($input, &buf, &size, &alloc);
  if (!SWIG_IsOK(res)) {
    SWIG_exception_fail(SWIG_ArgError(res), "in method '" "$symname" "', argument " "$argnum"" of type '" "$type""'");
  }
  $1 = buf;
}
%typemap(freearg) char* "if (alloc$argnum == SWIG_NEWOBJ) delete[] buf$argnum;";
%typemap(check) int headLen {
  if ($1 < 0 || ($1 > 0 && static_cast<size_t>($1) >= size2)) {
    PyErr_SetString(PyExc_ValueError, "in method '" "$symname" "', argument 3 is not within the length of argument 2");
    SWIG_fail;
  }
}
%typemap(check) int bodyLen {
  if ($1 < 0 || ($1 > 0 && static_cast<size_t>($1) >= size4)) {
    PyErr_SetString(PyExc_ValueError, "in method '" "$symname" "', argument 5 is not within the length of argument 4");
    SWIG_fail;
  }
}

%include "statuslink/IPY_SSLogicProcess.h"
