// The script host against real script files: loading and the module cache, calls and
// their failure messages, error reports, the host module LogUI, reloads, the message
// history and the process-wide host with its tracking switch.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

#include "ScriptTestSupport.h"
#include "scripting/CPythonScriptEx.h"

using namespace scripting_test;

namespace {

constexpr int kOutput = -1;  // RecordingLog's level of ScriptOutput
constexpr int kError = -2;   // RecordingLog's level of ScriptError

// True when `line` is the history line "[kind][#number hh:mm:ss] : text".
bool IsHistoryLine(const std::string& line, const std::string& kind, const std::string& text) {
  std::string head = "[" + kind + "][#";
  if (line.rfind(head, 0) != 0) return false;
  size_t at = head.size();
  size_t digits = at;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  if (digits == at || digits + 10 > line.size()) return false;
  std::string clock = line.substr(digits, 10);  // " hh:mm:ss]"
  for (size_t i : {1u, 2u, 4u, 5u, 7u, 8u})
    if (!std::isdigit(static_cast<unsigned char>(clock[i]))) return false;
  if (clock[0] != ' ' || clock[3] != ':' || clock[6] != ':' || clock[9] != ']') return false;
  return line.substr(digits + 10) == " : " + text;
}

class ScriptHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = CPythonScriptEx::GetInstance();
    ASSERT_TRUE(host->IsReady());
    AddSearchPath(dir.Path());
    log.Clear();
  }
  void TearDown() override {
    RemoveSearchPath(dir.Path());
    EXPECT_FALSE(ErrorPending()) << "an interpreter error was left pending";
  }
  std::vector<std::string> Errors() const { return log.Texts(kError); }

  RecordingLog log;
  TempDir dir;
  CPythonScriptEx* host = nullptr;
};

TEST_F(ScriptHostTest, ScriptNamedLikeItsDirectoryIsReportedAndStillImported) {
  std::string path = dir / "Status/Status.py";
  WriteFile(path, "def Value():\n    return 7\n");
  WriteFile(dir / "Status/Unrelated.py", "X = 1\n");
  AddSearchPath(dir / "Status");

  EXPECT_TRUE(host->LoadFromFile(path));
  std::vector<std::string> expected = {"文件 " + path +
                                       " 读取有可能失败, 请检查python脚本名称是否和目录名相同(如果相同, 则执行不了)!"};
  EXPECT_EQ(Errors(), expected);
  EXPECT_EQ(TakeText(host->CallFunction(path, "Value", nullptr)), "7");

  // A script whose name differs from every directory is not reported.
  log.Clear();
  EXPECT_TRUE(host->LoadFromFile(dir / "Status/Unrelated.py"));
  EXPECT_TRUE(Errors().empty());
  RemoveSearchPath(dir / "Status");
}

TEST_F(ScriptHostTest, PathWithoutDotImportsTheModuleNamedByTheWholePath) {
  WriteFile(dir / "NoDotModule.py", "def Where():\n    return 'found'\n");
  EXPECT_TRUE(host->LoadFromFile("NoDotModule"));
  ASSERT_NE(host->FindModule("nodotmodule"), nullptr);
  EXPECT_EQ(TakeText(host->CallFunction("NoDotModule", "Where", nullptr)), "found");
  EXPECT_TRUE(Errors().empty()) << "no name-check report for a name without a stem";

  // A full path is no module name: the import fails and is reported under the
  // lower-cased path.
  std::string full = dir / "NoDotOther";
  WriteFile(full + ".txt", "");
  EXPECT_FALSE(host->LoadFromFile(full));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "Error Message:\r\nModuleNotFoundError:No module named '" + full + "'");
  std::string lowered = full;
  for (char& ch : lowered) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(host->Messages().back().rfind("[" + lowered + "][#0 ", 0), 0u) << host->Messages().back();
}

