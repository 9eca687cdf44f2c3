// The sandbox gives each test a private view of the platform's paths: what a
// test writes there is gone afterwards and never reaches the host.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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
  for (const std::string dir : {"/opt/kelvomar", "/etc", "/usr/bin", "/usr/sbin", "/var/tmp", "/tmp"}) {
    const std::string probe = dir + "/" + kProbeName;
    std::ofstream(probe) << "inside\n";
    EXPECT_TRUE(exists(probe)) << dir << " is not writable in the sandbox";
  }
  // The host, seen from a fresh process outside this namespace (PID 1's mount
  // namespace), has none of the probe files.
  for (const std::string dir : {"/opt/kelvomar", "/etc", "/usr/bin", "/usr/sbin", "/var/tmp", "/tmp"}) {
    const std::string host_view = "/proc/1/root" + dir + "/" + kProbeName;
    EXPECT_FALSE(exists(host_view)) << host_view << " reached the host";
  }
}

TEST(Sandbox, OptKelvomarStartsEmpty) {
  KEVRA_REQUIRE_SANDBOX();
  // Only what the stand-ins install may be there; no probe of an earlier test.
  EXPECT_FALSE(exists(std::string("/opt/kelvomar/") + kProbeName));
  EXPECT_FALSE(exists(std::string("/etc/") + kProbeName));
  EXPECT_FALSE(exists(std::string("/var/tmp/") + kProbeName));
  EXPECT_FALSE(exists(std::string("/tmp/") + kProbeName));
}

TEST(Sandbox, RestOfTheHostIsReadOnly) {
  KEVRA_REQUIRE_SANDBOX();
  // Outside the private places nothing can be written, so a command line that
  // escapes its quotes cannot reach the machine.
  // (/tmp stays writable, privately: tools write there whatever TMPDIR says.)
  std::vector<std::string> dirs = {"/usr/lib", "/var/lib", "/root"};
  // The checkout is part of the read-only host too, unless it lies below /tmp.
  const std::string source = kevra_test::source_path("tests");
  if (source.rfind("/tmp/", 0) != 0) {
    dirs.push_back(source);
  }
  for (const std::string& dir : dirs) {
    const std::string probe = dir + "/" + kProbeName;
    std::ofstream out(probe);
    EXPECT_FALSE(out.is_open()) << probe << " was writable";
    EXPECT_FALSE(exists(probe));
    if (out.is_open()) {
      out.close();
      ::unlink(probe.c_str());
    }
  }
  // Installed files are files of the overlay, not links into the host.
  for (const std::string file : {"/etc/os-release", "/etc/kevra_version"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0) << file;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << file << " is not a regular file";
  }
}

TEST(Sandbox, StandinsAreInstalledAtThePlatformsPaths) {
  KEVRA_REQUIRE_SANDBOX();
  for (const std::string tool : {"/usr/bin/onetemplate", "/usr/bin/oneimage", "/usr/bin/onedatastore",
                                 "/usr/bin/onevm", "/usr/bin/onehost", "/usr/bin/rbd", "/usr/sbin/lvs",
                                 "/opt/kelvomar/bin/hxfd"}) {
    EXPECT_EQ(::access(tool.c_str(), X_OK), 0) << tool;
    // Not the host's: the host has no such stand-in behind the same path.
    EXPECT_NE(kevra_test::run_program({tool, "frobnicate"}).exit_status, 127) << tool;
  }
  const auto release = kevra_test::run_program({"/bin/grep", "^PRETTY_NAME=", "/etc/os-release"});
  EXPECT_EQ(release.out, "PRETTY_NAME=\"Nimra Linux\"\n");
  const auto version = kevra_test::run_program({"/bin/cat", "/etc/kevra_version"});
  EXPECT_EQ(version.out, "3.3.1\n");
  const auto oneadmin = kevra_test::run_program({"/usr/bin/id", "-gn", "oneadmin"});
  EXPECT_EQ(oneadmin.out, "oneadmin\n");
  EXPECT_EQ(::access("/opt/kelvomar/var/tasks", W_OK), 0);
}

TEST(Sandbox, StandinsRefuseToRunOutsideTheSandbox) {
  KEVRA_REQUIRE_SANDBOX();
  // What a stand-in sees outside: no sandbox mark in the environment and no
  // state pointer in /etc (hidden here for a moment; /etc is private).
  const std::string pointer = "/etc/kevra-standins/state-dir";
  ASSERT_EQ(std::rename(pointer.c_str(), (pointer + ".hidden").c_str()), 0);
  const std::vector<std::string> outside = {"/usr/bin/env", "-u", "KEVRA_SANDBOX", "-u", "KEVRA_PLATFORM_STATE"};
  for (const std::string tool : {"onetemplate", "oneimage", "hxfd", "fixture"}) {
    auto argv = outside;
    argv.push_back(kevra_test::source_path("tests/platform/standins/" + tool + ".py"));
    argv.push_back("list");
    const auto result = kevra_test::run_program(argv);
    EXPECT_EQ(result.exit_status, 255) << tool;
    EXPECT_EQ(result.err, "the platform stand-ins run only inside tests/platform/sandbox\n") << tool;
    EXPECT_EQ(result.out, "") << tool;
  }
  auto argv = outside;
  argv.push_back(kevra_test::source_path("tests/platform/install-standins"));
  const auto install = kevra_test::run_program(argv);
  EXPECT_EQ(install.exit_status, 1);
  EXPECT_EQ(install.err, "install-standins: runs only inside tests/platform/sandbox\n");
  ASSERT_EQ(std::rename((pointer + ".hidden").c_str(), pointer.c_str()), 0);
}

TEST(Sandbox, ShippedProgramRunsUnchanged) {
  KEVRA_REQUIRE_SANDBOX();
  const auto result = kevra_test::run_program({kevra_test::build_path("kevra_template"), "-V"});
  EXPECT_NE(result.exit_status, 127) << "the program could not be started in the sandbox";
}

}  // namespace
