// The check tools as programs: the environment report of Gavrock and the manifest check
// of Holmira, with their exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ChildProgram.h"

namespace {

class CheckToolsTest : public ::testing::Test {
 protected:
  TempDir m_Made{"vemo-tools"};
  const std::string m_Dir = m_Made.Path();
};

TEST_F(CheckToolsTest, GavrockWritesTheReportOrSaysWhyNot) {
  const std::string tool = VEMO_BIN_DIR "Gavrock";
  std::ofstream(m_Dir + "EnvInfo.log") << "an older report\n";
  CommandResult ok = RunCommand("'" + tool + "' '/ep:" + tool + "' '/lfp:" + m_Dir + "EnvInfo.log'");
  EXPECT_EQ(ok.exitCode, 0) << ok.output;
  std::string report = ReadFile(m_Dir + "EnvInfo.log");
  for (const char* section : {"[System]", "[Processors]", "[Memory]", "[Disks]", "[Executable]"})
    EXPECT_NE(report.find(section), std::string::npos) << section << "\n" << report;
  EXPECT_NE(report.find("Path=" + tool + "\n"), std::string::npos);
  EXPECT_NE(report.find("CRC-32="), std::string::npos);
  EXPECT_EQ(report.find("an older report"), std::string::npos);

  // A missing executable is reported, not fatal.
  CommandResult missing = RunCommand("'" + tool + "' '/ep:" + m_Dir + "nothing' '/lfp:" + m_Dir + "second.log'");
  EXPECT_EQ(missing.exitCode, 0);
  EXPECT_NE(ReadFile(m_Dir + "second.log").find("State=not found"), std::string::npos);

  CommandResult noReport = RunCommand("'" + tool + "' '/ep:" + tool + "'");
  EXPECT_EQ(noReport.exitCode, 2);
  EXPECT_NE(noReport.output.find("no report path given"), std::string::npos) << noReport.output;

  CommandResult unwritable = RunCommand("'" + tool + "' '/lfp:" + m_Dir + "no/such/dir/EnvInfo.log'");
  EXPECT_EQ(unwritable.exitCode, 3);
  EXPECT_NE(unwritable.output.find("cannot write the report"), std::string::npos) << unwritable.output;
}

TEST_F(CheckToolsTest, HolmiraChecksItsManifest) {
  const std::string tool = m_Dir + "Holmira";
  ASSERT_EQ(std::system(("cp '" VEMO_BIN_DIR "Holmira' '" + tool + "'").c_str()), 0);
  // No manifest yet.
  CommandResult none = RunCommand("'" + tool + "'");
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.output.find("cannot read the manifest"), std::string::npos) << none.output;

  ASSERT_EQ(mkdir((m_Dir + "sub dir").c_str(), 0755), 0);
  std::ofstream(m_Dir + "a.bin") << "alpha";
  std::ofstream(m_Dir + "sub dir/b.bin") << "beta";
  CommandResult made = RunCommand("'" + tool + "' /make '" + m_Dir + "Holmira.manifest' '" + tool + "' '" + m_Dir +
                                  "a.bin' '" + m_Dir + "sub dir/b.bin'");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  // Paths relative to the manifest; the CRC-32 of "alpha" is zlib's.
  EXPECT_NE(ReadFile(m_Dir + "Holmira.manifest").find("\nD0E0396A 5 a.bin\n"), std::string::npos)
      << ReadFile(m_Dir + "Holmira.manifest");

  CommandResult clean = RunCommand("'" + tool + "'");
  EXPECT_EQ(clean.exitCode, 0) << clean.output;
  EXPECT_NE(clean.output.find("3 file(s) checked, 0 mismatch(es)"), std::string::npos) << clean.output;

  std::ofstream(m_Dir + "a.bin") << "alphA";
  std::remove((m_Dir + "sub dir/b.bin").c_str());
  CommandResult changed = RunCommand("'" + tool + "'");
  EXPECT_EQ(changed.exitCode, 1);
  EXPECT_NE(changed.output.find("CHANGED  a.bin"), std::string::npos) << changed.output;
  EXPECT_NE(changed.output.find("MISSING  sub dir/b.bin"), std::string::npos) << changed.output;

  std::ofstream(m_Dir + "Holmira.manifest", std::ios::app) << "garbage line\n";
  CommandResult broken = RunCommand("'" + tool + "'");
  EXPECT_EQ(broken.exitCode, 2);
  EXPECT_NE(broken.output.find("malformed line"), std::string::npos) << broken.output;
}

}  // namespace
