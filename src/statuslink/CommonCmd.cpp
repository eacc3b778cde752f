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

}  // namespace

int ReadCommonCmd(tagCSVCommonCmd& record, const char* bytes, int total, bool report) {
  const int available = total != 0 ? total : INT_MAX;
  record = tagCSVCommonCmd{};
  if (bytes == nullptr || (total != 0 && total < kCommonCmdFixedLen)) return 0;
  switch (ParseCommonCmd(record, bytes, available)) {
    case CommonCmdRead::Ok:
      return kCommonCmdFixedLen + record.ParamLen;
    case CommonCmdRead::TooShort:
      return 0;
    case CommonCmdRead::ExtraBytes:
      break;
  }
  if (report) {
    std::string dump = HexText(bytes, static_cast<std::size_t>(std::min(total, kMaxDumpBytes)));
    if (total > kMaxDumpBytes) dump += "...";
    LogObject()->LogWarn("Error in tagCSVCommonCmd : %s ", dump.c_str());
  }
  return 0;
}

CompressResult CompressZlib9(const void* data, uint64_t size, std::size_t maxOut, std::string& out) {
  out.clear();
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) return CompressResult::Failed;
  // A log compresses to a fraction of its size; start there and double when full.
  std::size_t capacity = static_cast<std::size_t>(std::min<uint64_t>(size / 8 + 4096, maxOut + 1));
  out.resize(capacity);
  const auto* next = static_cast<const Bytef*>(data);
  uint64_t left = size;
  std::size_t produced = 0;
  int status = Z_OK;
  CompressResult result = CompressResult::Ok;
  while (status != Z_STREAM_END) {
    if (stream.avail_in == 0 && left > 0) {
      const uInt chunk = static_cast<uInt>(std::min<uint64_t>(left, UINT_MAX));
      stream.next_in = const_cast<Bytef*>(next);
      stream.avail_in = chunk;
      next += chunk;
      left -= chunk;
    }
    if (produced == out.size()) {
      if (produced > maxOut) {
        result = CompressResult::TooLarge;
        break;
      }
      out.resize(std::min(out.size() * 2, maxOut + 1));
    }
    const std::size_t room = std::min<std::size_t>(out.size() - produced, UINT_MAX);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    stream.avail_out = static_cast<uInt>(room);
    status = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    produced += room - stream.avail_out;
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      result = CompressResult::Failed;
      break;
    }
  }
  deflateEnd(&stream);
  if (result == CompressResult::Ok && produced > maxOut) result = CompressResult::TooLarge;
  if (result != CompressResult::Ok) {
    out.clear();
    out.shrink_to_fit();
    return result;
  }
  out.resize(produced);
  return result;
}
