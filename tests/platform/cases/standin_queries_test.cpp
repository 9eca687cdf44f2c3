// The platform stand-ins answer the command lines the module runs the way the
// real tools do: exit statuses, error texts, and XML that the platform's
// schemas accept.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/cases/standin_test.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

// A template "web" with two FILE images and one RBD image, plus a volatile
// disk between them; a BLOCK image in an LVM datastore; a host with a VM.
class StandinQueries : public kevra_test::StandinTest {
 protected:
  void arrange() override {
    files_ = p_.datastore({"--name", "default", "--free-mb", "5120"});
    ceph_ = p_.datastore({"--name", "ceph", "--tm-mad", "ceph"});
    lvm_ = p_.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    os_ = p_.image({"--name", "web-os", "--datastore", files_, "--prefix", "vd", "--content", "boot sector"});
    data_ = p_.image({"--name", "web-data", "--datastore", "default", "--type", "DATABLOCK", "--size-bytes",
                      "3000000", "--persistent"});
    rbd_ = p_.image({"--name", "web-rbd", "--datastore", ceph_, "--size-bytes", "70000"});
    block_ = p_.image({"--name", "db-block", "--datastore", lvm_, "--type", "DATABLOCK", "--size-bytes", "4096"});
    web_ = p_.vm_template({"--name", "web", "--attr", "CPU=1", "--attr", "MEMORY=512", "--disk", "IMAGE_ID=" + os_,
                           "--disk", "IMAGE=web-data,IMAGE_UNAME=oneadmin", "--disk", "TYPE=fs,SIZE=1024",
                           "--disk", "IMAGE_ID=" + rbd_, "--vector", "NIC", "NETWORK=public"});
    p_.fixture({"host", "--name", "node1"});
    p_.fixture({"vm", "--name", "web-vm", "--host", "node1", "--disk", "IMAGE_ID=" + block_});
  }

  std::string files_, ceph_, lvm_, os_, data_, rbd_, block_, web_;
};

struct QueryCase {
  std::string command;  // as the module builds it, "{OS}" etc. replaced below
  int status;
  std::string root;    // XML root element expected on standard output, or ""
  std::string output;  // text that standard output or error must contain
};

std::string fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [key, value] : values) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

std::string root_of(const std::string& xml) {
  const auto start = xml.find('<');
  if (start == std::string::npos) {
    return "";
  }
  const auto end = xml.find_first_of(" >/", start);
  return xml.substr(start + 1, end - start - 1);
}

