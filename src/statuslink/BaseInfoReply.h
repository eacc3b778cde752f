// The base information reply tagSVCBaseInfoReply and its item keys.
//
// Body: class 5, subtype 1, a zero byte, u16 N, N numeric items (u32 key, 64-bit value),
// u16 M, M text items (u32 key, u16 length, the text's bytes without a terminator).
// Numeric items go out in the order they were added, then the text items in theirs.
#pragma once

#include <cstdint>
#include <string>

// Item codes of the reply.
enum EBaseInfoCode : uint32_t {
  biCpuUsage = 56,       // CPU usage, percent
  biMemory = 57,         // the manager's pagefile usage, or a map server's working set
  biPagefileUsage = 58,  // a map server's pagefile usage
  biPythonError = 59,    // text: Python error report (state 4)
  biCppError = 60,       // text: crash report (state 5)
  biPlayerCount = 64,
  biServerName = 120,  // text: server name and display name
  biStateName = 121,   // text: state name
  biGameObjCount = 122,
  biItemCount = 123,
  biFps = 124,
  biAlwaysZero = 125,
  biProcessId = 126,
  biFBCount = 127,
  biMapCount = 150,  // number of map entries, keyed with map ID 0 and server type 11
};

// The key of an item: the code in bits 0-8, the map ID in bits 9-20, the line ID in bits
// 21-26 and the server type in bits 27-31, each cut to its width first.
constexpr uint32_t MakeInfoKey(uint32_t code, uint32_t mapId, uint32_t lineId, uint32_t serverType) {
  return (code & 0x1FFu) | ((mapId & 0xFFFu) << 9) | ((lineId & 0x3Fu) << 21) | ((serverType & 0x1Fu) << 27);
}

// 32-bit figures widened to the reply's 64 bits: counts with their sign, sizes with zeros.
constexpr uint64_t SignWiden(int32_t value) { return static_cast<uint64_t>(static_cast<int64_t>(value)); }
constexpr uint64_t ZeroWiden(uint32_t value) { return value; }

class BaseInfoReply {
 public:
  // The counts are 16-bit: items past 65535 of a kind are left out (Dropped counts them).
  static constexpr int kMaxItems = 0xFFFF;

  void AddNumeric(uint32_t key, uint64_t value);
  // A text longer than 65535 bytes is cut there.
  void AddText(uint32_t key, const std::string& text);

  int NumericCount() const { return m_NumericCount; }
  int TextCount() const { return m_TextCount; }
  int Dropped() const { return m_Dropped; }
  // The whole body.
  std::string Body() const;
  void Clear();

 private:
  std::string m_Numerics;
  std::string m_Texts;
  int m_NumericCount = 0;
  int m_TextCount = 0;
  int m_Dropped = 0;
};
