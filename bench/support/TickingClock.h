// A clock that moves 1000 ms per reading, so that every CPU sampling call is a full tick.
#pragma once

#include <cstdint>

#include "platform/clock.h"

class TickingClock : public platform::Clock {
 public:
  uint32_t TickCount() override { return m_Now += 1000; }

 private:
  uint32_t m_Now = 0;
};
