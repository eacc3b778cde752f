// The common routines: checksum, hex text, percentages, byte cursor, text search and
// splitting, whole integers and whole files, and the process, dialog and crash-text
// routines on the platform layer.
#include "common/Utils.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/crash_report.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"

namespace {

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  // Absent bytes give 0 whatever the previous value, as zlib's crc32 does.
  EXPECT_EQ(Crc32(0x12345678, nullptr, 10), 0u);
}

// Every length around the 16-byte step, at every alignment, in one piece and in two
// chained pieces, must equal zlib.
TEST(Crc32Test, EqualsZlibForAllLengthsAndAlignments) {
  std::mt19937 random(42);
  std::vector<unsigned char> data(300);
  for (auto& b : data) b = static_cast<unsigned char>(random());
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length + offset <= 200; ++length) {
      const unsigned char* p = data.data() + offset;
      uint32_t expected = static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(length)));
      ASSERT_EQ(Crc32(0, p, length), expected) << "offset " << offset << " length " << length;
      std::size_t half = length / 3;
      ASSERT_EQ(Crc32(Crc32(0, p, half), p + half, length - half), expected);
    }
  }
  // Long blocks, with a tail that is not a multiple of 16.
  std::vector<unsigned char> big(100003);
  for (auto& b : big) b = static_cast<unsigned char>(random());
  for (std::size_t length : {4096u, 4109u, 65536u, 100003u})
    EXPECT_EQ(Crc32(0, big.data(), length), static_cast<uint32_t>(crc32(0, big.data(), static_cast<uInt>(length))));
  EXPECT_EQ(Crc32(0xFFFFFFFF, big.data(), 1000), static_cast<uint32_t>(crc32(0xFFFFFFFF, big.data(), 1000)));
}

TEST(HexTextTest, BlankAfterEveryByte) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  EXPECT_EQ(HexText(bytes, 2), "0A FF ");
  EXPECT_EQ(HexText(bytes, 0), "");
}

TEST(HexTextTest, RawFormWithAndWithoutSeparator) {
  const unsigned char bytes[] = {0x00, 0x9C, 0xE5};
  char out[16];
  std::fill(std::begin(out), std::end(out), 'x');
  HexText(bytes, 3, out, 0);
  EXPECT_STREQ(out, "009CE5");
  EXPECT_EQ(out[7], 'x');  // nothing written past the closing NUL
  HexText(bytes, 3, out, '-');
  EXPECT_STREQ(out, "00-9C-E5-");
  HexText(bytes, 0, out, ' ');
  EXPECT_STREQ(out, "");
}

TEST(PercentTest, TruncatesAndGuardsTheWhole) {
  EXPECT_EQ(Percent(1, 3), 33);
  EXPECT_EQ(Percent(2, 3), 66);
  EXPECT_EQ(Percent(5, 0), 0);
  EXPECT_EQ(Percent(5, -2), 0);
  EXPECT_EQ(Percent(-2, 3), -66);           // toward zero, not down
  EXPECT_EQ(Percent(INT_MAX, 1), INT_MAX);  // clamped, never an undefined conversion
  EXPECT_EQ(PercentU(2, 3), 66u);
  EXPECT_EQ(PercentU(7, 0), 0u);
  EXPECT_EQ(PercentU(4000000000u, 1), UINT_MAX);
  EXPECT_EQ(PercentF(2.0, 3.0), 66);
  EXPECT_EQ(PercentF(1.0, 0.0), 0);
  EXPECT_EQ(PercentF(1.0, -1.0), 0);
  EXPECT_EQ(PercentF(0.0 / 0.0 + 1, 1.0), 0);  // NaN part
}

TEST(ByteCursorTest, LittleEndianRoundTripAdvancesTheCursor) {
  unsigned char buffer[16] = {};
  int cursor = 0;
  WriteByte(buffer, cursor, 0xAB);
  WriteWord(buffer, cursor, 0x1234);
  WriteDword(buffer, cursor, 0xDEADBEEF);
  WriteBytes(buffer, cursor, "xyz", 3);
  EXPECT_EQ(cursor, 10);
  const unsigned char expected[] = {0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 'x', 'y', 'z'};
  EXPECT_EQ(0, memcmp(buffer, expected, sizeof expected));

  cursor = 0;
  EXPECT_EQ(ReadByte(buffer, cursor), 0xAB);
  EXPECT_EQ(ReadWord(buffer, cursor), 0x1234);
  EXPECT_EQ(ReadDword(buffer, cursor), 0xDEADBEEFu);
  char text[4] = {};
  ReadBytes(buffer, cursor, text, 3);
  EXPECT_STREQ(text, "xyz");
  EXPECT_EQ(cursor, 10);
  // A word read at an odd offset (no alignment is assumed).
  cursor = 3;
  EXPECT_EQ(ReadWord(buffer, cursor), 0xBEEF);
}

