#include "platform/library.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform;

TEST(LibraryTest, LoadsResolvesAndReportsFailures) {
  int error = -1;
  // A name that is not a logical name is passed to the loader as it stands.
  void* libm = LoadLibrary("libm.so.6", &error);
  ASSERT_NE(libm, nullptr) << LastLibraryError();
  EXPECT_EQ(error, 0);
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(libm, "cos", &error));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(libm, "NoSuchExport", &error), nullptr);
  EXPECT_EQ(error, kErrorProcNotFound);
  EXPECT_FALSE(LastLibraryError().empty());
  EXPECT_EQ(GetProcAddress(nullptr, "cos", &error), nullptr);
  EXPECT_EQ(error, kErrorProcNotFound);
  FreeLibrary(libm);
  FreeLibrary(nullptr);

  EXPECT_EQ(LoadLibrary("NoSuchComponent.dll", &error), nullptr);
  EXPECT_EQ(error, kErrorModNotFound);
  EXPECT_NE(LastLibraryError().find("libNoSuchComponent.so"), std::string::npos) << LastLibraryError();
  for (const std::string& bad : {std::string("/tmp"), std::string("/tmp/"), std::string(), std::string("a\0b", 3)}) {
    error = 0;
    EXPECT_EQ(LoadLibrary(bad, &error), nullptr) << bad;
    EXPECT_EQ(error, kErrorModNotFound) << bad;
  }
}

// The owning type: exactly one owner unloads, a moved-from object holds nothing, and an
// unknown export is a null pointer with the procedure-not-found code.
TEST(LibraryTest, OwningLibraryUnloadsOnceAfterMoves) {
#if defined(VEMO_UNDER_ASAN)
  // Under the undefined-behaviour sanitizer the status logic component refers to the packet
  // record's type information, which the manager carries and this test program does not.
  // The other passes run this test.
  GTEST_SKIP() << "the sanitized component needs the program's type information";
#endif
  const auto isLoaded = [] {
    void* handle = GetLoadedLibrary("Quenfor.dll");
    FreeLibrary(handle);
    return handle != nullptr;
  };
  ASSERT_FALSE(isLoaded());
  {
    Library first("Quenfor.dll");
    ASSERT_TRUE(first) << LastLibraryError();
    int error = -1;
    EXPECT_NE(first.Resolve<bool (*)(void*)>("OnStatusRequest", &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(first.Resolve<void (*)()>("NoSuchExport", &error), nullptr);
    EXPECT_EQ(error, kErrorProcNotFound);

    Library second = std::move(first);
    EXPECT_FALSE(first.IsLoaded());
    EXPECT_EQ(first.Resolve<bool (*)(void*)>("OnStatusRequest", &error), nullptr);
    EXPECT_EQ(error, kErrorProcNotFound);
    {
      Library third;
      third = std::move(second);
      EXPECT_TRUE(isLoaded());
    }
    EXPECT_FALSE(isLoaded());
  }
  Library missing("NoSuchComponent.dll");
  EXPECT_FALSE(missing);
}
