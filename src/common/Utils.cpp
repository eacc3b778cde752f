// Common routines shared by the whole program and its components.
#include "common/Utils.h"

#include <libdeflate.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/crash_report.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"

// ---------------------------------------------------------------------------------------
// Text and numbers

std::string FormatTextV(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  char stackBuffer[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<std::size_t>(needed) < sizeof stackBuffer)
    return std::string(stackBuffer, static_cast<std::size_t>(needed));
  std::string text(static_cast<std::size_t>(needed) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  text.resize(static_cast<std::size_t>(needed));
  return text;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

// ---------------------------------------------------------------------------------------
// CRC-32 (reflected, polynomial 0xEDB88320, as zlib): libdeflate's, which picks the
// fastest method the processor offers (carry-less multiplication where there is one).

uint32_t Crc32(uint32_t previous, const void* bytes, std::size_t length) {
  if (bytes == nullptr) return 0;
  return libdeflate_crc32(previous, bytes, length);
}

// ---------------------------------------------------------------------------------------
// Hex text

void HexText(const void* bytes, std::size_t count, char* out, char separator) {
  if (out == nullptr) return;
  static const char digits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const unsigned char*>(bytes);
  char* o = out;
  for (std::size_t i = 0; p != nullptr && i < count; ++i) {
    *o++ = digits[p[i] >> 4];
    *o++ = digits[p[i] & 0x0F];
    if (separator != 0) *o++ = separator;
  }
  *o = '\0';
}

std::string HexText(const void* bytes, std::size_t count) {
  if (bytes == nullptr || count == 0) return std::string();
  std::string text(3 * count + 1, '\0');
  HexText(bytes, count, text.data(), ' ');
  text.resize(3 * count);
  return text;
}

// ---------------------------------------------------------------------------------------
// Percentages: truncated toward zero; a result beyond the int range is clamped rather
// than left to an undefined conversion.

namespace {
template <typename R>
R TruncatePercent(double value) {
  if (std::isnan(value)) return 0;
  value = std::trunc(value);
  if (value >= static_cast<double>(std::numeric_limits<R>::max())) return std::numeric_limits<R>::max();
  if (value <= static_cast<double>(std::numeric_limits<R>::min())) return std::numeric_limits<R>::min();
  return static_cast<R>(value);
}
}  // namespace

int Percent(int part, int whole) {
  if (whole <= 0) return 0;
  return TruncatePercent<int>(static_cast<double>(part) / static_cast<double>(whole) * 100.0);
}

unsigned PercentU(unsigned part, unsigned whole) {
  if (whole == 0) return 0;
  return TruncatePercent<unsigned>(static_cast<double>(part) / static_cast<double>(whole) * 100.0);
}

int PercentF(double part, double whole) {
  if (!(whole > 0)) return 0;
  return TruncatePercent<int>(part / whole * 100.0);
}

// ---------------------------------------------------------------------------------------
// Little-endian byte cursor

uint8_t ReadByte(const void* buffer, int& cursor) {
  const auto* p = static_cast<const unsigned char*>(buffer) + cursor;
  cursor += 1;
  return p[0];
}

uint16_t ReadWord(const void* buffer, int& cursor) {
  const auto* p = static_cast<const unsigned char*>(buffer) + cursor;
  cursor += 2;
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t ReadDword(const void* buffer, int& cursor) {
  const auto* p = static_cast<const unsigned char*>(buffer) + cursor;
  cursor += 4;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void ReadBytes(const void* buffer, int& cursor, void* out, int count) {
  if (count <= 0) return;
  std::memcpy(out, static_cast<const unsigned char*>(buffer) + cursor, static_cast<std::size_t>(count));
  cursor += count;
}

void WriteByte(void* buffer, int& cursor, uint8_t value) {
  static_cast<unsigned char*>(buffer)[cursor] = value;
  cursor += 1;
}

void WriteWord(void* buffer, int& cursor, uint16_t value) {
  auto* p = static_cast<unsigned char*>(buffer) + cursor;
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  cursor += 2;
}

void WriteDword(void* buffer, int& cursor, uint32_t value) {
  auto* p = static_cast<unsigned char*>(buffer) + cursor;
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  p[2] = static_cast<unsigned char>(value >> 16);
  p[3] = static_cast<unsigned char>(value >> 24);
  cursor += 4;
}

void WriteBytes(void* buffer, int& cursor, const void* in, int count) {
  if (count <= 0) return;
  std::memcpy(static_cast<unsigned char*>(buffer) + cursor, in, static_cast<std::size_t>(count));
  cursor += count;
}

// ---------------------------------------------------------------------------------------
// Text search and splitting

namespace {
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i);
}  // namespace

// The rule for multi-byte characters: a text that is well-formed UTF-8 as a whole (the
// project's own texts) is stepped by UTF-8 characters, so no byte of one of its characters
// is ever taken as a GBK lead byte; any other text is stepped by GBK double-byte characters.
// Texts of ASCII only read the same either way.
bool IsWellFormedUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

namespace {

// GBK lead bytes: a lead byte and the byte after it form one double-byte character.
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// The length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF are not).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return length;
}

// The 0-based byte offset of the first occurrence of `part` that starts on a character
// boundary within the first line of text[from..] (the line feed itself included), or npos.
// A multi-byte character is one unit, so none of its bytes starts a match. `from` lies on a
// character boundary.
std::size_t FindOnFirstLine(const std::string& text, std::size_t from, const std::string& part, bool utf8) {
  if (part.empty()) return std::string::npos;
  std::size_t i = from;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    if (utf8 && c >= 0x80) {
      i += Utf8SequenceLength(text, i);
      continue;
    }
    if (!utf8 && IsGbkLeadByte(c) && i + 1 < text.size()) {
      i += 2;
      continue;
    }
    if (text.compare(i, part.size(), part) == 0) return i;
    if (c == '\n') break;
    ++i;
  }
  return std::string::npos;
}

}  // namespace

int CharPos(const std::string& text, char ch) {
  std::size_t at = FindOnFirstLine(text, 0, std::string(1, ch), IsWellFormedUtf8(text));
  return at == std::string::npos ? 0 : static_cast<int>(at + 1);
}

// Works along the text, adding the piece before each separator and, finally, what remains.
// The whole separator must match where its first character is found; a lone first
// character is part of the text, so a multi-character separator never swallows text.
void SplitText(std::string text, const std::string& separator, std::vector<std::string>& list) {
  list.clear();
  std::size_t start = 0;
  std::size_t searchFrom = 0;
  const bool utf8 = IsWellFormedUtf8(text);
  for (;;) {
    std::size_t at = FindOnFirstLine(text, searchFrom, separator, utf8);
    if (at == std::string::npos) break;
    list.push_back(text.substr(start, at - start));
    start = at + separator.size();
    searchFrom = start;
  }
  list.push_back(text.substr(start));
}

std::string TextBefore(const std::string& text, const std::string& part) {
  if (part.empty()) return std::string();
  std::size_t at = text.find(part);
  return at == std::string::npos ? std::string() : text.substr(0, at);
}

// ---------------------------------------------------------------------------------------
// Processes and the system

platform::ProcessInformation RunProcess(const std::string& commandLine, const std::string& workDir, int showMode,
                                        bool wait) {
  (void)showMode;  // Linux programs have no window show mode.
  platform::ProcessInformation info;
  int errorCode = 0;
  if (!platform::StartProcess(commandLine, workDir, wait, &info, &errorCode)) {
    platform::CurrentDialogs().Message(platform::SystemErrorText(errorCode));
    return platform::ProcessInformation();
  }
  return info;
}

bool IsProcessAlive(uint32_t pid) { return pid != 0 && platform::IsProcessAlive(pid); }

uint64_t FileTimeToInt64(uint32_t lowDateTime, uint32_t highDateTime) {
  return static_cast<uint64_t>(highDateTime) << 32 | lowDateTime;
}

void DebugOut(const char* text) { platform::OutputDebugString(text != nullptr ? text : ""); }

bool BrowseForFolder(void* ownerWindow, const std::string& title, std::string& path) {
  (void)ownerWindow;  // the dialogs in force know their own parent window
  // The picker starts at the buffer's file or folder only when it exists.
  std::string chosen =
      (!path.empty() && (platform::FileExists(path) || platform::DirectoryExists(path))) ? path : std::string();
  if (!platform::CurrentDialogs().BrowseForFolder(title.empty() ? "Open" : title, chosen)) return false;
  path = chosen;
  return true;
}

// ---------------------------------------------------------------------------------------
// Crash texts

std::string GetLastExceptionCallStackAsText() {
  try {
    std::vector<std::string> lines;
    std::string error;
    if (!platform::GetLastExceptionCallStack(lines, error))
      return FormatText("GetLastExceptionCallStackAsText Exception:%s!", error.c_str());
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) joined += "\r\n";
      joined += lines[i];
    }
    return "Exception Call Stack:\r\n" + joined;
  } catch (const std::exception& e) {
    return FormatText("GetLastExceptionCallStackAsText Exception:%s!", e.what());
  } catch (...) {
    return "GetLastExceptionCallStackAsText Exception:unknown exception!";
  }
}

