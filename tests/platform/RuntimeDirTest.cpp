// The private runtime directory: what a user's programs trust to meet in must be theirs alone.
#include "platform/runtime_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "PeerHelpers.h"
#include "platform/message_bus.h"

namespace {

// Sets XDG_RUNTIME_DIR (or unsets it for null) and restores it, and the current directory,
// when the test ends.
class RuntimeEnv {
 public:
  explicit RuntimeEnv(const char* value) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    m_Had = saved != nullptr;
    if (m_Had) m_Saved = saved;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) m_Cwd = cwd;
    if (value != nullptr)
      setenv("XDG_RUNTIME_DIR", value, 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  ~RuntimeEnv() {
    if (m_Had)
      setenv("XDG_RUNTIME_DIR", m_Saved.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    if (!m_Cwd.empty() && chdir(m_Cwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_Cwd;
  }

 private:
  bool m_Had = false;
  std::string m_Saved;
  std::string m_Cwd;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

}  // namespace

// Made private when missing; refused, and left as found, when it is open to others, owned by
// another user, or a symbolic link stands in its place (even one to a private directory).
TEST(RuntimeDirTest, OnlyAPrivateDirectoryOfThisUserIsUsed) {
  const std::string runtime = peer::ScratchDir("xdg");
  RuntimeEnv env(runtime.c_str());
  std::string error;

  EXPECT_EQ(platform::PrivateRuntimeDir("fresh", error), runtime + "fresh/") << error;
  EXPECT_EQ(ModeOf(runtime + "fresh"), S_IFDIR | 0700);

  ASSERT_EQ(mkdir((runtime + "loose").c_str(), 0700), 0);
  ASSERT_EQ(chmod((runtime + "loose").c_str(), 0750), 0);
  EXPECT_EQ(platform::PrivateRuntimeDir("loose", error), "");
  EXPECT_NE(error.find("refusing " + runtime + "loose"), std::string::npos) << error;
  EXPECT_EQ(ModeOf(runtime + "loose"), S_IFDIR | 0750);

  ASSERT_EQ(symlink((runtime + "fresh").c_str(), (runtime + "linked").c_str()), 0);
  error.clear();
  EXPECT_EQ(platform::PrivateRuntimeDir("linked", error), "");
  EXPECT_NE(error.find("is not a directory"), std::string::npos) << error;
  EXPECT_TRUE(S_ISLNK(ModeOf(runtime + "linked")));

  if (getuid() == 0) {  // only root can give a directory away
    ASSERT_EQ(mkdir((runtime + "foreign").c_str(), 0700), 0);
    ASSERT_EQ(chown((runtime + "foreign").c_str(), 65534, 65534), 0);
    error.clear();
    EXPECT_EQ(platform::PrivateRuntimeDir("foreign", error), "");
    EXPECT_NE(error.find("refusing"), std::string::npos) << error;
  }
}

// A relative XDG_RUNTIME_DIR names no fixed place (it moves with the current directory), so
// it is ignored: the message bus then meets in /tmp/<name>-<uid>, never under the current
// directory.
TEST(RuntimeDirTest, RelativeRuntimeDirFallsBackToTmp) {
  const std::string cwd = peer::ScratchDir("cwd");
  ASSERT_EQ(mkdir((cwd + "run").c_str(), 0700), 0);
  RuntimeEnv env("run");
  ASSERT_EQ(chdir(cwd.c_str()), 0);

  std::string error;
  const std::string tmp = "/tmp/vemo-bus-" + std::to_string(getuid()) + "/";
  EXPECT_EQ(platform::PrivateRuntimeDir("vemo-bus", error), tmp) << error;

  auto endpoint = platform::BusEndpoint::Open("RuntimeDirTest", "relative " + std::to_string(getpid()), nullptr);
  ASSERT_NE(endpoint, nullptr);
  const std::string socket = std::to_string(endpoint->Handle()) + ".sock";
  EXPECT_TRUE(S_ISSOCK(ModeOf(tmp + socket)));
  EXPECT_EQ(ModeOf(cwd + "run/vemo-bus"), 0u) << "nothing is made under the current directory";
}
