// The records of the status server link, as they travel in message bodies: the login, the
// heartbeat, the base information reply and the common command with its reply. All
// little-endian and packed. Header-only and free of logging, so that the status logic
// component builds its replies with the same code as the manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "interfaces/tagPackHead.h"

namespace statuswire {

// The server type in both fields of every head the manager sends.
constexpr uint8_t kLinkServerType = 13;

// Class and subtype bytes that open the bodies.
constexpr uint8_t kClassLogin = 1, kSubLogin = 1;
constexpr uint8_t kClassHeartbeat = 1, kSubHeartbeat = 4;
constexpr uint8_t kClassBaseInfoRequest = 6, kSubBaseInfoRequest = 1;
constexpr uint8_t kClassBaseInfoReply = 5, kSubBaseInfoReply = 1;
constexpr uint8_t kClassCommonCmd = 3, kSubCommonCmd = 4;
constexpr uint8_t kClassCommonCmdReply = 1, kSubCommonCmdReply = 5;

constexpr uint16_t kLoginCode = 0x5A17;
// The longest server name of a login (the name buffer holds 60 bytes with its terminator).
constexpr std::size_t kMaxServerName = 59;

// Body bytes of a common command before its parameter: class, subtype, a byte, the 32-byte
// name and the parameter length.
constexpr int kCommonCmdFixedLen = 36;
constexpr int kCommandNameSize = 32;
// Body bytes of a common command reply besides the result and the parameter.
constexpr int kCommonCmdReplyFixedLen = 40;

inline void PutU8(std::string& out, uint8_t v) { out.push_back(static_cast<char>(v)); }
inline void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// True when the body opens with the class and subtype.
inline bool IsBody(const char* body, int length, uint8_t cls, uint8_t sub) {
  return body != nullptr && length >= 2 && static_cast<uint8_t>(body[0]) == cls && static_cast<uint8_t>(body[1]) == sub;
}

// A head the manager sends: all zero but the echo tag and the two server types.
inline MMORPG::tagPackHead ReplyHead(uint16_t echoTag) {
  MMORPG::tagPackHead head{};
  head.EchoTag = echoTag;
  head.DestServerType = kLinkServerType;
  head.SrcServerType = kLinkServerType;
  return head;
}

// The login body: class 1, subtype 1, the login code, a zero word, the name's length and
// the name (at most 59 characters, no terminator).
inline std::string LoginBody(const std::string& serverName) {
  const std::string name = serverName.substr(0, kMaxServerName);
  std::string body;
  PutU8(body, kClassLogin);
  PutU8(body, kSubLogin);
  PutU16(body, kLoginCode);
  PutU16(body, 0);
  PutU8(body, static_cast<uint8_t>(name.size()));
  body += name;
  return body;
}

// The heartbeat body.
inline std::string HeartbeatBody() { return std::string("\x01\x04\xB3", 3); }

// tagCSVCommonCmd as read from a body.
struct tagCSVCommonCmd {
  uint8_t Class = kClassCommonCmd;
  uint8_t SubType = kSubCommonCmd;
  uint8_t Reserved = 0;
  char Name[kCommandNameSize] = {};  // the last byte is always 0 once read
  uint8_t ParamLen = 0;
  char Param[256] = {};

  // The name as a text: at most 31 characters.
  std::string NameText() const { return std::string(Name, strnlen(Name, kCommandNameSize - 1)); }
  std::string ParamBytes() const { return std::string(Param, ParamLen); }
};

enum class CommonCmdRead {
  Ok,          // exactly 36 + L bytes
  TooShort,    // fewer than 36 + L bytes: the parameter is left empty
  ExtraBytes,  // more than 36 + L bytes: everything was read
};

// Reads a common command from `length` bytes (at least 36; the caller checks). The name's
// last byte is always set to 0, so the name never runs past its 32 bytes.
inline CommonCmdRead ParseCommonCmd(tagCSVCommonCmd& cmd, const char* bytes, int length) {
  cmd = tagCSVCommonCmd{};
  cmd.Class = static_cast<uint8_t>(bytes[0]);
  cmd.SubType = static_cast<uint8_t>(bytes[1]);
  cmd.Reserved = static_cast<uint8_t>(bytes[2]);
  std::memcpy(cmd.Name, bytes + 3, kCommandNameSize);
  cmd.Name[kCommandNameSize - 1] = '\0';
  cmd.ParamLen = static_cast<uint8_t>(bytes[35]);
  if (kCommonCmdFixedLen + cmd.ParamLen > length) return CommonCmdRead::TooShort;
  std::memcpy(cmd.Param, bytes + kCommonCmdFixedLen, cmd.ParamLen);
  return kCommonCmdFixedLen + cmd.ParamLen == length ? CommonCmdRead::Ok : CommonCmdRead::ExtraBytes;
}

// A common command body (for peers that send one and for tests).
inline std::string CommonCmdBody(const std::string& name, const std::string& param) {
  std::string body;
  PutU8(body, kClassCommonCmd);
  PutU8(body, kSubCommonCmd);
  PutU8(body, 0);
  std::string nameBytes = name.substr(0, kCommandNameSize);
  nameBytes.resize(kCommandNameSize, '\0');
  body += nameBytes;
  const std::string paramBytes = param.substr(0, 255);
  PutU8(body, static_cast<uint8_t>(paramBytes.size()));
  body += paramBytes;
  return body;
}

// The reply body tagCSVCommonCmdReply: class 1, subtype 5, a zero byte, the request's name
// (zero-padded to 32), the result length and bytes, the request's parameter length and
// bytes. The caller keeps the result within a frame.
inline std::string CommonCmdReplyBody(const tagCSVCommonCmd& request, const char* result, uint32_t resultLen) {
  std::string body;
  body.reserve(kCommonCmdReplyFixedLen + resultLen + request.ParamLen);
  PutU8(body, kClassCommonCmdReply);
  PutU8(body, kSubCommonCmdReply);
  PutU8(body, 0);
  char name[kCommandNameSize] = {};
  std::memcpy(name, request.Name, strnlen(request.Name, kCommandNameSize - 1));
  body.append(name, kCommandNameSize);
  PutU32(body, result != nullptr ? resultLen : 0);
  if (result != nullptr && resultLen > 0) body.append(result, resultLen);
  PutU8(body, request.ParamLen);
  body.append(request.Param, request.ParamLen);
  return body;
}

// The 9 bytes of a head.
inline std::string HeadBytes(const MMORPG::tagPackHead& head) {
  return std::string(reinterpret_cast<const char*>(&head), sizeof head);
}

}  // namespace statuswire