TEST_F(ScriptHostTest, PathsDifferingInCaseShareOneEntry) {
  std::string path = dir / "CaseModule.py";
  WriteFile(path, "calls = 0\ndef Hit():\n    global calls\n    calls += 1\n    return calls\n");
  int before = host->ModuleCount();
  EXPECT_TRUE(host->LoadFromFile(path));
  EXPECT_EQ(host->ModuleCount(), before + 1);

  std::string upper = dir / "CASEMODULE.PY";
  EXPECT_EQ(TakeText(host->CallFunction(upper, "Hit", nullptr)), "1");
  EXPECT_EQ(TakeText(host->CallFunction(path, "Hit", nullptr)), "2");
  EXPECT_EQ(host->ModuleCount(), before + 1);
  EXPECT_EQ(host->FindModule(upper), host->FindModule(path));
  EXPECT_EQ(host->FindModule(path)->name, host->FindModule(dir / "casemodule.py")->name);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(ScriptHostTest, FailedImportIsRetriedByLoadButReportedByLaterCalls) {
  std::string late = dir / "LateModule.py";
  EXPECT_FALSE(host->LoadFromFile(late));
  EXPECT_EQ(Errors(), std::vector<std::string>{"Error Message:\r\nModuleNotFoundError:No module named 'LateModule'"});
  ASSERT_NE(host->FindModule(late), nullptr);
  EXPECT_EQ(host->FindModule(late)->module, nullptr);
  WriteFile(late, "def Ready():\n    return 'ready'\n");
  EXPECT_TRUE(host->LoadFromFile(late)) << "a second load imports again";
  EXPECT_EQ(TakeText(host->CallFunction(late, "Ready", nullptr)), "ready");

  log.Clear();
  std::string called = dir / "LateCalled.py";
  EXPECT_EQ(host->CallFunction(called, "Ready", nullptr), nullptr);
  EXPECT_EQ(Errors(), (std::vector<std::string>{"Error Message:\r\nModuleNotFoundError:No module named 'LateCalled'",
                                                "Can Not Find File!"}));
  WriteFile(called, "def Ready():\n    return 'ready'\n");
  log.Clear();
  EXPECT_EQ(host->CallFunction(called, "Ready", nullptr), nullptr) << "a call never imports a failed file again";
  EXPECT_EQ(Errors(), std::vector<std::string>{"Can Not Find File!"});
}

TEST_F(ScriptHostTest, RaisedErrorIsReportedWithEveryTracebackRecordOutermostFirst) {
  std::string path = dir / "DeepModule.py";
  WriteFile(path,
            "def h():\n"
            "    raise ValueError('deep failure')\n"
            "def g():\n"
            "    h()\n"
            "def f():\n"
            "    g()\n");
  EXPECT_EQ(host->CallFunction(path, "f", nullptr), nullptr);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0],
            "Error Message:\r\nValueError:deep failure\r\nTraceback:\r\n"
            "f: " +
                path +
                "(# 6)\r\n"
                "g: " +
                path +
                "(# 4)\r\n"
                "h: " +
                path + "(# 2)\r\n");
  EXPECT_EQ(host->Messages().back().rfind("[" + path + "][#", 0), 0u) << "kind is the resolved path";
}

TEST_F(ScriptHostTest, ErrorReportRendersAnyValueAndLeavesNothingPending) {
  EXPECT_EQ(host->FormatPythonError(), "NoError Or Unknown");
  {
    CPythonLock lock;
    PyErr_SetString(PyExc_KeyError, "missing key");
  }
  EXPECT_EQ(host->FormatPythonError(), "Error Message:\r\nKeyError:missing key") << "a text value as it stands";
  EXPECT_FALSE(ErrorPending());
  {
    CPythonLock lock;
    PyErr_SetNone(PyExc_RuntimeError);
  }
  EXPECT_EQ(host->FormatPythonError(), "Error Message:\r\nRuntimeError:") << "a type alone is still named";

  std::string path = dir / "OddValues.py";
  WriteFile(path,
            "class BadText(Exception):\n"
            "    def __str__(self):\n"
            "        raise RuntimeError('no text')\n"
            "def Unprintable():\n"
            "    raise BadText()\n"
            "def Undecodable():\n"
            "    raise ValueError(b'\\xc4\\xe3'.decode('utf-8', 'surrogateescape') + '\\ud800')\n"
            "def EmptySet():\n"
            "    set().pop()\n"
            "def MissingKey():\n"
            "    {}['absent']\n");
  EXPECT_EQ(host->CallFunction(path, "Unprintable", nullptr), nullptr);
  EXPECT_EQ(host->CallFunction(path, "Undecodable", nullptr), nullptr);
  // The interpreter's own text value is reported as it stands; an object value by its text.
  EXPECT_EQ(host->CallFunction(path, "EmptySet", nullptr), nullptr);
  EXPECT_EQ(host->CallFunction(path, "MissingKey", nullptr), nullptr);
  ASSERT_EQ(Errors().size(), 4u);
  EXPECT_EQ(Errors()[2],
            "Error Message:\r\nKeyError:pop from an empty set\r\nTraceback:\r\nEmptySet: " + path + "(# 9)\r\n");
  EXPECT_EQ(Errors()[3], "Error Message:\r\nKeyError:'absent'\r\nTraceback:\r\nMissingKey: " + path + "(# 11)\r\n");
  EXPECT_EQ(Errors()[0].rfind("Error Message:\r\nBadText:<unprintable BadText object>\r\nTraceback:\r\n", 0), 0u)
      << Errors()[0];
  // Bytes that came in undecoded go out as they came; other surrogates as escapes.
  EXPECT_EQ(Errors()[1].rfind("Error Message:\r\nValueError:\xc4\xe3\\ud800\r\n", 0), 0u) << Errors()[1];
}

