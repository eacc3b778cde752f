// Reading the common command record (tagCSVCommonCmd) of a received body, and the one-pass
// zlib compression of the error-log reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces/StatusWire.h"

// Reads the record from `bytes`; `total` is the byte count (0: unchecked, the caller vouches
// for 36 + L bytes). Returns 36 + L, or 0 when the declared parameter runs past `total` (it
// is then left empty) or when bytes follow it (written to the log with a dump of the body
// when `report` is set). The record is usable in every case.
int ReadCommonCmd(statuswire::tagCSVCommonCmd& record, const char* bytes, int total, bool report = true);

// Compressed bytes as a list of blocks, so that growing never copies what was written and
// the reply can take them over block by block.
struct CompressedBlocks {
  std::vector<std::string> Blocks;
  std::size_t Size = 0;
  // All blocks in one (for tests and small results).
  std::string Join() const;
};

enum class CompressResult { Ok, TooLarge, Failed, Abandoned };
// Compresses `size` bytes into one zlib stream (RFC 1950) at level 9. TooLarge as soon as
// the stream would exceed `maxOut` bytes; Abandoned as soon as `keepGoing`, asked before
// every MiB of input, says no; `out` is empty unless the result is Ok.
CompressResult CompressZlib9(const void* data, uint64_t size, std::size_t maxOut, CompressedBlocks& out,
                             const std::function<bool()>& keepGoing = nullptr);

// Text from a peer or a shared record as a log line may quote it: control characters are
// written as escapes (\n, \r, \t, \xNN), so that such text can never begin a line of its
// own in the log.
std::string LogSafe(std::string_view text);

// The common command reply body with `result` as its result bytes; the blocks are released
// as they are copied, so the result is held only once at any time.
std::string CommonCmdReplyBody(const statuswire::tagCSVCommonCmd& request, CompressedBlocks& result);
