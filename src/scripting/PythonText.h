// Text out of the interpreter, shared by the script host's source files.
#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <string>

// The bytes of a str: UTF-8, except that bytes which came in undecodable (through
// "surrogateescape") go back out as they came and any other lone surrogate is written as
// an escape (\udXXX). Never fails.
std::string PythonTextBytes(PyObject* unicode);
