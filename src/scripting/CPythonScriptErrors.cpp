// The script host's messages and error reports: the message history, the text of a Python
// object, and the report of the pending Python error with its traceback.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

#include <ctime>
#include <string>

#include "common/Utils.h"
#include "components/LogComponent.h"
#include "platform/clock.h"
#include "scripting/CPythonLock.h"
#include "scripting/CPythonScript.h"
#include "scripting/PythonText.h"

std::string PythonTextBytes(PyObject* unicode) {
  PyObject* encoded = PyUnicode_AsEncodedString(unicode, "utf-8", "surrogateescape");
  if (encoded != nullptr) {
    std::string text(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
    return text;
  }
  PyErr_Clear();
  std::string text;
  Py_ssize_t length = PyUnicode_GetLength(unicode);
  for (Py_ssize_t i = 0; i < length; ++i) {
    Py_UCS4 ch = PyUnicode_ReadChar(unicode, i);
    if (ch >= 0xDC80 && ch <= 0xDCFF) {
      text += static_cast<char>(ch - 0xDC00);
    } else if (ch >= 0xD800 && ch <= 0xDFFF) {
      text += FormatText("\\u%04x", static_cast<unsigned>(ch));
    } else if (ch < 0x80) {
      text += static_cast<char>(ch);
    } else if (ch < 0x800) {
      text += static_cast<char>(0xC0 | (ch >> 6));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
      text += static_cast<char>(0xE0 | (ch >> 12));
      text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (ch >> 18));
      text += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  PyErr_Clear();
  return text;
}

// ---------------------------------------------------------------------------------------
// Messages and error reports

void CPythonScript::AddMessage(const std::string& kind, const std::string& text, bool isError) {
  // The history and the message number are shared with LogUI.Msg on script threads, which
  // hold the interpreter lock; the lock keeps the two from running side by side.
  CPythonLock lock;
  if (m_Messages.size() > kMaxHistoryLines) m_Messages.clear();
  ILog* log = LogObject();
  if (isError)
    log->ScriptError(0, text.c_str());
  else
    log->ScriptOutput(0, text.c_str());
  std::time_t now = platform::CurrentClock().Now();
  std::tm local{};
  localtime_r(&now, &local);
  char timeText[16];
  std::strftime(timeText, sizeof timeText, "%H:%M:%S", &local);
  m_Messages.push_back(FormatText("[%s][#%d %s] : %s", kind.c_str(), m_MessageNo, timeText, text.c_str()));
  ++m_MessageNo;
}

std::string CPythonScript::ObjectText(PyObject* object) {
  if (object == nullptr) return std::string();
  if (PyBytes_Check(object))
    return std::string(PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
  PyObject* text = PyObject_Str(object);
  if (text == nullptr) {
    PyErr_Clear();
    return FormatText("<unprintable %s object>", Py_TYPE(object)->tp_name);
  }
  std::string result = PythonTextBytes(text);
  Py_DECREF(text);
  return result;
}

std::string CPythonScript::FormatPythonError() {
  if (!m_Ready || !Py_IsInitialized()) return "NoError Or Unknown";
  CPythonLock lock;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr && value == nullptr) {
    Py_XDECREF(traceback);
    return "NoError Or Unknown";
  }
  // A value that is a text (as C code raises it) is reported as it stands; any other value
  // is first made into the exception object and rendered by its own text. An error
  // raised from C code with a type alone gets its value made here too, so that the
  // report names the type rather than claiming there was no error.
  std::string valueText;
  if (value != nullptr && (PyUnicode_Check(value) || PyBytes_Check(value))) {
    valueText = ObjectText(value);
  } else {
    PyErr_NormalizeException(&type, &value, &traceback);
    valueText = ObjectText(value);
  }
  std::string typeName = type != nullptr && PyType_Check(type) ? reinterpret_cast<PyTypeObject*>(type)->tp_name : "";
  std::string result = FormatText("Error Message:\r\n%s:%s", typeName.c_str(), valueText.c_str());
  if (traceback != nullptr && PyTraceBack_Check(traceback)) {
    result += "\r\nTraceback:\r\n";
    // The chain runs from the outermost call to the frame that raised.
    PyObject* record = traceback;
    Py_INCREF(record);
    while (record != nullptr && PyTraceBack_Check(record)) {
      std::string function;
      std::string file;
      long line = 0;
      PyObject* lineNumber = PyObject_GetAttrString(record, "tb_lineno");
      if (lineNumber != nullptr) line = PyLong_AsLong(lineNumber);
      Py_XDECREF(lineNumber);
      PyObject* frame = PyObject_GetAttrString(record, "tb_frame");
      if (frame != nullptr && PyFrame_Check(frame)) {
        PyCodeObject* code = PyFrame_GetCode(reinterpret_cast<PyFrameObject*>(frame));
        PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(code), "co_name");
        PyObject* fileName = PyObject_GetAttrString(reinterpret_cast<PyObject*>(code), "co_filename");
        function = ObjectText(name);
        file = ObjectText(fileName);
        Py_XDECREF(name);
        Py_XDECREF(fileName);
        Py_DECREF(code);
      }
      Py_XDECREF(frame);
      PyErr_Clear();
      result += FormatText("%s: %s(# %d)\r\n", function.c_str(), file.c_str(), static_cast<int>(line));
      PyObject* next = PyObject_GetAttrString(record, "tb_next");
      Py_DECREF(record);
      record = next;
    }
    Py_XDECREF(record);
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  PyErr_Clear();
  return result;
}