TEST_F(ScriptHostTest, MissingFunctionIsReportedWithTheNamespaceKeys) {
  std::string path = dir / "SparseModule.py";
  WriteFile(path, "present = 1\ndef other():\n    return None\n");
  EXPECT_EQ(host->CallFunction(path, "absent", nullptr), nullptr);
  std::vector<std::string> errors = Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[0], "Function : absent Run Fail : NoError Or Unknown");
  std::vector<std::string> keys(errors.begin() + 1, errors.end());
  RunPython("import sys\n_vemo_keys = '|'.join(sys.modules['SparseModule'].__dict__.keys())");
  PyObject* main = nullptr;
  std::string expected;
  {
    CPythonLock lock;
    main = PyImport_AddModule("__main__");
    expected = PyUnicode_AsUTF8(PyDict_GetItemString(PyModule_GetDict(main), "_vemo_keys"));
  }
  std::string joined;
  for (size_t i = 0; i < keys.size(); ++i) joined += (i ? "|" : "") + keys[i];
  EXPECT_EQ(joined, expected);
  EXPECT_NE(expected.find("__name__|__doc__"), std::string::npos);
  EXPECT_NE(expected.find("__builtins__"), std::string::npos);

  // A name that is there but cannot be called is reported the same way.
  log.Clear();
  EXPECT_EQ(host->CallFunction(path, "present", nullptr), nullptr);
  EXPECT_EQ(Errors()[0], "Function : present Run Fail : NoError Or Unknown");
  EXPECT_EQ(Errors().size(), keys.size() + 1);
}

TEST_F(ScriptHostTest, SyntaxErrorIsAnImportFailure) {
  std::string path = dir / "BrokenModule.py";
  WriteFile(path, "def Fine():\n    return 1\ndef Broken(:\n");
  EXPECT_EQ(host->CallFunction(path, "Fine", nullptr), nullptr);
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Errors()[0].rfind("Error Message:\r\nSyntaxError:", 0), 0u) << Errors()[0];
  EXPECT_NE(Errors()[0].find("BrokenModule.py, line 3"), std::string::npos) << Errors()[0];
  EXPECT_EQ(Errors()[1], "Can Not Find File!");
}

TEST_F(ScriptHostTest, ArgumentsStayTheCallersUnlessReleasedByTheCall) {
  std::string path = dir / "ArgModule.py";
  WriteFile(path, "def Count(*args):\n    return len(args)\n");
  EXPECT_EQ(TakeText(host->CallFunction(path, "Count", nullptr)), "0") << "null arguments: no arguments";

  PyObject* args = nullptr;
  {
    CPythonLock lock;
    args = Py_BuildValue("(y#i)", "ab", static_cast<Py_ssize_t>(2), 3);
  }
  Py_ssize_t before = Py_REFCNT(args);
  EXPECT_EQ(TakeText(host->CallFunction(path, "Count", args)), "2");
  EXPECT_EQ(Py_REFCNT(args), before) << "CallFunction keeps the caller's tuple";
  {
    CPythonLock lock;
    Py_INCREF(args);
  }
  EXPECT_EQ(TakeText(CallAndReleaseArgs(host, path.c_str(), "Count", args)), "2");
  EXPECT_EQ(Py_REFCNT(args), before) << "CallAndReleaseArgs releases one reference";

  // Arguments that are not a tuple fail inside the interpreter, not in the host.
  PyObject* list = nullptr;
  {
    CPythonLock lock;
    list = PyList_New(0);
  }
  EXPECT_EQ(CallAndReleaseArgs(host, path.c_str(), "Count", list), nullptr);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind("Error Message:\r\nTypeError:", 0), 0u) << Errors()[0];
  EXPECT_EQ(CallAndReleaseArgs(nullptr, path.c_str(), "Count", nullptr), nullptr);
  CPythonLock lock;
  Py_DECREF(args);
}

