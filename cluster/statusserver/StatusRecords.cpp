#include "StatusRecords.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "common/Utils.h"

namespace statusserver {

namespace {

// Reads little-endian values from untrusted bytes; every read checks the room left.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : m_Bytes(bytes) {}
  std::size_t Left() const { return m_Bytes.size() - m_Pos; }
  bool Skip(std::size_t n) {
    if (Left() < n) return false;
    m_Pos += n;
    return true;
  }
  template <typename T>
  bool Read(T& value) {
    if (Left() < sizeof(T)) return false;
    uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      v |= static_cast<uint64_t>(static_cast<unsigned char>(m_Bytes[m_Pos + i])) << (8 * i);
    value = static_cast<T>(v);
    m_Pos += sizeof(T);
    return true;
  }
  bool ReadBytes(std::size_t n, std::string& out) {
    if (Left() < n) return false;
    out.assign(m_Bytes.substr(m_Pos, n));
    m_Pos += n;
    return true;
  }

 private:
  std::string_view m_Bytes;
  std::size_t m_Pos = 0;
};

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string MakeHead(uint16_t echoTag) {
  std::string head;
  PutLe(head, 0, 4);        // HeadTag
  PutLe(head, echoTag, 2);  // EchoTag
  head.push_back(0);        // PackType
  head.push_back(static_cast<char>(kLinkServerType));
  head.push_back(static_cast<char>(kLinkServerType));
  return head;
}

uint16_t EchoTagOf(std::string_view message) {
  return static_cast<uint16_t>(static_cast<unsigned char>(message[4]) | (static_cast<unsigned char>(message[5]) << 8));
}

bool ParseLogin(std::string_view body, std::string& name, std::string& why) {
  ByteReader reader(body);
  uint8_t kind = 0, subtype = 0, length = 0;
  uint16_t code = 0, reserved = 0;
  if (!reader.Read(kind) || !reader.Read(subtype) || !reader.Read(code) || !reader.Read(reserved) ||
      !reader.Read(length)) {
    why = FormatText("a login of %zu bytes, shorter than its 7-byte start", body.size());
    return false;
  }
  if (code != kLoginCode) {
    why = FormatText("login code 0x%04X instead of 0x%04X", code, kLoginCode);
    return false;
  }
  if (length == 0 || length > kMaxServerName) {
    why = FormatText("a server name of %u characters (1 to %zu allowed)", length, kMaxServerName);
    return false;
  }
  if (reader.Left() != length) {
    why = FormatText("the name length says %u bytes but %zu follow", length, reader.Left());
    return false;
  }
  reader.ReadBytes(length, name);
  if (name.find('\0') != std::string::npos) {
    why = "a server name with a zero byte";
    return false;
  }
  return true;
}

bool IsHeartbeat(std::string_view body) { return body == std::string_view("\x01\x04\xB3", 3); }

std::string BaseInfoRequestBody() { return std::string("\x06\x01", 2); }

InfoKey DecodeInfoKey(uint32_t key) {
  InfoKey parts;
  parts.Code = key & 0x1FF;
  parts.MapId = (key >> 9) & 0xFFF;
  parts.LineId = (key >> 21) & 0x3F;
  parts.ServerType = (key >> 27) & 0x1F;
  return parts;
}

uint32_t EncodeInfoKey(unsigned code, unsigned mapId, unsigned lineId, unsigned serverType) {
  return (code & 0x1FF) | ((mapId & 0xFFF) << 9) | ((lineId & 0x3F) << 21) | ((serverType & 0x1F) << 27);
}

bool ParseBaseInfoReply(std::string_view body, BaseInfoReply& reply, std::string& why) {
  reply = BaseInfoReply();
  ByteReader reader(body);
  uint16_t numbers = 0, texts = 0;
  if (!reader.Skip(3) || !reader.Read(numbers)) {
    why = FormatText("a reply of %zu bytes, shorter than its 5-byte start", body.size());
    return false;
  }
  if (reader.Left() < static_cast<std::size_t>(numbers) * 12) {
    why = FormatText("%u numeric items announced, room for %zu", numbers, reader.Left() / 12);
    return false;
  }
  reply.Numbers.resize(numbers);
  for (NumericItem& item : reply.Numbers) {
    uint64_t value = 0;
    reader.Read(item.Key);
    reader.Read(value);
    item.Value = static_cast<int64_t>(value);
  }
  if (!reader.Read(texts)) {
    why = "the count of text items is missing";
    return false;
  }
  for (uint16_t i = 0; i < texts; ++i) {
    TextItem item;
    uint16_t length = 0;
    if (!reader.Read(item.Key) || !reader.Read(length) || !reader.ReadBytes(length, item.Text)) {
      why = FormatText("text item %u of %u is cut short", i + 1u, static_cast<unsigned>(texts));
      return false;
    }
    reply.Texts.push_back(std::move(item));
  }
  if (reader.Left() != 0) {
    why = FormatText("%zu bytes after the last text item", reader.Left());
    return false;
  }
  return true;
}

namespace {

// Item codes of the reply.
enum ItemCode : unsigned {
  kCpu = 56,
  kMemory = 57,
  kPagefile = 58,
  kPythonError = 59,
  kCrashReport = 60,
  kPlayers = 64,
  kName = 120,
  kState = 121,
  kObjects = 122,
  kItems = 123,
  kFps = 124,
  kProcessId = 126,
  kFbCount = 127,
  kMapEntries = 150,
};
constexpr unsigned kMapEntriesServerType = 11;

struct MapRow {
  std::map<unsigned, int64_t> Numbers;
  std::map<unsigned, std::string> Texts;
};

std::string Number(const MapRow& row, unsigned code) {
  auto found = row.Numbers.find(code);
  return found == row.Numbers.end() ? "-" : std::to_string(found->second);
}

std::string Bytes(const MapRow& row, unsigned code) {
  auto found = row.Numbers.find(code);
  if (found == row.Numbers.end()) return "-";
  return FormatText("%.1f MiB", static_cast<double>(found->second) / (1024.0 * 1024.0));
}

std::string Text(const MapRow& row, unsigned code, const char* missing) {
  auto found = row.Texts.find(code);
  return found == row.Texts.end() ? missing : Printable(found->second);
}

}  // namespace

std::vector<std::string> FormatBaseInfoTable(const BaseInfoReply& reply) {
  std::map<unsigned, MapRow> rows;
  std::optional<int64_t> mapEntries;
  std::optional<InfoKey> linkKey;
  for (const NumericItem& item : reply.Numbers) {
    const InfoKey key = DecodeInfoKey(item.Key);
    if (key.Code == kMapEntries && key.ServerType == kMapEntriesServerType) {
      mapEntries = item.Value;
      continue;
    }
    if (!linkKey) linkKey = key;
    rows[key.MapId].Numbers[key.Code] = item.Value;
  }
  for (const TextItem& item : reply.Texts) {
    const InfoKey key = DecodeInfoKey(item.Key);
    if (!linkKey) linkKey = key;
    rows[key.MapId].Texts[key.Code] = item.Text;
  }

  std::size_t maps = 0;
  for (const auto& [mapId, row] : rows)
    if (mapId != 0) ++maps;
  std::vector<std::string> lines;
  std::string summary = FormatText("%zu maps", maps);
  if (mapEntries) summary += FormatText(", map entries %lld", static_cast<long long>(*mapEntries));
  if (linkKey) summary += FormatText(", line %u, server type %u", linkKey->LineId, linkKey->ServerType);
  lines.push_back(summary);
  if (rows.empty()) return lines;

  lines.push_back(FormatText("  %5s  %-28s %-13s %7s %7s %5s %4s %10s %10s %7s %8s %4s", "map", "name", "state",
                             "players", "items", "FPS", "CPU%", "memory", "pagefile", "objects", "pid", "FB"));
  for (const auto& [mapId, row] : rows) {
    // Map 0 carries the manager's own figures (a reply made without the map list).
    const std::string name = Text(row, kName, mapId == 0 ? "(manager)" : "-");
    lines.push_back(FormatText(
        "  %5u  %-28s %-13s %7s %7s %5s %4s %10s %10s %7s %8s %4s", mapId, name.c_str(), Text(row, kState, "-").c_str(),
        Number(row, kPlayers).c_str(), Number(row, kItems).c_str(), Number(row, kFps).c_str(),
        Number(row, kCpu).c_str(), Bytes(row, kMemory).c_str(), Bytes(row, kPagefile).c_str(),
        Number(row, kObjects).c_str(), Number(row, kProcessId).c_str(), Number(row, kFbCount).c_str()));
  }
  for (const auto& [mapId, row] : rows) {
    for (unsigned code : {kCrashReport, kPythonError}) {
      auto found = row.Texts.find(code);
      if (found != row.Texts.end())
        lines.push_back(FormatText("  map %u: %s", mapId, ShowBytes(found->second).c_str()));
    }
  }
  return lines;
}

std::string CommonCmdBody(const std::string& name, const std::string& param) {
  std::string body("\x03\x04", 2);
  body.push_back(0);
  std::string field = name.substr(0, kMaxCommandName);
  field.resize(32, '\0');
  body += field;
  const std::string cut = param.substr(0, kMaxCommandParam);
  body.push_back(static_cast<char>(cut.size()));
  body += cut;
  return body;
}

bool ParseCommonCmdReply(std::string_view body, CommonCmdReply& reply, std::string& why) {
  reply = CommonCmdReply();
  ByteReader reader(body);
  std::string name;
  uint32_t resultLength = 0;
  uint8_t paramLength = 0;
  if (!reader.Skip(3) || !reader.ReadBytes(32, name) || !reader.Read(resultLength)) {
    why = FormatText("a reply of %zu bytes, shorter than its 39-byte start", body.size());
    return false;
  }
  if (!reader.ReadBytes(resultLength, reply.Result)) {
    why = FormatText("a result of %u bytes announced, %zu present", resultLength, reader.Left());
    return false;
  }
  if (!reader.Read(paramLength) || !reader.ReadBytes(paramLength, reply.Param)) {
    why = "the echoed parameter is cut short";
    return false;
  }
  if (reader.Left() != 0) {
    why = FormatText("%zu bytes after the echoed parameter", reader.Left());
    return false;
  }
  reply.Name = name.substr(0, std::min(name.find('\0'), kMaxCommandName));
  return true;
}

bool InflateToFile(std::string_view compressed, const std::string& path, uint64_t maxBytes, uint64_t& written,
                   std::string& why) {
  written = 0;
  const std::string partial = path + ".part";
  FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    why = FormatText("cannot write %s: %s", partial.c_str(), std::strerror(errno));
    return false;
  }
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    std::fclose(file);
    std::remove(partial.c_str());
    why = "zlib cannot start";
    return false;
  }
  std::vector<unsigned char> out(256 * 1024);
  std::size_t offset = 0;
  int status = Z_OK;
  bool ok = true;
  while (ok && status != Z_STREAM_END) {
    if (stream.avail_in == 0) {
      const std::size_t chunk = std::min<std::size_t>(compressed.size() - offset, 1u << 30);
      if (chunk == 0) {
        why = "the zlib stream ends early";
        ok = false;
        break;
      }
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + offset));
      stream.avail_in = static_cast<uInt>(chunk);
      offset += chunk;
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      why = FormatText("the zlib stream is damaged (%s)", stream.msg != nullptr ? stream.msg : zError(status));
      ok = false;
      break;
    }
    const std::size_t produced = out.size() - stream.avail_out;
    if (written + produced > maxBytes) {
      why = FormatText("the log inflates to more than %llu bytes", static_cast<unsigned long long>(maxBytes));
      ok = false;
      break;
    }
    if (produced > 0 && std::fwrite(out.data(), 1, produced, file) != produced) {
      why = FormatText("cannot write %s: %s", partial.c_str(), std::strerror(errno));
      ok = false;
      break;
    }
    written += produced;
  }
  if (ok && (stream.avail_in != 0 || offset != compressed.size())) {
    why = "bytes follow the end of the zlib stream";
    ok = false;
  }
  inflateEnd(&stream);
  if (std::fclose(file) != 0 && ok) {
    why = FormatText("cannot write %s: %s", partial.c_str(), std::strerror(errno));
    ok = false;
  }
  if (ok && std::rename(partial.c_str(), path.c_str()) != 0) {
    why = FormatText("cannot rename %s: %s", partial.c_str(), std::strerror(errno));
    ok = false;
  }
  if (!ok) std::remove(partial.c_str());
  return ok;
}

std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string ShowBytes(std::string_view bytes, std::size_t limit) {
  bool text = true;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      text = false;
      break;
    }
  }
  const std::string_view shown = bytes.substr(0, limit);
  std::string out;
  if (text) {
    for (char c : shown) {
      if (c == '\n')
        out += "\\n";
      else if (c == '\r')
        out += "\\r";
      else if (c == 0x7F)
        out.push_back('?');
      else
        out.push_back(c);
    }
  } else {
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (i > 0) out.push_back(' ');
      out += FormatText("%02X", static_cast<unsigned char>(shown[i]));
    }
  }
  if (bytes.size() > limit) out += FormatText(" ... (%zu bytes)", bytes.size());
  return out;
}

}  // namespace statusserver