TEST(CharPosTest, FirstLineOnly) {
  EXPECT_EQ(CharPos("ab\nc", 'c'), 0);
  EXPECT_EQ(CharPos("ab\nc", 'b'), 2);
  EXPECT_EQ(CharPos("ab\nc", '\n'), 3);
  EXPECT_EQ(CharPos("", 'a'), 0);
  EXPECT_EQ(CharPos("abc", 'z'), 0);
}

TEST(CharPosTest, GbkDoubleByteCharactersAreUnits) {
  // 0x81 0x7C is one character whose trail byte equals '|'; the real '|' is at 3.
  EXPECT_EQ(CharPos("\x81|a|", '|'), 4);
  EXPECT_EQ(CharPos("\xD6\xD0|", '|'), 3);
  // A trail byte that equals the sought byte never matches, nor does a lead byte.
  EXPECT_EQ(CharPos("\xB0\x41", 'A'), 0);
  EXPECT_EQ(CharPos("\xB0\x41", '\xB0'), 0);
  // A lead byte with nothing after it is a single byte.
  EXPECT_EQ(CharPos("a\x81", '\x81'), 2);
  // A line feed as a trail byte does not end the line.
  EXPECT_EQ(CharPos("\x81\nx", 'x'), 3);
}

TEST(CharPosTest, Utf8TextsAreReadAsUtf8) {
  // "中" is E4 B8 AD: read as GBK pairs, AD would swallow the "|" after it.
  EXPECT_EQ(CharPos("\xE4\xB8\xAD|x", '|'), 4);
  EXPECT_EQ(CharPos("\xF0\x9F\x98\x80|", '|'), 5);
  // A line feed after a three-byte character ends the first line.
  EXPECT_EQ(CharPos("\xE4\xB8\xAD\nx", 'x'), 0);
  std::vector<std::string> list;
  SplitText("\xE5\x9C\xB0\xE5\x9B\xBE|\xE4\xB8\xAD", "|", list);  // "地图|中"
  EXPECT_EQ(list, (std::vector<std::string>{"\xE5\x9C\xB0\xE5\x9B\xBE", "\xE4\xB8\xAD"}));
  // A text that is not UTF-8 as a whole stays GBK: "中" in GBK (D6 D0) first, and then
  // E4 B8 and AD 7C are two GBK characters, so that "|" is a trail byte.
  EXPECT_EQ(CharPos("\xD6\xD0\xE4\xB8\xAD|", '|'), 0);
}

