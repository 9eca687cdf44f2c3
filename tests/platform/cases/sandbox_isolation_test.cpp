// The sandbox gives each test a private view of the platform's paths: what a
// test writes there is gone afterwards and never reaches the host.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

const char* const kProbeName = "kevra-sandbox-probe";

TEST(Sandbox, WritesToPlatformPathsStayInside) {
  KEVRA_REQUIRE_SANDBOX();
  for (const std::string dir : {"/opt/kelvomar", "/etc", "/usr/bin", "/usr/sbin"}) {
    const std::string probe = dir + "/" + kProbeName;
    std::ofstream(probe) << "inside\n";
    EXPECT_TRUE(exists(probe)) << dir << " is not writable in the sandbox";
  }
  // The host, seen from a fresh process outside this namespace (PID 1's mount
  // namespace), has none of the probe files.
  for (const std::string dir : {"/opt/kelvomar", "/etc", "/usr/bin", "/usr/sbin"}) {
    const std::string host_view = "/proc/1/root" + dir + "/" + kProbeName;
    EXPECT_FALSE(exists(host_view)) << host_view << " reached the host";
  }
}

TEST(Sandbox, OptKelvomarStartsEmpty) {
  KEVRA_REQUIRE_SANDBOX();
  // Only what the stand-ins install may be there; no probe of an earlier test.
  EXPECT_FALSE(exists(std::string("/opt/kelvomar/") + kProbeName));
  EXPECT_FALSE(exists(std::string("/etc/") + kProbeName));
}

TEST(Sandbox, ShippedProgramRunsUnchanged) {
  KEVRA_REQUIRE_SANDBOX();
  const auto result = kevra_test::run_program({kevra_test::build_path("kevra_template"), "-V"});
  EXPECT_NE(result.exit_status, 127) << "the program could not be started in the sandbox";
}

}  // namespace
