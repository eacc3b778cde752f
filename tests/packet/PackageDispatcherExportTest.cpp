// The framer's exports are found by name in the running program, as a component that the
// program loads finds them. Built twice: linked plainly, and linked as a whole archive.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "interfaces/IPackageDispatcher.h"

TEST(PackageDispatcherExport, FoundByNameInTheProgram) {
  auto newFramer = reinterpret_cast<NewPackageDispatcherFunc>(dlsym(RTLD_DEFAULT, "NewPackageDispatcher"));
  auto freeFramer = reinterpret_cast<FreePackageDispatcherFunc>(dlsym(RTLD_DEFAULT, "FreePackageDispatcher"));
  ASSERT_NE(newFramer, nullptr);
  ASSERT_NE(freeFramer, nullptr);
  IPackageDispatcher* framer = newFramer();
  ASSERT_NE(framer, nullptr);
  char buffer[16];
  ASSERT_EQ(framer->PackData("abc", 3, buffer, sizeof buffer), 9);
  EXPECT_EQ(std::string(buffer, 9), std::string("\xFF\xCC\x03\x00\x00\x00"
                                                "abc",
                                                9));
  freeFramer(framer);
  freeFramer(nullptr);
}