TEST_F(StandinQueries, ModuleCommandLinesGetThePlatformsAnswers) {
  KEVRA_REQUIRE_SANDBOX();
  // What real installations also hold: a transfer driver outside the module's
  // table, one image name under two owners, a template owned by a third user.
  const std::string local = p_.datastore({"--name", "local", "--tm-mad", "local"});
  const std::string alices = p_.image({"--name", "db", "--datastore", local, "--owner", "alice"});
  p_.image({"--name", "db", "--datastore", local, "--owner", "bob"});
  p_.vm_template({"--name", "shared", "--owner", "carol", "--disk", "IMAGE=db,IMAGE_UNAME=bob", "--disk",
                  "IMAGE_ID=" + alices});
  const std::vector<QueryCase> cases = {
      {"/usr/bin/onedatastore show " + local + " -x", 0, "DATASTORE", "<TM_MAD><![CDATA[local]]></TM_MAD>"},
      {"/usr/bin/oneimage show '" + alices + "' -x", 0, "IMAGE", "<UNAME>alice</UNAME>"},
      {"/usr/bin/oneimage show 'db' -x", 255, "", "There are multiple IMAGEs with name db."},
      {"/usr/bin/oneimage list -x", 0, "IMAGE_POOL", "<UNAME>bob</UNAME>"},
      {"/usr/bin/onetemplate show 'shared' -x", 0, "VMTEMPLATE", "<UNAME>carol</UNAME>"},
      {"/usr/bin/onetemplate show '{WEB}' -x", 0, "VMTEMPLATE", "<NAME>web</NAME>"},
      {"/usr/bin/onetemplate show 'web' -x", 0, "VMTEMPLATE", "<IMAGE><![CDATA[web-data]]></IMAGE>"},
      {"/usr/bin/onetemplate show {WEB} -x ", 0, "VMTEMPLATE", "<UNAME>oneadmin</UNAME>"},
      {"/usr/bin/onetemplate show 'web'", 0, "", "TEMPLATE CONTENTS"},
      {"/usr/bin/onetemplate show 'nope'", 255, "", "VMTEMPLATE named nope not found."},
      {"/usr/bin/onetemplate show 99 -x ", 255, "", "[one.template.info] Error getting virtual machine template [99]."},
      {"/usr/bin/onetemplate list -x", 0, "VMTEMPLATE_POOL", "<NAME>web</NAME>"},
      {"/usr/bin/onetemplate list | awk 'NR==1 {print $1\"|\"$4}'", 0, "", "ID|NAME\n"},
      {"/usr/bin/oneimage show '{OS}' -x", 0, "IMAGE", "<SOURCE><![CDATA["},
      {"/usr/bin/oneimage show {OS} -x", 0, "IMAGE", "<NAME>web-os</NAME>"},
      {"/usr/bin/oneimage show 'web-data' -x", 0, "IMAGE", "<PERSISTENT>1</PERSISTENT>"},
      {"/usr/bin/oneimage show '{RBD}' -x", 0, "IMAGE", "<SOURCE><![CDATA[one/one-{RBD}]]></SOURCE>"},
      {"/usr/bin/oneimage show '{BLOCK}' -x", 0, "IMAGE", "<DISK_TYPE>2</DISK_TYPE>"},
      {"/usr/bin/oneimage show '{OS}'", 0, "", "IMAGE {OS} INFORMATION"},
      {"/usr/bin/oneimage show '99'", 255, "", "[one.image.info] Error getting image [99]."},
      {"/usr/bin/oneimage show 'ghost' -x", 255, "", "IMAGE named ghost not found."},
      {"/usr/bin/oneimage list -x", 0, "IMAGE_POOL", "<NAME>web-rbd</NAME>"},
      {"/usr/bin/onedatastore show '{FILES}'", 0, "", "DATASTORE {FILES} INFORMATION"},
      {"/usr/bin/onedatastore show {FILES} -x", 0, "DATASTORE", "<FREE_MB>5120</FREE_MB>"},
      {"/usr/bin/onedatastore show '{FILES}' -x", 0, "DATASTORE", "<SAFE_DIRS><![CDATA[/var/tmp]]></SAFE_DIRS>"},
      {"/usr/bin/onedatastore show {CEPH} -x", 0, "DATASTORE", "<TM_MAD><![CDATA[ceph]]></TM_MAD>"},
      {"/usr/bin/onedatastore show '42'", 255, "", "[one.datastore.info] Error getting datastore [42]."},
      {"/usr/bin/onedatastore list -x", 0, "DATASTORE_POOL", "<TYPE>0</TYPE>"},
      {"rbd info one/one-{RBD} --id libvirt --format xml", 0, "image", "<name>one-{RBD}</name>"},
      {"rbd info one/one-77 --id libvirt --format xml", 2, "", "rbd: error opening image one-77"},
      {"/usr/bin/onehost list -x", 0, "HOST_POOL", "<NAME>node1</NAME>"},
      {"/usr/bin/onevm show 'web-vm' -x", 0, "VM", "<DEPLOY_ID>one-0</DEPLOY_ID>"},
      {"/usr/bin/onevm show '0'", 0, "", "VIRTUAL MACHINE 0 INFORMATION"},
      {"/usr/bin/onevm list -x", 0, "VM_POOL", "<NAME>web-vm</NAME>"},
      {"/usr/bin/onevm list -x --extended", 0, "VM_POOL", "<PERMISSIONS>"},
  };
  const std::vector<std::pair<std::string, std::string>> ids = {
      {"{WEB}", web_}, {"{OS}", os_}, {"{RBD}", rbd_}, {"{BLOCK}", block_}, {"{FILES}", files_}, {"{CEPH}", ceph_}};
  std::vector<std::pair<std::string, std::string>> documents;  // command, document to validate
  for (const auto& c : cases) {
    const std::string command = fill(c.command, ids);
    SCOPED_TRACE(command);
    const auto result = p_.shell(command);
    EXPECT_EQ(result.exit_status, c.status) << result.err;
    EXPECT_NE((result.out + result.err).find(fill(c.output, ids)), std::string::npos) << result.out << result.err;
    if (c.status != 0) {
      EXPECT_EQ(result.out, "") << "errors go to standard error only";
      EXPECT_EQ(result.err.back(), '\n');
    }
    if (!c.root.empty()) {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(root_of(result.out), c.root);
      EXPECT_EQ(result.out.rfind("<?xml", 0), std::string::npos) << "the CLI prints no XML declaration";
      if (c.root != "image") {
        documents.emplace_back(command, result.out);
      }
    }
  }
  // The platform's documents validate against its schemas.
  KEVRA_REQUIRE_PLATFORM_SCHEMAS(validator);
  for (const auto& [command, document] : documents) {
    std::string report;
    EXPECT_TRUE(p_.validates(validator, document, report)) << command << "\n" << report << document;
  }
}

