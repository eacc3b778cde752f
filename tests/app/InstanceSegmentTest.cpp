// The single-instance segment: who registers first, and what a second holder sees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app/InstanceSegment.h"
#include "platform/shared_memory.h"
#include "support/TestSupport.h"

namespace {

std::string SegmentName(const char* tag) {
  return app::InstanceSegment::NameOf(FreshName("VemoAppTest_" + std::string(tag) + "_"));
}

TEST(InstanceSegmentTest, FirstHolderRegistersAndLaterHoldersSeeIt) {
  const std::string name = SegmentName("first");
  EXPECT_EQ(name.rfind("Global\\_", 0), 0u);
  app::InstanceSegment first, second, third;
  std::string error;
  EXPECT_EQ(first.GetRegisteredWindow(name, 11, &error), 11u);
  EXPECT_EQ(second.GetRegisteredWindow(name, 22, &error), 11u);
  EXPECT_TRUE(error.empty()) << error;

  // The segment lives while anyone holds it: the first leaving does not free the sign
  // while the second still holds it...
  first.Close();
  EXPECT_EQ(third.GetRegisteredWindow(name, 33, &error), 11u);
  // ...and once every holder is gone, the next one starts afresh.
  second.Close();
  third.Close();
  app::InstanceSegment fourth;
  EXPECT_EQ(fourth.GetRegisteredWindow(name, 44, &error), 44u);
}

TEST(InstanceSegmentTest, AZeroHandleInTheSegmentIsTakenOver) {
  const std::string name = SegmentName("zero");
  bool existed = false;
  int code = 0;
  const int holder = platform::CreateSharedSegment(name, 4, &existed, &code);
  ASSERT_GE(holder, 0);
  app::InstanceSegment segment;
  std::string error;
  EXPECT_EQ(segment.GetRegisteredWindow(name, 55, &error), 55u);
  platform::CloseSharedSegment(holder);
}

TEST(InstanceSegmentTest, AnUnusableNameIsReportedAndDoesNotBlockStartUp) {
  app::InstanceSegment segment;
  std::string error;
  EXPECT_EQ(segment.GetRegisteredWindow(app::InstanceSegment::NameOf(std::string(300, 'x')), 66, &error), 66u);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(segment.IsOpen());
}

}  // namespace
