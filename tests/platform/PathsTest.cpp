#include "platform/paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "PeerHelpers.h"

using namespace platform;

TEST(PathsTest, LogicalFileNames) {
  struct Case {
    const char* logical;
    const char* file;
  } cases[] = {
      {"Brenox.dll", "libBrenox.so"},
      {"_Selvane.pyd", "_Selvane.so"},
      {"VemoMapServer.exe", "VemoMapServer"},
      {"/x/MapServerData/VemoMapServer.exe", "/x/MapServerData/VemoMapServer"},
      {"Script\\_Selvane.pyd", "Script/_Selvane.so"},
      {"C:\\a.b\\Tolvar.DLL", "C:/a.b/libTolvar.so"},
      {"MapServerConfig\\Sarvent.py", "MapServerConfig/Sarvent.py"},
      {"libm.so.6", "libm.so.6"},
      {"dir.exe/file", "dir.exe/file"},  // only the file's own extension counts
      {".dll", ".dll"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LogicalFileName(c.logical), c.file) << c.logical;
  EXPECT_EQ(NativePath("Map\\MapID.txt"), "Map/MapID.txt");
}

TEST(PathsTest, ExeDirAndItsOverride) {
  const std::string real = ExeDir();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.back(), '/');
  EXPECT_TRUE(DirectoryExists(real));
  SetExeDirForTesting("/opt/vemo");
  EXPECT_EQ(ExeDir(), "/opt/vemo/");
  unsetenv("VEMO_LOG_DIR");
  unsetenv("VEMO_SYSTEM_ROOT");
  EXPECT_EQ(LogDir(), "/opt/vemo/ServerLog/");
  EXPECT_EQ(SystemRoot(), "/opt/vemo/");
  setenv("VEMO_LOG_DIR", "/var/log/vemo", 1);
  setenv("VEMO_SYSTEM_ROOT", "/srv/root/", 1);
  EXPECT_EQ(LogDir(), "/var/log/vemo/");
  EXPECT_EQ(SystemRoot(), "/srv/root/");
  unsetenv("VEMO_LOG_DIR");
  unsetenv("VEMO_SYSTEM_ROOT");
  SetExeDirForTesting("");
  EXPECT_EQ(ExeDir(), real);
}

TEST(PathsTest, FilesDirectoriesAndTimes) {
  const std::string dir = peer::ScratchDir("paths");
  const std::string nested = dir + "a/b\\c/";
  EXPECT_TRUE(ForceDirectories(nested));
  EXPECT_TRUE(DirectoryExists(dir + "a/b/c"));
  EXPECT_TRUE(ForceDirectories(nested));  // existing already
  EXPECT_FALSE(FileExists(dir + "a"));
  EXPECT_FALSE(ForceDirectories(""));

  const std::string file = dir + "log.txt";
  std::ofstream(file) << "x";
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_FALSE(ForceDirectories(file + "/sub"));  // a file stands in the way

  // 2020-01-01 00:00:00 UTC, and half a second.
  timespec times[2] = {{1577836800, 500000000}, {1577836800, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(FileCreationTime(file), 132223104000000000ULL + 5000000ULL);
  EXPECT_EQ(FileCreationTime(dir + "missing"), 0u);
  EXPECT_FALSE(FileExists(dir + "missing"));
}
