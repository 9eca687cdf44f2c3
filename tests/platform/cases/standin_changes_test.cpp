// The platform stand-ins change their state the way the real platform does:
// clone and delete with their images, create from a file, image import with
// its option rules and the SAFE_DIRS rule, image states over time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/platform/cases/standin_test.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

using kevra_test::read_file;

class StandinChanges : public kevra_test::StandinTest {
 protected:
  void arrange() override {
    p_.declare_web_template();
  }

  // The image's STATE as `oneimage show -x` prints it (a show counts as a query).
  int shown_state(const std::string& image) {
    const auto xml = p_.shell("/usr/bin/oneimage show '" + image + "' -x").out;
    const auto at = xml.find("<STATE>");
    return at == std::string::npos ? -1 : std::stoi(xml.substr(at + 7));
  }

  std::string show(const std::string& command) { return p_.shell(command).out; }
};

TEST_F(StandinChanges, RecursiveCloneCopiesEveryImageBackedDiskWithItsData) {
  KEVRA_REQUIRE_SANDBOX();
  const auto result = p_.shell("/usr/bin/onetemplate clone web 'bk1' --recursive");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "ID: 1\n");
  // N counts every disk, the volatile one included: no bk1-disk-2.
  const std::vector<std::pair<std::string, std::string>> copies = {
      {"bk1-disk-0", "web-os"}, {"bk1-disk-1", "web-data"}, {"bk1-disk-3", "web-rbd"}};
  for (const auto& [copy, original] : copies) {
    SCOPED_TRACE(copy);
    EXPECT_EQ(read_file(p_.image_field(copy, "data-path")), read_file(p_.image_field(original, "data-path")));
    EXPECT_NE(p_.image_field(copy, "data-path"), p_.image_field(original, "data-path"));
    EXPECT_EQ(p_.image_field(copy, "datastore"), p_.image_field(original, "datastore"));
    EXPECT_EQ(p_.image_field(copy, "persistent"), p_.image_field(original, "persistent"));
    EXPECT_EQ(p_.image_field(copy, "prefix"), p_.image_field(original, "prefix"));
  }
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show 'bk1-disk-2'").exit_status, 255);
  EXPECT_EQ(p_.image_field("bk1-disk-3", "source"), "one/one-" + p_.image_field("bk1-disk-3", "id"));
  // The clone's disks name the copies by IMAGE_ID only.
  const std::string clone = show("/usr/bin/onetemplate show 'bk1' -x");
  for (const auto& [copy, original] : copies) {
    EXPECT_NE(clone.find("<IMAGE_ID><![CDATA[" + p_.image_field(copy, "id") + "]]></IMAGE_ID>"), std::string::npos);
  }
  EXPECT_EQ(clone.find("<IMAGE>"), std::string::npos);
  EXPECT_EQ(clone.find("IMAGE_UNAME"), std::string::npos);
  EXPECT_NE(clone.find("<SIZE><![CDATA[64]]></SIZE>"), std::string::npos);
  // The source template is unchanged.
  EXPECT_NE(show("/usr/bin/onetemplate show web -x").find("<IMAGE><![CDATA[web-data]]></IMAGE>"), std::string::npos);
}

TEST_F(StandinChanges, SparseImagesAndTheirClonesKeepTheirHoles) {
  KEVRA_REQUIRE_SANDBOX();
  const auto allocated = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return static_cast<long long>(st.st_blocks) * 512;
  };
  // A declared hole of 1 GiB, and a file with data at both ends of a hole.
  const std::string hole = p_.image({"--name", "hole", "--datastore", "default", "--size-mb", "1024", "--sparse"});
  const std::string file = kevra_test::scratch_dir("sparse") + "/ends.img";
  {
    std::ofstream out(file, std::ios::binary);
    out << "head";
    out.seekp(12 << 20);
    out << "tail";
  }
  ASSERT_EQ(::truncate(file.c_str(), 16 << 20), 0);
  const std::string ends = p_.image({"--name", "ends", "--datastore", "default", "--content-file", file});
  p_.vm_template({"--name", "holes", "--disk", "IMAGE_ID=" + hole, "--disk", "IMAGE_ID=" + ends});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone holes hc --recursive").exit_status, 0);

  for (const std::string image : {"hole", "hc-disk-0"}) {
    SCOPED_TRACE(image);
    const std::string data = p_.image_field(image, "data-path");
    EXPECT_EQ(p_.image_field(image, "size-mb"), "1024");
    EXPECT_LT(allocated(data), 1 << 20) << "the hole was written out";
  }
  for (const std::string image : {"ends", "hc-disk-1"}) {
    SCOPED_TRACE(image);
    const std::string data = p_.image_field(image, "data-path");
    EXPECT_EQ(read_file(data), read_file(file));
    EXPECT_LT(allocated(data), 8 << 20) << "the hole was written out";
  }
}