TEST_F(StandinQueries, LvsVolumeUuidIsTheTenthField) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string source = p_.image_field(block_, "source");
  const std::string volume = source.substr(source.rfind('/') + 1);
  const auto result =
      p_.shell("/usr/sbin/lvs --verbose | /usr/bin/grep " + volume + " |/usr/bin/awk '{print $10}' 2>&1");
  ASSERT_EQ(result.exit_status, 0);
  EXPECT_TRUE(std::regex_match(result.out, std::regex("[0-9a-f]{6}(-[0-9a-f]{4}){5}-[0-9a-f]{6}\n"))) << result.out;
  // The same volume answers with the same UUID every time.
  EXPECT_EQ(p_.shell("/usr/sbin/lvs --verbose | grep " + volume + " | awk '{print $10}'").out, result.out);
}

TEST_F(StandinQueries, RbdExportWritesTheImageDataOnce) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string target = kevra_test::scratch_dir("export") + "/vd-rbd";
  const auto result = p_.shell("/usr/bin/rbd export one/one-" + rbd_ + " " + target + " --id libvirt 2>&1");
  ASSERT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(kevra_test::read_file(target), kevra_test::read_file(p_.image_field(rbd_, "data-path")));
  EXPECT_EQ(kevra_test::read_file(target).size(), 70000u);
  // Ceph refuses to overwrite an existing file.
  EXPECT_NE(p_.shell("rbd export one/one-" + rbd_ + " " + target + " --id libvirt").exit_status, 0);
}

