// The loaders' fatal failures: a peer program loads a component from a directory that
// the test lays out, and must end with exit code 1 after the "Error report" box (which the
// unattended dialogs write to standard error).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "ComponentTestSupport.h"

namespace {

using component_test::ChildResult;
using component_test::RunChild;

// Runs the peer with `files` (name in the directory -> file to copy there) as the only
// libraries it can find.
ChildResult RunProbe(const std::string& mode, const std::map<std::string, std::string>& files) {
  TempDir dir("vemo-components");
  for (const auto& [name, source] : files)
    std::filesystem::copy_file(source, dir / name, std::filesystem::copy_options::overwrite_existing);
  return RunChild(VEMO_TESTS_DIR "components_loader_peer", {mode},
                  {"LD_LIBRARY_PATH=" + dir.Path(), "VEMO_UNATTENDED=ok", "VEMO_LOG_DIR=" + dir.Path()},
                  dir / "stderr.txt");
}

const std::string kTolvar = VEMO_BIN_DIR "libTolvar.so";
const std::string kBrenox = VEMO_BIN_DIR "libBrenox.so";
const std::string kPartial = VEMO_TESTS_DIR "partial/";

std::string Box(const std::string& text) { return "[ErrorBox] Error report: " + text + "\n"; }

TEST(LoaderFailureTest, LogComponent) {
  ChildResult loaded = RunProbe("log", {{"libTolvar.so", kTolvar}});
  EXPECT_EQ(loaded.exitCode, 0) << loaded.output;

  ChildResult missing = RunProbe("log", {});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output, Box("Can't find tolvar.dll!!!Fail to start server!!!"));

  ChildResult noGetLog = RunProbe("log", {{"libTolvar.so", kBrenox}});
  EXPECT_EQ(noGetLog.exitCode, 1);
  EXPECT_EQ(noGetLog.output, Box("Can't find GetLog function in tolvar module!!!Fail to start server!!!"));

  ChildResult noFree = RunProbe("log", {{"libTolvar.so", kPartial + "libpartial_getlog.so"}});
  EXPECT_EQ(noFree.exitCode, 1);
  EXPECT_EQ(noFree.output, Box("Can't find Log_Free function in tolvar module!!!Fail to start server!!!"));
}

TEST(LoaderFailureTest, ConfigComponent) {
  ChildResult loaded = RunProbe("config", {{"libBrenox.so", kBrenox}});
  EXPECT_EQ(loaded.exitCode, 0) << loaded.output;

  ChildResult missing = RunProbe("config", {});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output, Box("Can't find Brenox.dll!!!Fail to start server!!!"));

  ChildResult noCreate = RunProbe("config", {{"libBrenox.so", kTolvar}});
  EXPECT_EQ(noCreate.exitCode, 1);
  EXPECT_EQ(noCreate.output, Box("Can't find CreateConfig function in Brenox module!!!Fail to start server!!!"));

  ChildResult noFree = RunProbe("config", {{"libBrenox.so", kPartial + "libpartial_createconfig.so"}});
  EXPECT_EQ(noFree.exitCode, 1);
  EXPECT_EQ(noFree.output, Box("Can't find FreeConfig function in Brenox module!!!Fail to start server!!!"));

  // CreateConfig gives nothing: the process ends with 1 and no message.
  ChildResult none = RunProbe("config", {{"libBrenox.so", kPartial + "libpartial_createconfig_freeconfig.so"}});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.output, "");
}

TEST(LoaderFailureTest, ConfigFailureReleasesALoadedLog) {
  const std::map<std::string, std::string> silentLog = {{"libTolvar.so", kPartial + "libpartial_getlog_logfree.so"}};
  ChildResult missing = RunProbe("log+config", silentLog);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output, Box("Can't find Brenox.dll!!!Fail to start server!!!") + "Log_Free\n");

  std::map<std::string, std::string> noCreate = silentLog;
  noCreate["libBrenox.so"] = kTolvar;
  ChildResult noCreateResult = RunProbe("log+config", noCreate);
  EXPECT_EQ(noCreateResult.exitCode, 1);
  EXPECT_EQ(noCreateResult.output,
            Box("Can't find CreateConfig function in Brenox module!!!Fail to start server!!!") + "Log_Free\n");
}

}  // namespace