TEST_F(StandinChanges, ClonedImagesAreLockedForTheConfiguredNumberOfQueries) {
  KEVRA_REQUIRE_SANDBOX();
  struct Case {
    int lock_queries;
    std::vector<int> states;  // what successive shows print
  };
  const std::vector<Case> cases = {{0, {1, 1}}, {1, {4, 1, 1}}, {3, {4, 4, 4, 1}}};
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lock_queries);
    p_.fixture({"config", "--lock-queries", std::to_string(c.lock_queries)});
    const std::string name = "copy" + std::to_string(round++);
    ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web " + name + " --recursive").exit_status, 0);
    // Listing does not count as a query of one image.
    EXPECT_EQ(p_.shell("/usr/bin/oneimage list -x").exit_status, 0);
    for (const int expected : c.states) {
      EXPECT_EQ(shown_state(name + "-disk-0"), expected);
    }
  }
}

TEST_F(StandinChanges, SourceImagesAreBusyWhileTheirCopiesAreMade) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"config", "--lock-queries", "1"});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web bk1 --recursive").exit_status, 0);
  EXPECT_EQ(p_.image_field("web-data", "state"), "6") << "a persistent source is CLONE";
  EXPECT_EQ(p_.image_field("web-os", "state"), "2") << "a non-persistent source is USED";
  EXPECT_NE(show("/usr/bin/oneimage show web-os -x").find("<CLONING_OPS>1</CLONING_OPS>"), std::string::npos);
  // Busy images survive a recursive delete of their template, which still succeeds.
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate delete web --recursive").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show web-os").exit_status, 0);
  // When the copies are done the sources are READY again.
  for (const std::string copy : {"bk1-disk-0", "bk1-disk-1", "bk1-disk-3"}) {
    EXPECT_EQ(shown_state(copy), 4);
    EXPECT_EQ(shown_state(copy), 1);
  }
  for (const std::string source : {"web-os", "web-data", "web-rbd"}) {
    EXPECT_EQ(p_.image_field(source, "state"), "1") << source;
  }
  EXPECT_NE(show("/usr/bin/oneimage show web-os -x").find("<CLONING_OPS>0</CLONING_OPS>"), std::string::npos);
}

TEST_F(StandinChanges, CloneRefusesTakenNamesAndImagesThatCannotBeCloned) {
  KEVRA_REQUIRE_SANDBOX();
  p_.vm_template({"--name", "taken"});
  auto result = p_.shell("/usr/bin/onetemplate clone web taken --recursive");
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "[one.template.clone] NAME is already taken by TEMPLATE 1.\n");
  // A source image in ERROR fails the clone, and nothing of it stays.
  p_.fixture({"set-image", "web-rbd", "--state", "5"});
  result = p_.shell("/usr/bin/onetemplate clone web bk2 --recursive");
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "[one.template.clone] Failed to clone images: Cannot clone image in current state\n");
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate show bk2").exit_status, 255);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show bk2-disk-0").exit_status, 255);
  // Without --recursive the images are shared, not copied.
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web bk3").exit_status, 0);
  EXPECT_EQ(p_.fixture({"list", "images"}).find("bk3"), std::string::npos);
}

TEST_F(StandinChanges, RecursiveDeleteRemovesTheTemplateAndItsImages) {
  KEVRA_REQUIRE_SANDBOX();
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web bk1 --recursive").exit_status, 0);
  const std::string data = p_.image_field("bk1-disk-0", "data-path");
  ASSERT_EQ(access(data.c_str(), F_OK), 0);
  const auto result = p_.shell("/usr/bin/onetemplate delete 'bk1' --recursive");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate show 'bk1'").exit_status, 255);
  for (const std::string image : {"bk1-disk-0", "bk1-disk-1", "bk1-disk-3"}) {
    EXPECT_EQ(p_.shell("/usr/bin/oneimage show '" + image + "'").exit_status, 255) << image;
  }
  EXPECT_NE(access(data.c_str(), F_OK), 0) << "the image data went with the image";
  // Without --recursive the images stay; an image in use stays even with it.
  p_.fixture({"vm", "--name", "user", "--disk", "IMAGE_ID=1"});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web keep").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate delete keep").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show web-os").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate delete web --recursive").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show web-os").exit_status, 255);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage show web-data").exit_status, 0) << "used by a VM";
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate delete 'gone' --recursive").err, "VMTEMPLATE named gone not found.\n");
}