const char* ExceptionCodeName(uint32_t code) {
  switch (code) {
    case 0x80000001: return "GUARD_PAGE_VIOLATION";
    case 0x80000002: return "DATATYPE_MISALIGNMENT";
    case 0x80000003: return "BREAKPOINT";
    case 0x80000004: return "SINGLE_STEP";
    case 0xC0000005: return "ACCESS_VIOLATION";
    case 0xC0000006: return "IN_PAGE_ERROR";
    case 0xC000001D: return "ILLEGAL_INSTRUCTION";
    case 0xC0000025: return "NONCONTINUABLE_EXCEPTION";
    case 0xC0000026: return "INVALID_DISPOSITION";
    case 0xC000008C: return "ARRAY_BOUNDS_EXCEEDED";
    case 0xC000008D: return "FLOAT_DENORMAL_OPERAND";
    case 0xC000008E: return "FLOAT_DIVIDE_BY_ZERO";
    case 0xC000008F: return "FLOAT_INEXACT_RESULT";
    case 0xC0000090: return "FLOAT_INVALID_OPERATION";
    case 0xC0000091: return "FLOAT_OVERFLOW";
    case 0xC0000092: return "FLOAT_STACK_CHECK";
    case 0xC0000093: return "FLOAT_UNDERFLOW";
    case 0xC0000094: return "INTEGER_DIVIDE_BY_ZERO";
    case 0xC0000095: return "INTEGER_OVERFLOW";
    case 0xC0000096: return "PRIVILEGED_INSTRUCTION";
    case 0xC00000FD: return "STACK_OVERFLOW";
    default: return "UNKNOWN_EXCEPTION";
  }
}