TEST_F(ScriptHostTest, ExtensionSearchPrefersSourceThenOptimisedThenCompiled) {
  WriteFile(dir / "Both.py", "");
  WriteFile(dir / "Both.pyc", "");
  WriteFile(dir / "OnlyOpt.pyo", "");
  WriteFile(dir / "a.b/Plain.pyc", "");
  EXPECT_EQ(CPythonScript::FindScriptExt(dir / "Both.txt"), ".py");
  EXPECT_EQ(CPythonScript::FindScriptExt(dir / "OnlyOpt.py"), ".pyo");
  EXPECT_EQ(CPythonScript::FindScriptExt(dir / "a.b/Plain"), ".pyc") << "a dot in a directory is no extension";
  EXPECT_EQ(CPythonScript::FindScriptExt(dir / "Nothing.py"), "");
  std::filesystem::create_directory(dir / "Folder.py");
  EXPECT_EQ(CPythonScript::FindScriptExt(dir / "Folder"), "") << "a directory is no script";
}

TEST_F(ScriptHostTest, CompiledOnlyScriptIsCalled) {
  std::string source = dir / "CompiledOnly.py";
  WriteFile(source, "def Answer():\n    return 42\n");
  ASSERT_TRUE(RunPython("import py_compile\npy_compile.compile(" + PyLiteral(source) +
                        ", cfile=" + PyLiteral(dir / "CompiledOnly.pyc") + ", doraise=True)"));
  std::filesystem::remove(source);
  EXPECT_EQ(TakeText(host->CallFunction(source, "Answer", nullptr)), "42");
  EXPECT_NE(host->FindModule(dir / "CompiledOnly.pyc"), nullptr) << "cached under the path that was found";
  EXPECT_EQ(host->FindModule(source), nullptr);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(ScriptHostTest, LogUIMsgWritesItsTextAndGivesItBack) {
  std::string path = dir / "Talker.py";
  WriteFile(path,
            "import LogUI\n"
            "def Say(text):\n"
            "    return LogUI.Msg(text)\n"
            "def SayWrongly(value):\n"
            "    try:\n"
            "        LogUI.Msg(value)\n"
            "    except (TypeError, ValueError):\n"
            "        return 'raised'\n"
            "    return 'silent'\n"
            "def SayGbk():\n"
            "    return LogUI.Msg(b'\\xc4\\xe3\\xba\\xc3'.decode('utf-8', 'surrogateescape'))\n");
  PyObject* args = nullptr;
  {
    CPythonLock lock;
    args = Py_BuildValue("(s)", "hello from a script");
  }
  EXPECT_EQ(TakeText(CallAndReleaseArgs(host, path.c_str(), "Say", args)), "hello from a script");
  EXPECT_EQ(log.Texts(kOutput), std::vector<std::string>{"hello from a script"});
  EXPECT_TRUE(IsHistoryLine(host->Messages().back(), "Alert", "hello from a script")) << host->Messages().back();

  {
    CPythonLock lock;
    args = Py_BuildValue("(y)", "\xc4\xe3\xba\xc3");
  }
  EXPECT_EQ(TakeText(CallAndReleaseArgs(host, path.c_str(), "Say", args)), "\xc4\xe3\xba\xc3");
  EXPECT_EQ(TakeText(host->CallFunction(path, "SayGbk", nullptr)), "<unencodable>")
      << "the script gets its own undecodable text back";
  EXPECT_EQ(log.Texts(kOutput).back(), "\xc4\xe3\xba\xc3") << "bytes are written as they came";

  log.Clear();
  size_t history = host->Messages().size();
  for (const char* wrong : {"(i)", "()", "(ss)"}) {
    {
      CPythonLock lock;
      args = std::string(wrong) == "(i)"  ? Py_BuildValue("(i)", 5)
             : std::string(wrong) == "()" ? Py_BuildValue("(())")
                                          : Py_BuildValue("(y#)", "a\0b", static_cast<Py_ssize_t>(3));
    }
    EXPECT_EQ(TakeText(CallAndReleaseArgs(host, path.c_str(), "SayWrongly", args)), "raised") << wrong;
  }
  EXPECT_TRUE(log.Lines().empty()) << "a refused Msg writes nothing";
  EXPECT_EQ(host->Messages().size(), history);
}

TEST_F(ScriptHostTest, LoadedModuleIsReloadedExceptWistel) {
  std::string wistel = dir / "Wistel.py";
  WriteFile(wistel, "def V():\n    return 1\n");
  ASSERT_TRUE(host->LoadFromFile(wistel));
  WriteFile(wistel, "def V():\n    return 2000\n");
  EXPECT_TRUE(host->LoadFromFile(wistel));
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{wistel + " no reload !!!"});
  EXPECT_EQ(TakeText(host->CallFunction(wistel, "V", nullptr)), "1") << "left as it was";

  std::string other = dir / "Reloadable.py";
  WriteFile(other, "def V():\n    return 1\n");
  ASSERT_TRUE(host->LoadFromFile(other));
  host->AddMessage("test", "raises the message number", false);
  WriteFile(other, "def V():\n    return 2000\n");
  EXPECT_TRUE(host->ReloadModule(host->FindModule(other), other));
  EXPECT_EQ(host->MessageNo(), 0);
  EXPECT_EQ(TakeText(host->CallFunction(other, "V", nullptr)), "2000");

  // A reload that fails keeps the module that was loaded.
  log.Clear();
  WriteFile(other, "def V(:\n    return 3\n");
  EXPECT_FALSE(host->LoadFromFile(other));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind("Reload file : " + other + " fail. Error Message:\r\nSyntaxError:", 0), 0u)
      << Errors()[0];
  EXPECT_EQ(TakeText(host->CallFunction(other, "V", nullptr)), "2000");
}

