// Faults injected through the fixture reach exactly the calls they name, and
// each kind of fault gives what a failing platform or engine would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/platform/cases/standin_test.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

class StandinFaults : public kevra_test::StandinTest {
 protected:
  void arrange() override {
    p_.fixture({"config", "--lock-queries", "0"});
    p_.datastore({"--name", "default"});
    p_.image({"--name", "web-os", "--datastore", "default", "--content", "os"});
    p_.image({"--name", "web-data", "--datastore", "default", "--content", "data"});
    p_.vm_template({"--name", "web", "--disk", "IMAGE_ID=0", "--disk", "IMAGE_ID=1"});
  }

  std::string state_of(const std::string& image) {
    const auto xml = p_.shell("/usr/bin/oneimage show '" + image + "' -x").out;
    const auto at = xml.find("<STATE>");
    return at == std::string::npos ? "" : xml.substr(at + 7, xml.find('<', at + 7) - at - 7);
  }
};

struct ToolFault {
  std::string name;
  std::vector<std::string> fault;  // fixture fault arguments
  std::vector<std::string> calls;  // command lines run in order
  std::vector<int> statuses;       // their exit statuses
  std::string expect;              // what the first call prints (standard output and error)
};

TEST_F(StandinFaults, PlatformToolFaultsHitTheCallsTheyName) {
  KEVRA_REQUIRE_SANDBOX();
  const std::vector<ToolFault> cases = {
      {"exit once",
       {"oneimage", "show", "--exit", "5", "--stderr", "boom\n", "--times", "1"},
       {"/usr/bin/oneimage show '0' -x", "/usr/bin/oneimage show '0' -x"},
       {5, 0},
       "boom\n"},
      {"by argument after the first",
       {"oneimage", "show", "--with-arg", "1", "--skip-first", "1", "--exit", "255"},
       {"/usr/bin/oneimage show 1 -x", "/usr/bin/oneimage show 0 -x", "/usr/bin/oneimage show 1 -x"},
       {0, 0, 255},
       "<NAME>web-data</NAME>"},
      {"other subcommands untouched",
       {"onetemplate", "clone", "--exit", "255", "--stderr", "no\n"},
       {"/usr/bin/onetemplate show web", "/usr/bin/onetemplate clone web x --recursive"},
       {0, 255},
       "TEMPLATE 0 INFORMATION"},
      {"every subcommand",
       {"onedatastore", "--exit", "255"},
       {"/usr/bin/onedatastore show 0 -x", "/usr/bin/onedatastore list -x"},
       {255, 255},
       ""},
      {"clone without a template",
       {"onetemplate", "clone", "--no-effect", "--stdout", "ID: 7\n"},
       {"/usr/bin/onetemplate clone web 'bk1' --recursive", "/usr/bin/onetemplate show 'bk1'"},
       {0, 255},
       "ID: 7\n"},
      {"rbd", {"rbd", "export", "--exit", "1"}, {"rbd export one/one-0 /var/tmp/x --id libvirt"}, {1}, ""},
      {"lvs", {"lvs", "--exit", "5", "--stderr", "  Volume group not found\n"}, {"/usr/sbin/lvs --verbose"}, {5},
       "Volume group not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::vector<std::string> fault{"fault"};
    fault.insert(fault.end(), c.fault.begin(), c.fault.end());
    p_.fixture(fault);
    for (std::size_t i = 0; i < c.calls.size(); ++i) {
      const auto result = p_.shell(c.calls[i]);
      EXPECT_EQ(result.exit_status, c.statuses[i]) << c.calls[i] << "\n" << result.out << result.err;
      if (i == 0) {
        EXPECT_NE((result.out + result.err).find(c.expect), std::string::npos) << result.out << result.err;
      }
    }
  }
}

TEST_F(StandinFaults, MalformedXmlDoesNotParse) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"fault", "onetemplate", "show", "--malformed"});
  const auto result = p_.shell("/usr/bin/onetemplate show 'web' -x");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out.rfind("<VMTEMPLATE>", 0), 0u);
  EXPECT_NE(p_.shell("/usr/bin/onetemplate show 'web' -x | xmllint --noout - 2>/dev/null").exit_status, 0);
  KEVRA_REQUIRE_PLATFORM_SCHEMAS(validator);
  std::string report;
  EXPECT_FALSE(p_.validates(validator, result.out, report));
}

// An answer too long for a command line comes from a file, read at the call.
TEST_F(StandinFaults, AnswerFromAFile) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string file = kevra_test::scratch_dir("answers") + "/pool.xml";
  kevra_test::write_file(file, "<VMTEMPLATE_POOL>first</VMTEMPLATE_POOL>");
  p_.fixture({"fault", "onetemplate", "list", "--with-arg=-x", "--times", "1", "--exit", "0", "--stdout-file", file});
  kevra_test::write_file(file, "<VMTEMPLATE_POOL>" + std::string(300000, 'n') + "</VMTEMPLATE_POOL>");
  const auto answered = p_.shell("/usr/bin/onetemplate list -x");
  EXPECT_EQ(answered.exit_status, 0);
  EXPECT_TRUE(answered.out == "<VMTEMPLATE_POOL>" + std::string(300000, 'n') + "</VMTEMPLATE_POOL>\n")
      << answered.out.substr(0, 100);
  // Once only: then the platform's own answer.
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate list -x").out.find('n' + std::string(100, 'n')), std::string::npos);
}