TEST_F(StandinChanges, CreateFromASavedTemplateFile) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string file = kevra_test::scratch_dir("create") + "/template.xml";
  kevra_test::write_file(file,
                         "<?xml version=\"1.0\"?>\n<TEMPLATE>\n  <CPU><![CDATA[2]]></CPU>\n"
                         "  <DISK>\n    <IMAGE>web-os</IMAGE>\n    <IMAGE_UNAME>oneadmin</IMAGE_UNAME>\n  </DISK>\n"
                         "  <NAME>restored, renamed</NAME>\n</TEMPLATE>\n");
  auto result = p_.shell("/usr/bin/onetemplate create " + file);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "ID: 1\n");
  const std::string xml = show("/usr/bin/onetemplate show 'restored, renamed' -x");
  EXPECT_NE(xml.find("<NAME>restored, renamed</NAME>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<CPU><![CDATA[2]]></CPU>"), std::string::npos);
  EXPECT_NE(xml.find("<IMAGE><![CDATA[web-os]]></IMAGE>"), std::string::npos);
  // The attribute syntax is read too; a taken name is refused.
  kevra_test::write_file(file, "NAME = \"plain\"\nMEMORY = 256\nDISK = [ IMAGE_ID = \"0\" ]\n");
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate create " + file).out, "ID: 2\n");
  EXPECT_NE(show("/usr/bin/onetemplate show plain -x").find("<IMAGE_ID><![CDATA[0]]></IMAGE_ID>"), std::string::npos);
  result = p_.shell("/usr/bin/onetemplate create " + file);
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_NE(result.err.find("NAME is already taken by TEMPLATE 2."), std::string::npos) << result.err;
  kevra_test::write_file(file, "<TEMPLATE><NAME>broken</NAME>");
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate create " + file).exit_status, 255);
}

// oneimage create as the restore runs it: the file is handed over in a safe
// directory owned by oneadmin; the image is LOCKED, then READY or ERROR.
struct CreateCase {
  std::string name;
  std::string version;  // /etc/kevra_version
  std::string file;     // where the restored file lies ("{SAFE}" or "{OUTSIDE}")
  bool chown;           // given to oneadmin
  std::string extra;    // further options
  int status;
  std::string err;      // part of standard error ("" for none)
  int final_state;      // after the lock ends (-1 when nothing was created)
};