TEST_F(ScriptHostTest, HistoryHoldsTenThousandLinesThenStartsOver) {
  CPythonScript second;  // over the running interpreter: does not own it
  EXPECT_FALSE(second.OwnsInterpreter());
  size_t start = second.Messages().size();
  EXPECT_EQ(start, 0u);
  second.AddMessage("kind", "first", true);
  EXPECT_TRUE(IsHistoryLine(second.Messages()[0], "kind", "first")) << second.Messages()[0];
  EXPECT_EQ(second.Messages()[0].rfind("[kind][#0 ", 0), 0u);
  for (int i = 1; i < 10001; ++i) second.AddMessage("kind", "line", false);
  EXPECT_EQ(second.Messages().size(), 10001u) << "ten thousand lines still take one more";
  EXPECT_EQ(second.MessageNo(), 10001);
  second.AddMessage("kind", "last", false);
  ASSERT_EQ(second.Messages().size(), 1u);
  EXPECT_NE(second.Messages()[0].find("[#10001 "), std::string::npos);
  EXPECT_EQ(log.Texts(kError), std::vector<std::string>{"first"});
  EXPECT_EQ(log.Texts(kOutput).size(), 10001u);
}

TEST_F(ScriptHostTest, OddPathsAndNamesAreReportedNotFatal) {
  EXPECT_FALSE(host->LoadFromFile(""));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind("Error Message:\r\nValueError:", 0), 0u) << Errors()[0];
  log.Clear();
  EXPECT_EQ(host->CallFunction("", "", nullptr), nullptr);
  EXPECT_EQ(Errors(), std::vector<std::string>{"Can Not Find File!"});

  std::string path = dir / "OddNames.py";
  WriteFile(path, "def Fine():\n    return 1\n");
  log.Clear();
  EXPECT_EQ(host->CallFunction(path, "\xff\xfe", nullptr), nullptr);
  ASSERT_FALSE(Errors().empty());
  EXPECT_EQ(Errors()[0], "Function : \xff\xfe Run Fail : NoError Or Unknown");
}

TEST_F(ScriptHostTest, ScriptWithAGbkNameIsFoundAndReportedInItsOwnBytes) {
  // "\xc4\xe3" is a GBK character; as a file name it is no UTF-8.
  std::string path = dir / "\xc4\xe3Script.py";
  WriteFile(path, "def Fail():\n    raise RuntimeError(b'\\xba\\xc3'.decode('gbk'))\n");
  EXPECT_EQ(host->CallFunction(path, "Fail", nullptr), nullptr);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "Error Message:\r\nRuntimeError:\xe5\xa5\xbd\r\nTraceback:\r\nFail: " + path + "(# 2)\r\n")
      << "file names keep their bytes, texts are UTF-8";
}

