#include "statuslink/CommonCmd.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "common/Utils.h"
#include "components/LogComponent.h"

using namespace statuswire;

namespace {

// A dump longer than this many bytes of body is cut, so that a huge hostile body cannot
// make a log line of three times its size.
constexpr int kMaxDumpBytes = 4096;
// Input given to zlib at a time: between two of them the caller may call a halt.
constexpr uint64_t kInputChunk = 1024 * 1024;

}  // namespace

int ReadCommonCmd(tagCSVCommonCmd& record, const char* bytes, int total, bool report) {
  const int available = total != 0 ? total : INT_MAX;
  record = tagCSVCommonCmd{};
  if (bytes == nullptr || (total != 0 && total < kCommonCmdFixedLen)) return 0;
  switch (ParseCommonCmd(record, bytes, available)) {
    case CommonCmdRead::Ok: return kCommonCmdFixedLen + record.ParamLen;
    case CommonCmdRead::TooShort: return 0;
    case CommonCmdRead::ExtraBytes: break;
  }
  if (report) {
    std::string dump = HexText(bytes, static_cast<std::size_t>(std::min(total, kMaxDumpBytes)));
    if (total > kMaxDumpBytes) dump += "...";
    LogObject()->LogWarn("Error in tagCSVCommonCmd : %s ", dump.c_str());
  }
  return 0;
}

std::string CompressedBlocks::Join() const {
  std::string joined;
  joined.reserve(Size);
  for (const std::string& block : Blocks) joined += block;
  return joined;
}

CompressResult CompressZlib9(const void* data, uint64_t size, std::size_t maxOut, CompressedBlocks& out,
                             const std::function<bool()>& keepGoing) {
  out = CompressedBlocks{};
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) return CompressResult::Failed;
  const auto* next = static_cast<const Bytef*>(data);
  uint64_t left = size;
  std::size_t blockSize = 64 * 1024;  // doubles up to 4 MiB: small logs stay small
  std::size_t used = 0;               // bytes written into the last block
  int status = Z_OK;
  CompressResult result = CompressResult::Ok;
  while (status != Z_STREAM_END) {
    if (stream.avail_in == 0 && left > 0) {
      if (keepGoing && !keepGoing()) {
        result = CompressResult::Abandoned;
        break;
      }
      const uInt chunk = static_cast<uInt>(std::min<uint64_t>(left, kInputChunk));
      stream.next_in = const_cast<Bytef*>(next);
      stream.avail_in = chunk;
      next += chunk;
      left -= chunk;
    }
    if (out.Blocks.empty() || used == out.Blocks.back().size()) {
      if (out.Size > maxOut) {
        result = CompressResult::TooLarge;
        break;
      }
      out.Blocks.emplace_back(blockSize, '\0');
      used = 0;
      blockSize = std::min<std::size_t>(blockSize * 2, 4 * 1024 * 1024);
    }
    std::string& block = out.Blocks.back();
    stream.next_out = reinterpret_cast<Bytef*>(block.data() + used);
    stream.avail_out = static_cast<uInt>(block.size() - used);
    const std::size_t room = stream.avail_out;
    status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    used += room - stream.avail_out;
    out.Size += room - stream.avail_out;
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      result = CompressResult::Failed;
      break;
    }
  }
  deflateEnd(&stream);
  if (result == CompressResult::Ok && out.Size > maxOut) result = CompressResult::TooLarge;
  if (result != CompressResult::Ok) {
    out = CompressedBlocks{};
    return result;
  }
  if (!out.Blocks.empty()) out.Blocks.back().resize(used);
  return result;
}

std::string CommonCmdReplyBody(const tagCSVCommonCmd& request, CompressedBlocks& result) {
  // The record around an empty result, then the result put in its place.
  const std::string frame = statuswire::CommonCmdReplyBody(request, "", 0);
  std::string body;
  body.reserve(frame.size() + result.Size);
  body.append(frame, 0, 35);
  PutU32(body, static_cast<uint32_t>(result.Size));
  for (std::string& block : result.Blocks) {
    body += block;
    std::string().swap(block);
  }
  result = CompressedBlocks{};
  body.append(frame, 39, std::string::npos);
  return body;
}

std::string LogSafe(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += digits[b >> 4];
      out += digits[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}