TEST_F(StandinChanges, ImageCreateFollowsTheCliRulesAndTheSafeDirsRule) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string outside = kevra_test::scratch_dir("outside");
  const std::vector<CreateCase> cases = {
      {"ok", "3.3.1\n", "{SAFE}", true, "--type OS --disk_type FILE", 0, "", 1},
      {"persistent", "3.3.1\n", "{SAFE}", true, "--type DATABLOCK --disk_type FILE --persistent", 0, "", 1},
      {"outside", "3.3.1\n", "{OUTSIDE}", true, "--type OS", 0, "", 5},
      {"unreadable", "3.3.1\n", "{SAFE}", false, "--type OS", 0, "", 5},
      {"no-driver", "3.3.1\n", "{SAFE}", true, "--driver qcow2 --type OS", 255, "invalid option: --driver", -1},
      {"old-driver", "Kevra 2.7\n", "{SAFE}", true, "--driver qcow2 --type OS", 0, "", 1},
      {"later-driver", "3.4\n", "{SAFE}", true, "--driver qcow2 --type OS", 255, "invalid option: --driver", -1},
      {"unknown-old-driver", "Kevra 2.8\n", "{SAFE}", true, "--driver qcow2 --type OS", 0, "", 1},
      {"prefix", "3.3.1\n", "{SAFE}", true, "--type OS", 0, "", 1},
      {"bad-type", "3.3.1\n", "{SAFE}", true, "--type DISK", 255, "option type: Parsing error", -1},
      {"web-os", "3.3.1\n", "{SAFE}", true, "--type OS", 255,
       "[one.image.allocate] Error allocating a new image. NAME is already taken by IMAGE 0.", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kevra_test::write_file("/etc/kevra_version", c.version);
    const std::string dir = c.file == "{SAFE}" ? "/var/tmp" : outside;
    const std::string path = dir + "/" + c.name + ".img";
    kevra_test::write_file(path, "restored data of " + c.name);
    ::chmod(path.c_str(), 0600);
    if (c.chown) {
      ASSERT_EQ(p_.shell("/bin/chown oneadmin:oneadmin " + path).exit_status, 0);
    }
    const std::string prefix = c.name == "prefix" ? "xvd" : "vd";
    const auto result = p_.shell("/usr/bin/oneimage create -d 0 --name '" + c.name + "' --path '" + path +
                                 "' --prefix " + prefix + " " + c.extra);
    EXPECT_EQ(result.exit_status, c.status) << result.err;
    if (!c.err.empty()) {
      EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
    if (c.final_state < 0) {
      EXPECT_EQ(result.out, "");
      continue;
    }
    EXPECT_EQ(result.out.rfind("ID: ", 0), 0u) << result.out;
    EXPECT_EQ(shown_state(c.name), 4) << "a new image is LOCKED first";
    EXPECT_EQ(shown_state(c.name), c.final_state);
    if (c.final_state == 1) {
      EXPECT_EQ(read_file(p_.image_field(c.name, "data-path")), "restored data of " + c.name);
      EXPECT_EQ(p_.image_field(c.name, "prefix"), prefix);
    } else {
      EXPECT_NE(show("/usr/bin/oneimage show " + c.name + " -x").find("Error copying image in the datastore"),
                std::string::npos);
    }
  }
  EXPECT_EQ(p_.image_field("persistent", "persistent"), "1");
  EXPECT_EQ(p_.image_field("ok", "persistent"), "0");
  EXPECT_EQ(p_.image_field("old-driver", "driver"), "qcow2");
  EXPECT_NE(show("/usr/bin/oneimage show ok -x").find("<DISK_TYPE><![CDATA[FILE]]></DISK_TYPE>"), std::string::npos);
}

TEST_F(StandinChanges, ImageCreateRefusesBadOptionsBeforeAnythingHappens) {
  KEVRA_REQUIRE_SANDBOX();
  kevra_test::write_file("/var/tmp/f.img", "x");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--name a --path /var/tmp/f.img", "Datastore to save the image is mandatory: \n\t-d datastore_id\n"},
      {"-d 0 --name a --path /var/tmp/f.img --prefix xx", "The prefix must be hd, sd, xvd or vd\n"},
      {"-d 0 --name a --path /var/tmp/f.img --prefix --type OS", "missing argument: --prefix\n"},
      {"-d 0 --name a --path /var/tmp/f.img --colour blue", "invalid option: --colour\n"},
      {"-d 9 --name a --path /var/tmp/f.img", "[one.datastore.info] Error getting datastore [9].\n"},
      {"-d 0 --name a", "[one.image.allocate] No PATH nor SOURCE in template.\n"},
  };
  for (const auto& [options, err] : cases) {
    SCOPED_TRACE(options);
    const auto result = p_.shell("/usr/bin/oneimage create " + options);
    EXPECT_EQ(result.exit_status, 255);
    EXPECT_EQ(result.err, err);
  }
  EXPECT_EQ(p_.fixture({"list", "images"}).find("\ta\t"), std::string::npos);
}

TEST_F(StandinChanges, ImageCreateAndCloneUseTheDatastoresFreeSpace) {
  KEVRA_REQUIRE_SANDBOX();
  p_.datastore({"--name", "small", "--free-mb", "2"});
  p_.image({"--name", "two-mb", "--datastore", "small", "--size-mb", "2"});
  p_.vm_template({"--name", "big", "--disk", "IMAGE=two-mb"});
  kevra_test::write_file("/var/tmp/one-byte", "1");
  p_.shell("chown oneadmin /var/tmp/one-byte");
  EXPECT_EQ(p_.shell("/usr/bin/oneimage create -d small --name a --path /var/tmp/one-byte").exit_status, 0);
  EXPECT_EQ(p_.fixture({"get", "datastore", "small", "free-mb"}), "1");
  const auto result = p_.shell("/usr/bin/onetemplate clone big big2 --recursive");
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "[one.template.clone] Failed to clone images: [one.image.allocate] Not enough space in datastore\n");
  EXPECT_EQ(p_.shell("/usr/bin/oneimage delete 'a'").exit_status, 0);
  EXPECT_EQ(p_.fixture({"get", "datastore", "small", "free-mb"}), "2");
  // Monitoring reports more room: the clone goes through.
  p_.fixture({"set-datastore", "small", "--free-mb", "4"});
  EXPECT_NE(p_.shell("/usr/bin/onedatastore show small -x").out.find("<FREE_MB>4</FREE_MB>"), std::string::npos);
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate clone big big2 --recursive").exit_status, 0);
  EXPECT_EQ(p_.fixture({"get", "datastore", "small", "free-mb"}), "2");
}

