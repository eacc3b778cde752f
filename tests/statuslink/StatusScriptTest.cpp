// The script step with the real status script "Fennick.py" in the embedded interpreter:
// queued messages reach it as frames in arrival order, it answers through the extension
// module "_IPY_SSLogicProcess", and the module's SendPack refuses bad arguments with the
// exact type-error texts.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "StatusLinkTestSupport.h"
#include "scripting/CPythonLock.h"
#include "scripting/CPythonScriptEx.h"
#include "statuslink/CSSLogicProcess.h"
#include "support/RecordingLog.h"

using namespace statuslink_test;
using namespace statuswire;

namespace {

// The launch environment's part: the status script's folder on the interpreter's path,
// before the interpreter starts.
const bool kScriptPathSet = setenv("PYTHONPATH", VEMO_BIN_DIR "StatusScript", 1) == 0;

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kScriptPathSet);
    InstallCore(&m_Core);
    ASSERT_TRUE(CPythonScriptEx::GetInstance()->IsReady());
    m_Link = GetSSLogicProcess();
    m_Link->SetServerInfo("MapServer", 6, 0);
    m_Link->Start(true);  // registers the script module; the thread stays suspended
  }
  void TearDown() override {
    m_Link->Stop();
    m_Link->ReleaseLink();
    InstallCore(nullptr);
  }

  // What the script wrote through LogUI.
  std::vector<std::string> ScriptLines() { return m_Log.Texts(-1); }

  bool RunPython(const std::string& code) {
    CPythonLock lock;
    return PyRun_SimpleString(code.c_str()) == 0;
  }

  RecordingLog m_Log;
  FakeTiravo m_Core;
  CSSLogicProcess* m_Link = nullptr;
};

TEST_F(ScriptTest, TenQueuedMessagesReachTheScriptAsFramesInArrivalOrder) {
  for (int i = 0; i < 10; ++i)
    m_Core.Receive(RequestHead(static_cast<uint16_t>(100 + i)), Bytes({9, i}) + std::string(i, 'b'));
  m_Link->RunRequestPass(&m_Core);
  EXPECT_EQ(m_Link->GetScriptPackCount(), 10);
  EXPECT_TRUE(m_Link->RunStatusScript());
  EXPECT_EQ(m_Link->GetScriptPackCount(), 0);
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i)
    expected.push_back("Fennick.py: message class 9 subtype " + std::to_string(i) + " with " + std::to_string(2 + i) +
                       " body bytes, echo " + std::to_string(100 + i) + ", is not answered here");
  EXPECT_EQ(ScriptLines(), expected);
  EXPECT_TRUE(m_Log.Texts(llPyErr).empty());
  EXPECT_FALSE(m_Link->RunStatusScript()) << "nothing queued any more";
}

TEST_F(ScriptTest, TheScriptAnswersItsCommandsThroughTheExtensionModule) {
  const std::string param = std::string("ping\0\xff", 6);
  m_Core.Receive(RequestHead(0x0102), CommonCmdBody("Echo", param));
  m_Core.Receive(RequestHead(0x0203), CommonCmdBody("GetScriptStatus", ""));
  m_Core.Receive(RequestHead(0x0304), CommonCmdBody("Other", "x"));
  m_Link->RunRequestPass(&m_Core);
  EXPECT_TRUE(m_Link->RunStatusScript());

  const auto sent = m_Core.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Hex(sent[0].head), "00 00 00 00 02 01 00 0D 0D");
  std::string echo = Bytes({1, 5, 0}) + "Echo" + std::string(28, '\0');
  PutU32(echo, 6);
  echo += param;
  PutU8(echo, 6);
  echo += param;
  EXPECT_EQ(Hex(sent[0].body), Hex(echo));
  const CommonReply status = DecodeCommonReply(sent[1].body);
  ASSERT_TRUE(status.wellFormed);
  EXPECT_EQ(status.name, "GetScriptStatus");
  EXPECT_EQ(status.result.rfind("script=Fennick.py;python=3.11.", 0), 0u) << status.result;
  EXPECT_EQ(ScriptLines(),
            std::vector<std::string>{"Fennick.py: common command Other (parameter b'x') is not answered here"});
}

TEST_F(ScriptTest, SendPackRefusesBadArgumentsWithTheirTypeErrorTexts) {
  _init_IPY_SSLogicProcess();  // a second registration, as a second start makes
  ASSERT_TRUE(RunPython(R"(
import LogUI, IPY_SSLogicProcess as m, _IPY_SSLogicProcess as raw
o = m.IPY_SSLogicProcess()
h = bytes(9)
for call in (lambda: raw.IPY_SSLogicProcess_SendPack(1, h, 9, b'b', 1),
             lambda: o.SendPack('text', 9, b'b', 1),
             lambda: o.SendPack(h, 'nine', b'b', 1),
             lambda: o.SendPack(h, 9, 5, 1),
             lambda: o.SendPack(h, 9, b'b', None),
             lambda: o.SendPack(h, 10, b'b', 1),
             lambda: o.SendPack(h, 9, b'b', 2)):
    try:
        call()
        LogUI.Msg('no error')
    except Exception as e:
        LogUI.Msg(type(e).__name__ + ': ' + str(e))
LogUI.Msg(repr(o.SendPack(h, 9, b'\x01\x04\xb3', 3)))
v = m.IntVector([3, 1, 2])
v.append(5)
LogUI.Msg(repr((len(v), list(v[1:3]), v.pop(), [x for x in v], list(m.DoubleVector([0.5])))))
)"));
  InstallCore(nullptr);
  ASSERT_TRUE(RunPython("LogUI.Msg(repr(o.SendPack(h, 9, b'\\x01', 1)))"));
  EXPECT_EQ(
      ScriptLines(),
      (std::vector<std::string>{
          "TypeError: in method 'IPY_SSLogicProcess_SendPack', argument 1 of type 'IPY_SSLogicProcess *'",
          "TypeError: in method 'IPY_SSLogicProcess_SendPack', argument 2 of type 'char *'",
          "TypeError: in method 'IPY_SSLogicProcess_SendPack', argument 3 of type 'int'",
          "TypeError: in method 'IPY_SSLogicProcess_SendPack', argument 4 of type 'char *'",
          "TypeError: in method 'IPY_SSLogicProcess_SendPack', argument 5 of type 'int'",
          "ValueError: in method 'IPY_SSLogicProcess_SendPack', argument 3 is not within the length of argument 2",
          "ValueError: in method 'IPY_SSLogicProcess_SendPack', argument 5 is not within the length of argument 4",
          "True",
          "(4, [1, 2], 5, [3, 1, 2], [0.5])",
          "False",
      }));
  ASSERT_EQ(m_Core.Sent().size(), 1u);
  EXPECT_EQ(Hex(m_Core.Sent()[0].body), "01 04 B3");
}

}  // namespace
