// The records of the status link as the status server reads and writes them: the manager's
// login and heartbeat, the base information request and reply with their item keys, the
// common command and its reply, and the zlib stream of a fetched log. Every reader takes
// bytes from the network and refuses, with a reason, anything that does not add up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace statusserver {

// Server type in both head fields of every message on the link.
constexpr uint8_t kLinkServerType = 13;
constexpr uint16_t kLoginCode = 0x5A17;
// The manager's server name is at most this long.
constexpr std::size_t kMaxServerName = 59;
// Common command names are at most 31 characters; parameters at most 255 bytes.
constexpr std::size_t kMaxCommandName = 31;
constexpr std::size_t kMaxCommandParam = 255;

// The 9-byte head of a request: EchoTag set, both server types 13, the rest zero.
std::string MakeHead(uint16_t echoTag);
// The EchoTag of a message (head and body); the message holds at least its head.
uint16_t EchoTagOf(std::string_view message);

// Login body (class 1, subtype 1). False with `why` when it is not a well-formed login.
bool ParseLogin(std::string_view body, std::string& name, std::string& why);
// Heartbeat body: exactly 01 04 B3.
bool IsHeartbeat(std::string_view body);

// Base information request body: 06 01.
std::string BaseInfoRequestBody();

// An item key split into its four parts.
struct InfoKey {
  unsigned Code = 0;        // bits 0-8
  unsigned MapId = 0;       // bits 9-20
  unsigned LineId = 0;      // bits 21-26
  unsigned ServerType = 0;  // bits 27-31
};
InfoKey DecodeInfoKey(uint32_t key);
uint32_t EncodeInfoKey(unsigned code, unsigned mapId, unsigned lineId, unsigned serverType);

struct NumericItem {
  uint32_t Key = 0;
  int64_t Value = 0;
};
struct TextItem {
  uint32_t Key = 0;
  std::string Text;
};
struct BaseInfoReply {
  std::vector<NumericItem> Numbers;
  std::vector<TextItem> Texts;
};
// Base information reply body (class 5, subtype 1); every count must match the bytes.
bool ParseBaseInfoReply(std::string_view body, BaseInfoReply& reply, std::string& why);
// The reply as a table: one row per map (name, state, players, items, FPS, CPU, memory,
// pagefile, objects, pid, FB), a summary line first and a line per error report after.
std::vector<std::string> FormatBaseInfoTable(const BaseInfoReply& reply);

// Common command body (class 3, subtype 4). The name is cut to 31 characters and the
// parameter to 255 bytes.
std::string CommonCmdBody(const std::string& name, const std::string& param);

struct CommonCmdReply {
  std::string Name;
  std::string Result;
  std::string Param;
};
// Common command reply body (class 1, subtype 5).
bool ParseCommonCmdReply(std::string_view body, CommonCmdReply& reply, std::string& why);

// Inflates one whole zlib stream into the file at `path`, writing at most `maxBytes`. False
// with `why` (and no file left behind) when the stream is damaged, incomplete, followed by
// other bytes, or inflates to more than `maxBytes`.
bool InflateToFile(std::string_view compressed, const std::string& path, uint64_t maxBytes, uint64_t& written,
                   std::string& why);

// The text with every control character replaced by "?": texts from a peer never reach the
// operator's terminal as escape sequences.
std::string Printable(std::string_view text);
// Bytes as text when they are printable, otherwise as hex (at most `limit` bytes shown).
std::string ShowBytes(std::string_view bytes, std::size_t limit = 256);

}  // namespace statusserver