TEST_F(StandinQueries, PlainListsPrintThePlatformsHeaderLines) {
  KEVRA_REQUIRE_SANDBOX();
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"/usr/bin/onetemplate list", "  ID USER     GROUP    NAME                    REGTIME"},
      {"/usr/bin/oneimage list", "  ID USER     GROUP    NAME            DATASTORE     SIZE TYPE PER STAT RVMS"},
      {"/usr/bin/onedatastore list", "  ID NAME         SIZE AVA CLUSTERS IMAGES TYPE DS      TM      STAT"},
      {"/usr/bin/onevm list", "  ID USER     GROUP    NAME            STAT  CPU     MEM HOST             TIME"},
      {"/usr/bin/onehost list", "  ID NAME            CLUSTER    TVM      ALLOCATED_CPU      ALLOCATED_MEM STAT"},
  };
  for (const auto& [command, header] : headers) {
    SCOPED_TRACE(command);
    const auto result = p_.shell(command);
    ASSERT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')), header);
    // Data lines are cut to the column width and carry no trailing blanks.
    std::istringstream lines(result.out.substr(result.out.find('\n') + 1));
    for (std::string line; std::getline(lines, line);) {
      EXPECT_NE(line.back(), ' ') << line;
    }
  }
  EXPECT_NE(p_.shell("/usr/bin/onetemplate list").out.find("\n   " + web_ + " oneadmin oneadmin web "),
            std::string::npos);
}

TEST_F(StandinQueries, UnknownSubcommandPrintsHelpAndSucceedsLikeTheRealCli) {
  KEVRA_REQUIRE_SANDBOX();
  for (const std::string tool : {"onetemplate", "oneimage", "onedatastore", "onevm", "onehost"}) {
    const auto result = p_.shell("/usr/bin/" + tool + " frobnicate");
    EXPECT_EQ(result.exit_status, 0) << tool;
    EXPECT_NE(result.out.find("## COMMANDS"), std::string::npos) << tool;
  }
  const auto missing = p_.shell("/usr/bin/onetemplate clone web");
  EXPECT_EQ(missing.exit_status, 255);
  EXPECT_EQ(missing.err, "Command clone requires 2 parameters to run.\n");
}

TEST_F(StandinQueries, EveryCallIsLoggedAsOneShellLine) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"calls", "all", "--clear"});
  p_.shell("/usr/bin/onetemplate show 'web' -x >/dev/null");
  p_.shell("/usr/bin/oneimage show 'a b'\"'\"'c' -x 2>/dev/null");
  p_.shell("rbd info one/one-" + rbd_ + " --id libvirt --format xml >/dev/null");
  p_.shell("/usr/bin/oneimage create -d 0 --name '' --path /x 2>/dev/null");
  EXPECT_EQ(p_.calls("onetemplate"), std::vector<std::string>{"/usr/bin/onetemplate show web -x"});
  EXPECT_EQ(p_.calls("oneimage"), (std::vector<std::string>{"/usr/bin/oneimage show 'a b'\\''c' -x",
                                                            "/usr/bin/oneimage create -d 0 --name '' --path /x"}));
  EXPECT_EQ(p_.calls("all").size(), 4u);
  EXPECT_EQ(p_.calls("all")[2], "/usr/bin/rbd info one/one-" + rbd_ + " --id libvirt --format xml");
}

TEST_F(StandinQueries, FixtureTablesNameStatesAndDiskTypesBesideTheNumbers) {
  KEVRA_REQUIRE_SANDBOX();
  // The lines tests parse keep their form; the table for people has a header.
  EXPECT_EQ(p_.fixture({"list", "images"}).substr(0, 11), "0\tweb-os\t1\n");
  const std::string images = p_.fixture({"list", "images", "--table"});
  EXPECT_EQ(images.substr(0, images.find('\n')), "ID  NAME      STATE    TYPE         DISK TYPE  DATASTORE  SIZE MB");
  EXPECT_NE(images.find("3   db-block  2 USED   2 DATABLOCK  2 BLOCK    " + lvm_), std::string::npos) << images;
  EXPECT_NE(images.find("2   web-rbd   1 READY  0 OS         3 RBD"), std::string::npos) << images;
  const std::string datastores = p_.fixture({"list", "datastores", "--table"});
  EXPECT_NE(datastores.find("ceph     0 IMAGE_DS  ceph     3 RBD      0 READY"), std::string::npos) << datastores;
  EXPECT_NE(p_.fixture({"list", "vms", "--table"}).find("web-vm  3 ACTIVE  node1"), std::string::npos);
}

}  // namespace
