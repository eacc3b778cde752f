// A short deterministic run of the hostile-record fuzzing entry: seeded random records, and
// the records a broken map server is most likely to leave: every byte 0xFF, texts without a
// zero byte, counts at INT_MIN and INT_MAX, NaN and infinite floats, GBK and invalid UTF-8.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "HostileRecordFuzz.h"
#include "interfaces/tagMapServerData.h"

namespace {

std::string Record(const std::function<void(tagMapServerData&)>& fill) {
  alignas(4) tagMapServerData record;
  std::memset(&record, 0, sizeof record);
  fill(record);
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

int Feed(const std::string& bytes) {
  return FuzzHostileRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(HostileRecordFuzzTest, ExtremeAndRandomRecordsAreReadSafelyByEveryReader) {
  EXPECT_EQ(Feed(std::string(2200, '\xFF')), 0);
  EXPECT_EQ(Feed(Record([](tagMapServerData& r) {
              std::memset(r.MsgText, 'M', sizeof r.MsgText);
              std::memset(r.LastErrorTime, '\xB5', sizeof r.LastErrorTime);  // half a GBK pair, no end
              std::memset(r.LastFatalTime, '\xC3', sizeof r.LastFatalTime);  // invalid UTF-8
              std::memset(r.LastPyErrorTime, '"', sizeof r.LastPyErrorTime);
              r.State = msCppError;
              r.PlayerCnt = INT_MIN;
              r.MaxPlayerCnt = -1;
              r.StreamSaveCostTime = std::nanf("");
            })),
            0);
  for (int32_t state : {int32_t{msPythonError}, int32_t{msRunning}, int32_t{INT_MAX}, int32_t{-7}}) {
    EXPECT_EQ(Feed(Record([&](tagMapServerData& r) {
                r.State = state;
                r.PlayerCnt = INT_MAX;
                r.MaxPlayerCnt = 1;
                r.StreamSaveCostTime = INFINITY;
                r.HeartBeat = INT_MIN;
                std::memset(r.LogLevelCounts, 0xFF, sizeof r.LogLevelCounts);
                std::memcpy(r.MsgText, "\xB5\xD8\xCD\xBC\nline\r\\\"", 12);
              })),
              0);
  }
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    std::string bytes(1 + random() % 5000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    EXPECT_EQ(Feed(bytes), 0);
  }
}

}  // namespace
