// The sandbox in a chroot whose root is no mount point, as a debootstrap root
// entered with chroot is: unshare cannot make such a namespace private, so
// the sandbox binds the root onto itself inside its own namespace when that
// cannot reach the host, and otherwise says why it cannot run and what to do,
// with unshare's own error. Either way the mounts around it stay as they were.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

using kevra_test::ProgramResult;

// Makes the chroot below $1: a tmpfs mounted there ("shared" in $2 makes it a
// shared mount) holding a plain folder root/ with the host's /usr, /etc, /dev,
// /proc and the checkout ($3) bound in, and the top-level links or folders.
const char* const kMakeChroot = R"(set -e
base=$1 shared=$2 checkout=$3
mount -t tmpfs -o mode=0755 kevra-chroot "$base"
[ "$shared" != shared ] || mount --make-shared "$base"
root=$base/root
mkdir -p "$root/tmp" "$root/var/tmp" "$root/opt" "$root/root" "$root$checkout"
chmod 1777 "$root/tmp"
for dir in /usr /etc /dev /proc; do
  mkdir -p "$root$dir"
  mount --rbind "$dir" "$root$dir"
done
mount --bind "$checkout" "$root$checkout"
for top in /bin /sbin /lib /lib32 /lib64 /libx32; do
  if [ -L "$top" ]; then
    cp -P "$top" "$root$top"
  elif [ -d "$top" ]; then
    mkdir -p "$root$top"
    mount --rbind "$top" "$root$top"
  fi
done
)";

std::string mount_table() {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class SandboxInAChroot : public ::testing::Test {
 protected:
  // "shared" or "private": the propagation of the mount that holds the chroot.
  virtual const char* root_mount() const = 0;

  void SetUp() override {
    KEVRA_REQUIRE_SANDBOX();
    const std::string base = kevra_test::scratch_dir("chroot");
    const ProgramResult made = kevra_test::run_program(
        {"/bin/bash", "-c", kMakeChroot, "make-chroot", base, root_mount(), kevra_test::source_path("")});
    ASSERT_EQ(made.exit_status, 0) << made.err;
    root_ = base + "/root";
    // The case to reproduce: in there unshare cannot make a private namespace.
    const ProgramResult plain = in_chroot({"unshare", "-m", "--propagation", "private", "true"});
    if (plain.exit_status == 0) {
      GTEST_SKIP() << "this kernel lets unshare make a private namespace in a chroot: nothing to reproduce";
    }
    unshare_error_ = plain.err.substr(0, plain.err.find('\n'));
    ASSERT_NE(unshare_error_.find("unshare: "), std::string::npos) << plain.err;
    mounts_before_ = mount_table();
  }

  void TearDown() override {
    if (!mounts_before_.empty()) {
      EXPECT_EQ(mount_table(), mounts_before_) << "the sandbox in the chroot changed the mounts around it";
    }
  }

  // Runs `argv` in the chroot with a clean environment, as a user there would.
  ProgramResult in_chroot(const std::vector<std::string>& argv) const {
    std::vector<std::string> line = {"/usr/sbin/chroot", root_, "/usr/bin/env", "-i",
                                     "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root"};
    line.insert(line.end(), argv.begin(), argv.end());
    return kevra_test::run_program(line, kevra_test::ProgramLimits{60});
  }

  std::string sandbox() const { return kevra_test::source_path("tests/platform/sandbox"); }

  std::string root_;
  std::string unshare_error_;
  std::string mounts_before_;
};

class ChrootOnAPrivateMount : public SandboxInAChroot {
  const char* root_mount() const override { return "private"; }
};

class ChrootOnASharedMount : public SandboxInAChroot {
  const char* root_mount() const override { return "shared"; }
};

TEST_F(ChrootOnAPrivateMount, SandboxBindsTheRootOntoItselfAndRuns) {
  const ProgramResult check = in_chroot({sandbox(), "--check"});
  EXPECT_EQ(check.exit_status, 0) << check.err;
  EXPECT_EQ(check.err, "");

  // Inside: the namespace is private from its root down, the platform's
  // paths are there, and what is written there stays there.
  const ProgramResult run = in_chroot(
      {sandbox(), "/bin/sh", "-c",
       "echo \"$KEVRA_SANDBOX\"; findmnt -no PROPAGATION /; touch /opt/kelvomar/probe /tmp/chroot-probe && "
       "test -x /usr/bin/onetemplate && echo ready"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "1\nprivate\nready\n") << run.err;
  EXPECT_EQ(run.err, "");
  const ProgramResult left = in_chroot({"/bin/sh", "-c", "ls -A /tmp /opt"});
  EXPECT_EQ(left.out, "/opt:\n\n/tmp:\n") << left.err;
}

TEST_F(ChrootOnASharedMount, SandboxRefusesWithUnsharesErrorAndTheFix) {
  const ProgramResult check = in_chroot({sandbox(), "--check"});
  EXPECT_EQ(check.exit_status, 1);
  EXPECT_EQ(check.out, "");
  EXPECT_NE(check.err.find("sandbox: not available: unshare -m failed: " + unshare_error_ +
                           ": the root of this chroot is not a mount point"),
            std::string::npos)
      << check.err;
  EXPECT_NE(check.err.find("shared with the host"), std::string::npos) << check.err;
  EXPECT_NE(check.err.find("sandbox: to fix: make the chroot's root a mount point: outside the chroot, "
                           "mount --bind DIR DIR"),
            std::string::npos)
      << check.err;

  // A command still runs, outside, and is told why.
  const ProgramResult run = in_chroot({sandbox(), "/bin/sh", "-c", "echo \"$KEVRA_SANDBOX_UNAVAILABLE\""});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out.rfind("unshare -m failed: " + unshare_error_, 0), 0u) << run.out;
  EXPECT_NE(run.out.find("; to fix: make the chroot's root a mount point"), std::string::npos) << run.out;
}

}  // namespace