TEST_F(ScriptHostTest, HostIsUsableFromAnotherThreadAndScriptThreadsRunBetweenCalls) {
  std::string path = dir / "Threaded.py";
  WriteFile(path,
            "import threading, LogUI\n"
            "worker = None\n"
            "def Start():\n"
            "    global worker\n"
            "    worker = threading.Thread(target=lambda: LogUI.Msg('from a script thread'))\n"
            "    worker.start()\n"
            "    return 'started'\n"
            "def Join():\n"
            "    worker.join(30)\n"
            "    return 'joined' if not worker.is_alive() else 'still running'\n"
            "kept = []\n"
            "def Keep(data):\n"
            "    kept.append(data)\n"
            "def Kept():\n"
            "    return b'|'.join(kept)\n");
  std::string started;
  bool kept = false;
  bool missing = true;
  std::thread caller([&] {
    started = TakeText(host->CallFunction(path, "Start", nullptr));
    kept = CallWithBytes(host, path.c_str(), "Keep", "\xff\xcc\x00\x01", 4);
    missing = CallWithBytes(host, path.c_str(), "NoSuchFunction", "x", 1);
  });
  caller.join();
  EXPECT_EQ(started, "started");
  EXPECT_TRUE(kept);
  EXPECT_FALSE(missing);
  EXPECT_EQ(TakeText(host->CallFunction(path, "Kept", nullptr)), std::string("\xff\xcc\x00\x01", 4));
  // The script's own thread gets the interpreter while the host is idle.
  WaitUntil([&] { return !log.Texts(kOutput).empty(); }, 30000, 10);
  EXPECT_EQ(log.Texts(kOutput), std::vector<std::string>{"from a script thread"});
  EXPECT_EQ(TakeText(host->CallFunction(path, "Join", nullptr)), "joined");
}

TEST_F(ScriptHostTest, LoadsWhileAScriptThreadWritesKeepEveryMessage) {
  std::string path = dir / "Chatty.py";
  WriteFile(path,
            "import threading, time, LogUI\n"
            "def Talk():\n"
            "    for i in range(300):\n"
            "        LogUI.Msg('chat %d' % i)\n"
            "        if i % 3 == 0:\n"
            "            time.sleep(0.0005)\n"
            "worker = None\n"
            "def Start():\n"
            "    global worker\n"
            "    worker = threading.Thread(target=Talk)\n"
            "    worker.start()\n"
            "def Join():\n"
            "    worker.join(30)\n"
            "    return worker.is_alive()\n");
  std::string other = dir / "Quiet.py";
  WriteFile(other, "X = 1\n");
  PyObject* started = host->CallFunction(path, "Start", nullptr);
  ASSERT_NE(started, nullptr);
  TakeText(started);
  // Loads (and reloads) on this thread while the script's thread writes through LogUI.
  for (int i = 0; i < 200 && log.Texts(kOutput).size() < 300; ++i) EXPECT_TRUE(host->LoadFromFile(other));
  EXPECT_EQ(TakeText(host->CallFunction(path, "Join", nullptr)), "0") << "the script thread ended";
  std::vector<std::string> chat = log.Texts(kOutput);
  ASSERT_EQ(chat.size(), 300u);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(chat[i], "chat " + std::to_string(i));
}

