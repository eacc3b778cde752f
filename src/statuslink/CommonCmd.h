// Reading the common command record (tagCSVCommonCmd) of a received body, and the one-pass
// zlib compression of the error-log reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "statuslink/StatusWire.h"

// Reads the record from `bytes`; `total` is the byte count (0: unchecked, the caller vouches
// for 36 + L bytes). Returns 36 + L, or 0 when the declared parameter runs past `total` (it
// is then left empty) or when bytes follow it (written to the log with a dump of the body
// when `report` is set). The record is usable in every case.
int ReadCommonCmd(statuswire::tagCSVCommonCmd& record, const char* bytes, int total, bool report = true);

enum class CompressResult { Ok, TooLarge, Failed };
// Compresses `size` bytes into one zlib stream (RFC 1950) at level 9, in a buffer that
// grows as needed. TooLarge as soon as the stream would exceed `maxOut` bytes.
CompressResult CompressZlib9(const void* data, uint64_t size, std::size_t maxOut, std::string& out);
