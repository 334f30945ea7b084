// The user, the host and the program's own file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/host_identity.h"
#include "platform/program_path.h"

namespace {

TEST(HostIdentity, names_are_known_and_home_follows_the_environment) {
  EXPECT_FALSE(platform::hostName().empty());
  EXPECT_FALSE(platform::userName().empty());
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  ::setenv("HOME", "/srv/bench", 1);
  EXPECT_EQ(platform::homeFolder(), "/srv/bench");
  ::unsetenv("HOME");  // then the user database's
  EXPECT_FALSE(platform::homeFolder().empty());
  if (old) ::setenv("HOME", saved.c_str(), 1);
}

TEST(ProgramPath, is_this_test_program) {
  const std::filesystem::path path = platform::programPath();
  EXPECT_TRUE(path.is_absolute()) << path;
  EXPECT_EQ(path.filename(), "test_platform");
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

}  // namespace