TEST_F(ScriptHostTest, AddMessageWaitsWhileAnotherThreadHoldsTheInterpreterLock) {
  // A script thread inside LogUI.Msg holds the interpreter lock while it adds its message;
  // a message added from a thread of the manager must wait for it, not run beside it.
  std::atomic<bool> added{false};
  std::thread writer;
  {
    CPythonLock lock;
    writer = std::thread([&] {
      host->AddMessage("Manager", "from a manager thread", false);
      added = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(added.load()) << "AddMessage ran beside a holder of the interpreter lock";
  }
  writer.join();
  EXPECT_TRUE(added.load());
  EXPECT_EQ(log.Texts(kOutput), std::vector<std::string>{"from a manager thread"});
  EXPECT_TRUE(IsHistoryLine(host->Messages().back(), "Manager", "from a manager thread")) << host->Messages().back();
}

static PyObject* Twice(PyObject*, PyObject* args) {
  long value = 0;
  if (!PyArg_ParseTuple(args, "l", &value)) return nullptr;
  return PyLong_FromLong(2 * value);
}

TEST_F(ScriptHostTest, HostModulesOutliveAHostThatDidNotStartTheInterpreter) {
  std::string path = dir / "UsesExtra.py";
  WriteFile(path,
            "import LogUI, ExtraHostModule\ndef Run():\n    LogUI.Msg('still here')\n"
            "    return ExtraHostModule.Twice(21)\n");
  {
    CPythonScript second;
    second.AddModuleFunction("Twice", Twice, "doubles a number");
    second.RegisterModule("ExtraHostModule");
    second.RegisterModule("\xff\xfe");  // a name the interpreter refuses
    EXPECT_EQ(second.Messages().size(), 1u);
    EXPECT_NE(second.Messages().back().find("[SysNameSpace][#0 "), std::string::npos);
    EXPECT_EQ(Errors(), std::vector<std::string>{"python init can't find module!"});
    EXPECT_FALSE(ErrorPending());
  }
  EXPECT_TRUE(Py_IsInitialized()) << "only the host that started the interpreter ends it";
  // LogUI and the extra module were registered by the destroyed host: still callable.
  EXPECT_EQ(TakeText(host->CallFunction(path, "Run", nullptr)), "42");
  EXPECT_EQ(log.Texts(kOutput), std::vector<std::string>{"still here"});
}

TEST(ScriptHostInstance, IsCreatedOnceAndStartsTheInterpreter) {
  RecordingLog log;
  CPythonScriptEx* first = CPythonScriptEx::GetInstance();
  EXPECT_EQ(CPythonScriptEx::GetInstance(), first);
  EXPECT_TRUE(first->OwnsInterpreter());
  EXPECT_TRUE(Py_IsInitialized());
}

TEST(ScriptHostInstance, TrackingSwitchDecidesWhereTraceLinesGo) {
  RecordingLog log;
  CPythonScriptEx* host = CPythonScriptEx::GetInstance();
  log.Clear();
  EXPECT_TRUE(host->EnableTrack(true));
  EXPECT_EQ(log.Texts(llInfo), std::vector<std::string>{"CPythonScriptEx::EnableTrack(1) OK"});
  host->AddTraceLine("first trace");
  EXPECT_EQ(host->TrackLines(), std::vector<std::string>{"first trace"});
  EXPECT_EQ(host->TraceLines().back(), "first trace");
  EXPECT_EQ(log.Lines().size(), 1u) << "a tracked line is not logged";

  EXPECT_FALSE(host->EnableTrack(false));
  EXPECT_TRUE(host->TrackLines().empty());
  host->AddTraceLine("second trace");
  EXPECT_TRUE(host->TrackLines().empty());
  EXPECT_EQ(host->TraceLines().back(), "second trace");
  EXPECT_EQ(log.Texts(llInfo), (std::vector<std::string>{"CPythonScriptEx::EnableTrack(1) OK",
                                                         "CPythonScriptEx::EnableTrack(0) OK", "second trace"}));
}

// ---------------------------------------------------------------------------------------
// Child runs: each runs in a fresh process started by RunChild.

SCRIPTING_CHILD(FirstInstance) {
  EchoLog log;
  CPythonScriptEx* host = CPythonScriptEx::GetInstance();
  CPythonScriptEx::GetInstance();
  std::printf("RESULT|%d %d\n", host->OwnsInterpreter() ? 1 : 0, host->IsReady() ? 1 : 0);
  const char* ctype = std::getenv("LC_CTYPE");
  std::printf("RESULT|LC_CTYPE %s\n", ctype != nullptr ? ctype : "unset");
  RunPython(
      "import sys\nprint('RESULT|encoding', sys.getfilesystemencoding(), sys.flags.utf8_mode, flush=True)\n"
      "print('RESULT|program', sys.executable.endswith('/scripting_tests'), flush=True)");
}

SCRIPTING_CHILD(OwningHost) {
  EchoLog log;
  TempDir dir;
  WriteFile(dir / "OwnedModule.py", "def V():\n    return 5\n");
  for (int round = 0; round < 2; ++round) {
    CPythonScript host;
    AddSearchPath(dir.Path());
    std::printf("RESULT|round %d owns %d value %s\n", round, host.OwnsInterpreter() ? 1 : 0,
                TakeText(host.CallFunction(dir / "OwnedModule.py", "V", nullptr)).c_str());
  }
  std::printf("RESULT|running %d\n", Py_IsInitialized() ? 1 : 0);
}

SCRIPTING_CHILD(InterpreterThatCannotStart) {
  EchoLog log;
  CPythonScriptEx* host = CPythonScriptEx::GetInstance();
  std::printf("RESULT|ready %d\n", host->IsReady() ? 1 : 0);
  PyObject* result = host->CallFunction("/nowhere/Fennick.py", "ServerStatusOnCommand", nullptr);
  std::printf("RESULT|result %s\n", result == nullptr ? "null" : "object");
  std::printf("RESULT|error %s\n", host->FormatPythonError().c_str());
}

SCRIPTING_CHILD(LaunchSearchPath) {
  EchoLog log;
  CPythonScriptEx* host = CPythonScriptEx::GetInstance();
  const char* offPath = std::getenv("VEMO_SCRIPTING_OFF_PATH");
  std::printf("RESULT|on path %s\n",
              TakeText(host->CallFunction("/elsewhere/OnLaunchPath.py", "Where", nullptr)).c_str());
  std::printf("RESULT|off path %s\n",
              TakeText(host->CallFunction(std::string(offPath) + "/OffLaunchPath.py", "Where", nullptr)).c_str());
}

TEST(ScriptHostProcess, FirstInstanceLogsTheTrackSwitchOnce) {
  // Under the C locale, too: the interpreter works in UTF-8 and leaves the environment
  // that started programs inherit as it was.
  ChildResult child =
      RunChild("ScriptingChild.FirstInstance", {.setEnv = {"LANG=C"}, .unsetEnv = {"LC_ALL", "LC_CTYPE"}});
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(child.Count("INFO|CPythonScriptEx::EnableTrack(0) OK"), 1);
  EXPECT_TRUE(child.Has("RESULT|1 1"));
  EXPECT_TRUE(child.Has("RESULT|LC_CTYPE unset"));
  EXPECT_TRUE(child.Has("RESULT|encoding utf-8 1"));
  EXPECT_TRUE(child.Has("RESULT|program True")) << "the program name is the running executable";
}

TEST(ScriptHostProcess, OwningHostEndsItsInterpreterAndANewOneStartsAgain) {
  ChildResult child = RunChild("ScriptingChild.OwningHost");
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_TRUE(child.Has("RESULT|round 0 owns 1 value 5"));
  EXPECT_TRUE(child.Has("RESULT|round 1 owns 1 value 5"));
  EXPECT_TRUE(child.Has("RESULT|running 0"));
}

TEST(ScriptHostProcess, ScriptsAreFoundOnTheLaunchSearchPathOnly) {
  TempDir onPath;
  TempDir offPath;
  WriteFile(onPath / "OnLaunchPath.py", "def Where():\n    return 'on the search path'\n");
  WriteFile(offPath / "OffLaunchPath.py", "def Where():\n    return 'beside its path'\n");
  ChildResult child =
      RunChild("ScriptingChild.LaunchSearchPath",
               {.setEnv = {"PYTHONPATH=" + onPath.Path(), "VEMO_SCRIPTING_OFF_PATH=" + offPath.Path()}});
  EXPECT_EQ(child.exitCode, 0);
  // The module name decides; the directory named in the path plays no part.
  EXPECT_TRUE(child.Has("RESULT|on path on the search path"));
  EXPECT_TRUE(child.Has("RESULT|off path <null>"));
  EXPECT_TRUE(child.Has("SCRIPTERROR|Error Message:"));
  EXPECT_TRUE(child.Has("ModuleNotFoundError:No module named 'OffLaunchPath'"));
  EXPECT_TRUE(child.Has("SCRIPTERROR|Can Not Find File!"));
}

TEST(ScriptHostProcess, InterpreterThatCannotStartIsReportedAndNeverUsed) {
  ChildResult child =
      RunChild("ScriptingChild.InterpreterThatCannotStart", {.setEnv = {"PYTHONHOME=/nonexistent/vemo"}});
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_TRUE(child.Has("SCRIPTERROR|python init fail!"));
  EXPECT_TRUE(child.Has("RESULT|ready 0"));
  EXPECT_TRUE(child.Has("RESULT|result null"));
  EXPECT_TRUE(child.Has("SCRIPTERROR|Can Not Find File!"));
  EXPECT_TRUE(child.Has("RESULT|error NoError Or Unknown"));
}

}  // namespace