TEST_F(StandinChanges, ImageDeleteRefusesImagesInUse) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"vm", "--name", "user", "--disk", "IMAGE=web-data"});
  auto result = p_.shell("/usr/bin/oneimage delete '1'");
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "[one.image.delete] Cannot delete image 1. There are VMs using it.\n");
  EXPECT_EQ(p_.shell("/usr/bin/oneimage delete '0'").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage delete '0'").err, "[one.image.delete] Error getting image [0].\n");
}

TEST_F(StandinChanges, VmActionsChangeItsState) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"host", "--name", "node1"});
  p_.fixture({"vm", "--name", "web-vm", "--host", "node1", "--disk", "IMAGE_ID=1"});
  EXPECT_EQ(p_.shell("/usr/bin/onevm poweroff 'web-vm' --hard").exit_status, 0);
  EXPECT_NE(show("/usr/bin/onevm show 'web-vm' -x").find("<STATE>8</STATE>\n  <LCM_STATE>0</LCM_STATE>"),
            std::string::npos);
  const auto again = p_.shell("/usr/bin/onevm poweroff 'web-vm' --hard 2>&1");
  EXPECT_EQ(again.exit_status, 255);
  EXPECT_NE(again.out.find("This action is not available for state POWEROFF"), std::string::npos);
  EXPECT_EQ(p_.shell("/usr/bin/onevm lock 'web-vm' --manage").exit_status, 0);
  EXPECT_NE(show("/usr/bin/onevm show 'web-vm' -x").find("<LOCK>\n    <LOCKED>2</LOCKED>"), std::string::npos);
  EXPECT_EQ(p_.shell("/usr/bin/onevm terminate 'web-vm'").exit_status, 255) << "locked against management";
  EXPECT_EQ(p_.shell("/usr/bin/onevm unlock 'web-vm'").exit_status, 0);
  EXPECT_EQ(show("/usr/bin/onevm show 'web-vm' -x").find("<LOCK>"), std::string::npos);
  EXPECT_EQ(p_.shell("/usr/bin/onevm terminate 'web-vm'").exit_status, 0);
  EXPECT_EQ(p_.image_field("web-data", "state"), "1") << "the image is free again";
}

TEST_F(StandinChanges, NamesAreUniquePerOwnerAndKind) {
  KEVRA_REQUIRE_SANDBOX();
  // Another owner may use a taken name; a lookup by that name is then ambiguous.
  const std::string hers = p_.image({"--name", "web-os", "--datastore", "default", "--owner", "alice"});
  const auto ambiguous = p_.shell("/usr/bin/oneimage show 'web-os' -x");
  EXPECT_EQ(ambiguous.exit_status, 255);
  EXPECT_EQ(ambiguous.err, "There are multiple IMAGEs with name web-os.\n");
  // A template may share its name with an image.
  EXPECT_EQ(p_.shell("/usr/bin/onetemplate clone web 'web-os'").exit_status, 0);
  // alice's template names its image without IMAGE_UNAME: hers, not oneadmin's.
  p_.vm_template({"--name", "hers", "--owner", "alice", "--disk", "IMAGE=web-os"});
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone hers 'copy' --recursive").exit_status, 0);
  EXPECT_EQ(read_file(p_.image_field("copy-disk-0", "data-path")), read_file(p_.image_field(hers, "data-path")));
  EXPECT_NE(read_file(p_.image_field(hers, "data-path")), read_file(p_.image_field("0", "data-path")));
  EXPECT_NE(show("/usr/bin/onetemplate show copy -x").find("<UNAME>oneadmin</UNAME>"), std::string::npos)
      << "the clone belongs to the user who cloned";
}

TEST_F(StandinChanges, LinkedSourceLeadsToTheImageData) {
  KEVRA_REQUIRE_SANDBOX();
  p_.image({"--name", "linked", "--datastore", "default", "--content", "behind a link", "--link-source"});
  const std::string source = p_.image_field("linked", "source");
  const auto target = p_.shell("/bin/readlink -f " + source);
  EXPECT_EQ(target.out, p_.shell("/bin/readlink -f " + p_.image_field("linked", "data-path")).out);
  EXPECT_NE(target.out, source + "\n");
  EXPECT_EQ(read_file(source), "behind a link");
  ASSERT_EQ(p_.shell("/usr/bin/onetemplate clone web bk1 --recursive").exit_status, 0);
  EXPECT_EQ(p_.shell("/usr/bin/oneimage delete linked").exit_status, 0);
  EXPECT_NE(::access(source.c_str(), F_OK), 0);
}

}  // namespace