TEST_F(StandinFaults, WarningComesBeforeTheDocument) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"fault", "oneimage", "show", "--warning", "[WARNING] the server answered slowly"});
  const auto separate = p_.shell("/usr/bin/oneimage show '0' -x");
  EXPECT_EQ(separate.err, "[WARNING] the server answered slowly\n");
  // As the module captures it, both streams together.
  const auto merged = p_.shell("/usr/bin/oneimage show '0' -x 2>&1");
  EXPECT_EQ(merged.out.rfind("[WARNING] the server answered slowly\n<IMAGE>", 0), 0u) << merged.out;
  // Standard output alone is the platform's document.
  KEVRA_REQUIRE_PLATFORM_SCHEMAS(validator);
  std::string report;
  EXPECT_TRUE(p_.validates(validator, separate.out, report)) << report;
}

TEST_F(StandinFaults, ImageFatesReachImagesMadeLater) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"config", "--lock-queries", "1"});
  p_.fixture({"fault", "image-fate", "--name-glob", "stuck-*", "--stuck-locked"});
  p_.fixture({"fault", "image-fate", "--name-glob", "broken-disk-1", "--then-state", "5"});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web stuck --recursive").exit_status, 0);
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web broken --recursive").exit_status, 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(state_of("stuck-disk-0"), "4");
  }
  EXPECT_EQ(state_of("broken-disk-0"), "4");
  EXPECT_EQ(state_of("broken-disk-0"), "1");
  EXPECT_EQ(state_of("broken-disk-1"), "4");
  EXPECT_EQ(state_of("broken-disk-1"), "5");
  EXPECT_EQ(state_of("broken-disk-1"), "5");
  // set-image changes an existing image the same way.
  p_.fixture({"set-image", "web-os", "--locked-queries", "2", "--then-state", "3"});
  EXPECT_EQ(state_of("web-os"), "4");
  EXPECT_EQ(state_of("web-os"), "4");
  EXPECT_EQ(state_of("web-os"), "3");
}

// A recursive clone told to hang between its two steps: meanwhile the new
// template stands with its first disk switched to its copy and the second
// still naming the source's image; then the call ends as a whole clone does.
TEST_F(StandinFaults, RecursiveCloneHangsBetweenItsTwoSteps) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"fault", "onetemplate", "clone", "--hang-between", "3", "--cloned-disks", "1"});
  const auto result = p_.shell(
      "/usr/bin/onetemplate clone web bk1 --recursive > \"$TMPDIR/clone.out\" 2>&1 & sleep 1.5; "
      "/usr/bin/onetemplate show bk1 -x; /usr/bin/oneimage show bk1-disk-1 >/dev/null 2>&1; echo \"copy $?\"; "
      "wait $!; echo \"status $?\"; cat \"$TMPDIR/clone.out\"; /usr/bin/onetemplate show bk1 -x");
  const std::string& out = result.out;
  const auto later = out.find("status ");
  ASSERT_NE(later, std::string::npos) << out << result.err;
  const std::string between = out.substr(0, later);
  EXPECT_NE(between.find("<IMAGE_ID><![CDATA[2]]></IMAGE_ID>"), std::string::npos) << "the first disk's copy\n"
                                                                                  << between;
  EXPECT_NE(between.find("<IMAGE_ID><![CDATA[1]]></IMAGE_ID>"), std::string::npos)
      << "the second disk still names the source's image\n"
      << between;
  EXPECT_NE(between.find("copy 255\n"), std::string::npos) << "the second copy made before the hang\n" << between;
  const std::string after = out.substr(later);
  EXPECT_EQ(after.rfind("status 0\nID: 1\n", 0), 0u) << after;
  EXPECT_NE(after.find("<IMAGE_ID><![CDATA[3]]></IMAGE_ID>"), std::string::npos) << after;
  EXPECT_EQ(after.find("<IMAGE_ID><![CDATA[1]]></IMAGE_ID>"), std::string::npos) << after;
}

// A deleted image is DELETE for the configured number of shows, then gone; a
// recursive delete deletes every image the template's disks name.
TEST_F(StandinFaults, DeletedImagesAreDeleteForAWhile) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"config", "--delete-queries", "1"});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate delete web --recursive").exit_status, 0);
  EXPECT_EQ(p_.fixture({"list", "images"}), "0\tweb-os\t7\n1\tweb-data\t7");
  EXPECT_EQ(state_of("0"), "7");
  EXPECT_NE(p_.shell("/usr/bin/oneimage show 0").exit_status, 0) << "gone after its one DELETE answer";
  EXPECT_EQ(p_.fixture({"list", "images"}), "1\tweb-data\t7");
}