TEST(SplitTextTest, Pieces) {
  std::vector<std::string> list = {"old"};
  SplitText("a,b,", ",", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", ""}));
  SplitText("", ",", list);
  EXPECT_EQ(list, (std::vector<std::string>{""}));
  SplitText("1|MapA|ok", "|", list);
  EXPECT_EQ(list, (std::vector<std::string>{"1", "MapA", "ok"}));
  SplitText(",x", ",", list);
  EXPECT_EQ(list, (std::vector<std::string>{"", "x"}));
}

TEST(SplitTextTest, StopsAtTheFirstLineAndKeepsGbk) {
  std::vector<std::string> list;
  SplitText("a|b\nc|d", "|", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b\nc|d"}));
  SplitText("\x81|x|y", "|", list);
  EXPECT_EQ(list, (std::vector<std::string>{"\x81|x", "y"}));
}

TEST(SplitTextTest, LongSeparatorMustMatchWhole) {
  std::vector<std::string> list;
  SplitText("a:b::c", "::", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a:b", "c"}));
  SplitText("abc", "", list);
  EXPECT_EQ(list, (std::vector<std::string>{"abc"}));
}

TEST(TextBeforeTest, Cases) {
  EXPECT_EQ(TextBefore("key=value=x", "="), "key");
  EXPECT_EQ(TextBefore("keyvalue", "="), "");
  EXPECT_EQ(TextBefore("=x", "="), "");
}

TEST(FormatTextTest, FormatsAndToleratesNullAndLongText) {
  EXPECT_EQ(FormatText("%s_%d", "Map", 7), "Map_7");
  EXPECT_EQ(FormatText(nullptr), "");
  std::string longText(5000, 'q');
  EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}

// The table of names as the operator's crash lines must show them, in its two columns;
// every other code of both ranges swept, and a language runtime's code, are unknown.
TEST(ExceptionCodeNameTest, NamesTheTableAndNothingElse) {
  const std::map<uint32_t, std::string> named = {
      {0x80000001, "GUARD_PAGE_VIOLATION"},
      {0xC000008E, "FLOAT_DIVIDE_BY_ZERO"},
      {0x80000002, "DATATYPE_MISALIGNMENT"},
      {0xC000008F, "FLOAT_INEXACT_RESULT"},
      {0x80000003, "BREAKPOINT"},
      {0xC0000090, "FLOAT_INVALID_OPERATION"},
      {0x80000004, "SINGLE_STEP"},
      {0xC0000091, "FLOAT_OVERFLOW"},
      {0xC0000005, "ACCESS_VIOLATION"},
      {0xC0000092, "FLOAT_STACK_CHECK"},
      {0xC0000006, "IN_PAGE_ERROR"},
      {0xC0000093, "FLOAT_UNDERFLOW"},
      {0xC000001D, "ILLEGAL_INSTRUCTION"},
      {0xC0000094, "INTEGER_DIVIDE_BY_ZERO"},
      {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
      {0xC0000095, "INTEGER_OVERFLOW"},
      {0xC0000026, "INVALID_DISPOSITION"},
      {0xC0000096, "PRIVILEGED_INSTRUCTION"},
      {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
      {0xC00000FD, "STACK_OVERFLOW"},
      {0xC000008D, "FLOAT_DENORMAL_OPERAND"},
  };
  ASSERT_EQ(named.size(), 21u);
  int seen = 0;
  for (uint32_t base : {0x80000000u, 0xC0000000u}) {
    for (uint32_t code = base; code <= base + 0x200; ++code) {
      const auto it = named.find(code);
      const std::string expected = it != named.end() ? it->second : "UNKNOWN_EXCEPTION";
      ASSERT_STREQ(ExceptionCodeName(code), expected.c_str()) << std::hex << code;
      seen += it != named.end();
    }
  }
  EXPECT_EQ(seen, 21);
  EXPECT_STREQ(ExceptionCodeName(0xE06D7363), "UNKNOWN_EXCEPTION");
  EXPECT_STREQ(ExceptionCodeName(0), "UNKNOWN_EXCEPTION");
  EXPECT_STREQ(ExceptionCodeName(0xFFFFFFFF), "UNKNOWN_EXCEPTION");
}

TEST(SystemRoutinesTest, Liveness) {
  EXPECT_FALSE(IsProcessAlive(0));
  EXPECT_TRUE(IsProcessAlive(static_cast<uint32_t>(getpid())));
}

TEST(SystemRoutinesTest, FileTimeHalvesJoinIntoSixtyFourBits) {
  EXPECT_EQ(FileTimeToInt64(0xD53E8000u, 0x019DB1DEu), 116444736000000000ull);  // 1970-01-01
  EXPECT_EQ(FileTimeToInt64(0xFFFFFFFFu, 0), 0xFFFFFFFFull);
}

std::vector<std::string> g_DebugLines;
void CollectDebugLine(const std::string& line) { g_DebugLines.push_back(line); }

TEST(SystemRoutinesTest, DebugOutSendsTheTextOrNothingForNull) {
  g_DebugLines.clear();
  platform::SetDebugSinkForTesting(&CollectDebugLine);
  DebugOut("MapServer 7 started");
  DebugOut(nullptr);
  platform::SetDebugSinkForTesting(nullptr);
  EXPECT_EQ(g_DebugLines, (std::vector<std::string>{"MapServer 7 started", ""}));
}

class UtilsDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VEMO_UNATTENDED");
    platform::SetDialogs(&dialogs);
  }
  void TearDown() override { platform::SetDialogs(nullptr); }
  platform::ScriptedDialogs dialogs;
};

TEST_F(UtilsDialogsTest, RunProcessFailureShowsTheSystemTextAndReturnsZeros) {
  platform::ProcessInformation info = RunProcess("/nonexistent/vemo-no-such-program", "", 1, false);
  EXPECT_EQ(info.ProcessHandle, 0);
  EXPECT_EQ(info.ProcessId, 0u);
  ASSERT_EQ(dialogs.records.size(), 1u);
  EXPECT_EQ(dialogs.records[0].kind, "Message");
  EXPECT_EQ(dialogs.records[0].text, "No such file or directory");
}

TEST_F(UtilsDialogsTest, RunProcessWaitsForTheEnd) {
  platform::ProcessInformation info = RunProcess("/bin/sh -c true", "/", 1, true);
  EXPECT_NE(info.ProcessId, 0u);
  EXPECT_NE(info.ProcessHandle, 0);
  EXPECT_FALSE(IsProcessAlive(info.ProcessId));
  EXPECT_TRUE(dialogs.records.empty());
  platform::CloseProcessHandles(info);
}

TEST_F(UtilsDialogsTest, BrowseForFolder) {
  std::string path = "/keep/me";
  EXPECT_FALSE(BrowseForFolder(nullptr, "", path));  // cancel
  EXPECT_EQ(path, "/keep/me");
  ASSERT_EQ(dialogs.records.size(), 1u);
  EXPECT_EQ(dialogs.records[0].text, "Open");

  dialogs.values.push_back("/chosen/dir");
  EXPECT_TRUE(BrowseForFolder(nullptr, "Select script path:", path));
  EXPECT_EQ(path, "/chosen/dir");
  EXPECT_EQ(dialogs.records[1].text, "Select script path:");
}

TEST(CrashTextTest, FailureAndRecordedStack) {
  // Nothing recorded yet in this process: the failure text carries the reason.
  std::string none = GetLastExceptionCallStackAsText();
  EXPECT_EQ(none.rfind("GetLastExceptionCallStackAsText Exception:", 0), 0u) << none;
  EXPECT_EQ(none.back(), '!');

  try {
    throw std::runtime_error("boom");
  } catch (const std::exception&) {
    platform::RecordExceptionCallStack();
  }
  std::string text = GetLastExceptionCallStackAsText();
  ASSERT_EQ(text.rfind("Exception Call Stack:\r\n", 0), 0u) << text;
  EXPECT_GT(text.size(), std::string("Exception Call Stack:\r\n").size());
}

TEST(TextRoutinesTest, WholeIntegersAreExactlyASignAndDigits) {
  int value = 7;
  for (const char* bad : {"", "+", "-", "+-5", "-+5", " 5", "5 ", "5x", "0x10", "2147483648", "-2147483649"}) {
    EXPECT_FALSE(TextToInt(bad, value)) << bad;
    EXPECT_EQ(value, 7) << "left alone: " << bad;
  }
  ASSERT_TRUE(TextToInt("+0042", value));
  EXPECT_EQ(value, 42);
  ASSERT_TRUE(TextToInt("-2147483648", value));
  EXPECT_EQ(value, INT_MIN);
  long long big = 0;
  ASSERT_TRUE(TextToInt64("1125899906842624", big));
  EXPECT_EQ(big, 1LL << 50);
  // The lenient form takes blanks around the number and falls back on anything else.
  EXPECT_EQ(TextToIntDef(" \t-12\r\n", 3), -12);
  EXPECT_EQ(TextToIntDef("+-12", 3), 3);
  // Trimming other characters than the default blanks leaves a carriage return in place.
  EXPECT_EQ(TrimText(" \tvalue\r \t", " \t"), "value\r");
}

TEST(TextRoutinesTest, ReadWholeFileReadsRegularFilesOnlyAndSaysWhyNot) {
  char dir[] = "/tmp/vemo_text_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/bytes";
  const std::string bytes("a\0b\r\nc", 6);
  FILE* out = std::fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);

  std::string content = "before";
  int error = -1;
  ASSERT_TRUE(ReadWholeFile(file, content, &error));
  EXPECT_EQ(content, bytes);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(SplitLines(content), (std::vector<std::string>{std::string("a\0b", 3), "c"}));

  // A directory opens as a stream that reads nothing: it must not pass for an empty file.
  content = "before";
  EXPECT_FALSE(ReadWholeFile(dir, content, &error));
  EXPECT_EQ(error, EISDIR);
  EXPECT_EQ(content, "before");
  EXPECT_FALSE(ReadWholeFile(std::string(dir) + "/missing", content, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(ReadWholeFile("/dev/null", content, &error)) << "a device is no file to read whole";
  EXPECT_EQ(error, EINVAL);

  std::remove(file.c_str());
  rmdir(dir);
}

}  // namespace
