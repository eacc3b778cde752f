// The layout of the system-table share data segment, for every process that opens it.
//
//   offset 0     tagShareHead (124 bytes), then padding to 128
//   Reserved[0]  byte offset of the player table     Reserved[1]  its capacity in rows
//   Reserved[2]  byte offset of the item table       Reserved[3]  its capacity in rows
//   Reserved[4]  1 once the tables have been loaded
//   PlayerTotal, ItemTotal  rows in use in the two tables
//
// All little-endian; texts are single-byte or GBK, ending with a zero byte in the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interfaces/IGameData.h"

namespace gamedata {

#pragma pack(push, 1)
// One row of the player level table.
struct tagSharePlayerRow {
  int32_t Level;
  int32_t Exp;  // experience needed to reach the next level
  int32_t MaxHP;
  int32_t MaxMP;
};
// One item template.
struct tagShareItemRow {
  int32_t ItemID;
  int32_t Type;
  int32_t MaxStack;
  int32_t Price;
  char Name[48];
};
#pragma pack(pop)
static_assert(sizeof(tagSharePlayerRow) == 16);
static_assert(sizeof(tagShareItemRow) == 64);

constexpr uint32_t kHeadBytes = 128;
constexpr uint32_t kPlayerCapacity = 1024;
constexpr uint32_t kItemCapacity = 16384;
constexpr uint32_t kPlayerTableOffset = kHeadBytes;
constexpr uint32_t kItemTableOffset = kPlayerTableOffset + kPlayerCapacity * sizeof(tagSharePlayerRow);
constexpr uint32_t kShareDataSize = kItemTableOffset + kItemCapacity * sizeof(tagShareItemRow);
static_assert(sizeof(tagShareHead) <= kHeadBytes);

// The words of tagShareHead::Reserved.
enum EShareReserved {
  srPlayerTableOffset = 0,
  srPlayerCapacity = 1,
  srItemTableOffset = 2,
  srItemCapacity = 3,
  srLoaded = 4,
};

}  // namespace gamedata
