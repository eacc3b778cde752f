// The record that one map server shares with the manager: 2200 bytes, little-endian,
// packed. Written by the map server (MS) or the manager (MM) as noted; each field is
// written by one side only, except State and HeartBeat.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct tagMapServerData {
  int32_t GameObjCnt;         // MS
  int32_t PlayerCnt;          // MS
  int32_t MaxPlayerCnt;       // MS
  int32_t FPS;                // MS
  int32_t ItemCnt;            // MS
  int32_t MaxItemCnt;         // MS
  int32_t State;              // MS; MM resets it to 0 when the heartbeat runs out
  int32_t HeartBeat;          // MS keeps it raised; MM lowers it once per refresh tick
  uint32_t MainThreadId;      // MM at launch
  uint32_t Hwnd;              // MS: the map server's bus handle
  uint32_t ProcessId;         // MM at launch
  uint32_t XmlLoadCnt;        // MS
  uint32_t PackTotal;         // MS
  int32_t FBCnt;              // MS
  int32_t AllocPlayerCnt;     // MS
  int32_t AllocItemCnt;       // MS
  float StreamSaveCostTime;   // MS
  int32_t CloseRequest;       // MM: 1 asks the map server to save and close
  int32_t DebugModule;        // MM
  int32_t ServerVersion;      // MM at launch
  char ScriptCmd[1024];       // MM: script text for the map server to run
  char MsgText[1024];         // MS
  int32_t ResetLogRequest;    // MM: 1 asks the map server to reset its log counters
  uint8_t LogLevelCounts[7];  // MS: one counter per level from "Debug" to "Fatal"
  char LastErrorTime[20];     // MS
  char LastFatalTime[20];     // MS
  char LastPyErrorTime[20];   // MS
  uint8_t Reserved;
};
#pragma pack(pop)

static_assert(sizeof(tagMapServerData) == 2200);
static_assert(offsetof(tagMapServerData, GameObjCnt) == 0);
static_assert(offsetof(tagMapServerData, PlayerCnt) == 4);
static_assert(offsetof(tagMapServerData, MaxPlayerCnt) == 8);
static_assert(offsetof(tagMapServerData, FPS) == 12);
static_assert(offsetof(tagMapServerData, ItemCnt) == 16);
static_assert(offsetof(tagMapServerData, MaxItemCnt) == 20);
static_assert(offsetof(tagMapServerData, State) == 24);
static_assert(offsetof(tagMapServerData, HeartBeat) == 28);
static_assert(offsetof(tagMapServerData, MainThreadId) == 32);
static_assert(offsetof(tagMapServerData, Hwnd) == 36);
static_assert(offsetof(tagMapServerData, ProcessId) == 40);
static_assert(offsetof(tagMapServerData, XmlLoadCnt) == 44);
static_assert(offsetof(tagMapServerData, PackTotal) == 48);
static_assert(offsetof(tagMapServerData, FBCnt) == 52);
static_assert(offsetof(tagMapServerData, AllocPlayerCnt) == 56);
static_assert(offsetof(tagMapServerData, AllocItemCnt) == 60);
static_assert(offsetof(tagMapServerData, StreamSaveCostTime) == 64);
static_assert(offsetof(tagMapServerData, CloseRequest) == 68);
static_assert(offsetof(tagMapServerData, DebugModule) == 72);
static_assert(offsetof(tagMapServerData, ServerVersion) == 76);
static_assert(offsetof(tagMapServerData, ScriptCmd) == 80);
static_assert(offsetof(tagMapServerData, MsgText) == 1104);
static_assert(offsetof(tagMapServerData, ResetLogRequest) == 2128);
static_assert(offsetof(tagMapServerData, LogLevelCounts) == 2132);
static_assert(offsetof(tagMapServerData, LastErrorTime) == 2139);
static_assert(offsetof(tagMapServerData, LastFatalTime) == 2159);
static_assert(offsetof(tagMapServerData, LastPyErrorTime) == 2179);
static_assert(offsetof(tagMapServerData, Reserved) == 2199);

// Map server states.
enum EMapServerState : int32_t {
  msNotExist = 0,
  msConnecting = 1,
  msIniting = 2,
  msRunning = 3,
  msPythonError = 4,
  msCppError = 5,
  msDisconnected = 6,
};