struct EngineFault {
  std::vector<std::string> fault;
  int status;               // exit status (128 + signal when killed)
  std::string first_line;   // "" for the engine's own PID line
  bool stored;              // the archive reached the store
};

TEST_F(StandinFaults, EngineFaults) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"task-secret", "T1"});
  const std::string op = kevra_test::scratch_dir("op");
  kevra_test::write_file(op + "/list", "HXFD file list:\n   /etc/os-release : os-release\n");
  const std::string backup = "cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c " + op +
                             "/list -M m1 -N a1 -T T1 -s /opt/kelvomar/var/tasks//task_secret_T1 -m " + op +
                             "/a1.meta 2>&1";
  const std::vector<EngineFault> cases = {
      {{"--exit", "1"}, 1, "", false},
      {{"--exit", "2", "--stderr", "hxfd: media server unreachable"}, 2, "", false},
      {{"--exit", "100"}, 100, "", true},
      {{"--signal", "KILL"}, 128 + 9, "", false},
      {{"--signal", "SEGV"}, 128 + 11, "", false},
      {{"--bad-pid", "abc"}, 0, "HXFD PID: abc", true},
      {{"restore", "--exit", "1"}, 0, "", true},  // a fault for restores leaves backups alone
      {{"--line-end", "cr"}, 0, "", true},
      {{"--trailing", "Packed: never ended"}, 0, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault.front() + " " + c.fault.back());
    p_.fixture({"reset"});
    p_.fixture({"task-secret", "T1"});
    std::vector<std::string> fault{"fault", "hxfd"};
    if (c.fault.front() != "restore") {
      fault.push_back("backup");
    }
    fault.insert(fault.end(), c.fault.begin(), c.fault.end());
    p_.fixture(fault);
    const auto result = p_.shell(backup);
    EXPECT_EQ(result.exit_status, c.status) << result.out;
    const std::string first = result.out.substr(0, result.out.find('\n'));
    if (c.first_line.empty()) {
      EXPECT_EQ(first.rfind("HXFD PID: ", 0), 0u);
      EXPECT_NE(first, "HXFD PID: abc");
    } else {
      EXPECT_EQ(first, c.first_line);
    }
    EXPECT_EQ(p_.fixture({"archives"}), c.stored ? "a1" : "");
    if (c.fault.front() == "--line-end") {
      EXPECT_EQ(result.out.find('\n'), std::string::npos);
      EXPECT_NE(result.out.find("\rPacked: 1/1 files"), std::string::npos) << result.out;
    }
    if (c.fault.front() == "--trailing") {
      EXPECT_EQ(result.out.substr(result.out.rfind('\n') + 1), "Packed: never ended");
    }
  }
}

}  // namespace

namespace {

// Another local user acting at a named call: the command runs as that user,
// before the call's work (or after it with --after), and its status and output
// are logged; the call itself goes on as usual.
TEST_F(StandinFaults, AnotherUserActsAtTheNamedCall) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string root_only = kevra_test::scratch_dir("root-only");
  ASSERT_EQ(p_.shell("chmod 700 '" + root_only + "'").exit_status, 0);
  p_.fixture({"fault", "onetemplate", "clone", "--as-user", "intruder", "--run",
              "id -u; id -G; touch " + root_only + "/x"});
  p_.fixture({"fault", "oneimage", "show", "--as-user", "root", "--run",
              "test -e /usr/bin/onetemplate && echo after", "--after"});
  p_.fixture({"task-secret", "T1"});
  const std::string op = kevra_test::scratch_dir("engine-op");
  kevra_test::write_file(op + "/list", "HXFD file list:\n   /etc/os-release : os-release\n");
  p_.fixture({"fault", "hxfd", "backup", "--as-user", "intruder", "--run", "ls " + op + "/a1.meta"});

  EXPECT_EQ(p_.shell("/usr/bin/onetemplate clone web copy --recursive").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show 0 -x").exit_status, 0);
  const auto engine = p_.shell("cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c " + op +
                               "/list -M m1 -N a1 -T T1 -s /opt/kelvomar/var/tasks//task_secret_T1 -m " + op +
                               "/a1.meta 2>&1");
  EXPECT_EQ(engine.exit_status, 0) << engine.out;
  EXPECT_EQ(p_.fixture({"archives"}), "a1");
  EXPECT_EQ(p_.fixture({"list", "templates"}), "0\tweb\t\n1\tcopy\t");

  const std::string log = kevra_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) +
                                                "/calls/as-user.log");
  EXPECT_EQ(log,
            "onetemplate clone before exit 1\n4242\n4242\ntouch: cannot touch '" + root_only +
                "/x': Permission denied\n"
                "oneimage show after exit 0\nafter\n"
                "hxfd backup before exit 2\nls: cannot access '" + op + "/a1.meta': No such file or directory\n");
}

}  // namespace
