// Template queries, the template file and the template's image lists, against the stand-ins.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "opennebula/image_queries.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

class TemplateQueries : public opennebula_test::PlatformRun {
protected:
    // A template with a disk by ID, a volatile disk and a disk by name.
    void declare_web()
    {
        platform.datastore({"--name", "images"});
        by_id_ = platform.image({"--name", "web-disk", "--datastore", "images", "--content", "a"});
        by_name_ = platform.image({"--name", "db-disk", "--datastore", "images", "--content", "b"});
        platform.vm_template({"--name", "web", "--owner", "oneadmin", "--disk", "IMAGE_ID=" + by_id_, "--disk",
                              "TYPE=fs,SIZE=1024", "--disk", "IMAGE=db-disk,IMAGE_UNAME=oneadmin", "--attr",
                              "CPU=1"});
    }

    bool exists(const std::string& path) const
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    std::string by_id_;
    std::string by_name_;
};

TEST_F(TemplateQueries, ImageIdsKeepTheDisksPositions)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    std::vector<std::string> ids;
    ASSERT_EQ(hx::get_simple_template_image_list("web", ids), 0) << all_records();
    // The disk named only by its image is listed in its own place, after the disk by ID.
    EXPECT_EQ(ids, (std::vector<std::string>{by_id_, by_name_}));
    EXPECT_TRUE(called("onetemplate", "/usr/bin/onetemplate show web -x")) << call_log("onetemplate");

    std::vector<hx::oneimage> images;
    ASSERT_EQ(hx::get_template_image_list("web", images), 0) << all_records();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].name, "web-disk");
    EXPECT_EQ(images[1].name, "db-disk");
    EXPECT_EQ(images[1].unique_signature, "92eb5ffee6ae2fec3ad71c777531578f");  // MD5 of "b"
}

TEST_F(TemplateQueries, ImageListFailures)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    const std::string a = platform.image({"--name", "a", "--datastore", "images", "--content", "a"});
    const std::string b = platform.image({"--name", "b", "--datastore", "images", "--content", "b"});
    const std::string c = platform.image({"--name", "c", "--datastore", "images", "--content", "c"});
    platform.vm_template({"--name", "three", "--disk", "IMAGE_ID=" + a, "--disk", "IMAGE_ID=" + b, "--disk",
                          "IMAGE_ID=" + c});
    platform.vm_template({"--name", "named", "--disk", "IMAGE=a", "--disk", "IMAGE=gone"});
    platform.vm_template({"--name", "empty", "--attr", "CPU=1"});

    // The second image cannot be read: one record stays.
    platform.fixture({"fault", "oneimage", "show", "--with-arg", b, "--exit", "255", "--stderr", "gone"});
    std::vector<hx::oneimage> images;
    EXPECT_EQ(hx::get_template_image_list("three", images), 1);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].id, a);

    std::vector<std::string> ids;
    EXPECT_EQ(hx::get_simple_template_image_list("named", ids), 1);
    EXPECT_EQ(ids, std::vector<std::string>{a});
    EXPECT_TRUE(logged(": can't get ID of the image 'gone'")) << all_records();

    ids.clear();
    EXPECT_EQ(hx::get_simple_template_image_list("empty", ids), 0);
    EXPECT_TRUE(ids.empty());
    images.clear();
    EXPECT_EQ(hx::get_template_image_list("empty", images), 0);
    EXPECT_TRUE(images.empty());

    EXPECT_EQ(hx::get_template_image_list("missing", images), 1);
    EXPECT_TRUE(logged(": can't get simple template image list of: missing")) << all_records();
}

// Image names are unique per owner only: a disk that names its image with its
// owner finds that owner's image, a template file names each image's own owner,
// and an image without data still belongs to the template's images.
TEST_F(TemplateQueries, ImagesOfOtherOwnersAreFoundByNameAndOwner)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    platform.datastore({"--name", "cdroms", "--disk-type", "1"});
    const std::string alices = platform.image({"--name", "db", "--datastore", "images", "--owner", "alice",
                                               "--content", "alice's"});
    const std::string bobs = platform.image({"--name", "db", "--datastore", "images", "--owner", "bob",
                                             "--content", "bob's"});
    const std::string cd = platform.image({"--name", "tools", "--datastore", "cdroms", "--type", "CDROM",
                                           "--owner", "alice"});
    const std::string bob_uid = platform.fixture({"get", "image", bobs, "uid"});
    platform.vm_template({"--name", "shared", "--owner", "carol", "--disk", "IMAGE=db,IMAGE_UNAME=alice", "--disk",
                          "IMAGE=db,IMAGE_UID=" + bob_uid, "--disk", "IMAGE_ID=" + cd});

    std::vector<std::string> ids;
    ASSERT_EQ(hx::get_simple_template_image_list("shared", ids), 0) << all_records();
    EXPECT_EQ(ids, (std::vector<std::string>{alices, bobs, cd}));

    std::vector<hx::oneimage> images;
    ASSERT_EQ(hx::get_template_image_list("shared", images), 0) << all_records();
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[1].unique_signature, md5_of(platform.fixture({"get", "image", bobs, "data-path"})));
    EXPECT_EQ(images[2].disk_type, hx::DISK_TYPE_CDROM);
    EXPECT_TRUE(images[2].unique_signature.empty());
    EXPECT_TRUE(logged("The image " + cd + " (disk type CDROM) has no data; it is described without a unique "
                       "signature"))
        << all_records();

    // The file names each image with its own owner, not the template's (carol).
    platform.vm_template({"--name", "by-ids", "--owner", "carol", "--disk", "IMAGE_ID=" + alices, "--disk",
                          "IMAGE_ID=" + bobs});
    const std::string file = scratch_dir() + "/by-ids.xml";
    ASSERT_EQ(hx::create_template_xml("by-ids", file, ""), 0) << all_records();
    EXPECT_TRUE(logged("Add IMAGE_UNAME : alice to XML template file")) << all_records();
    EXPECT_TRUE(logged("Add IMAGE_UNAME : bob to XML template file")) << all_records();
    ids.clear();
    ASSERT_EQ(hx::get_template_file_image_ids(file, ids), 0) << all_records();
    EXPECT_EQ(ids, (std::vector<std::string>{alices, bobs}));

    // A name without its owner is ambiguous; a name its owner does not have is not found.
    platform.vm_template({"--name", "no-owner", "--disk", "IMAGE=db"});
    platform.vm_template({"--name", "wrong-owner", "--disk", "IMAGE=db,IMAGE_UNAME=carol"});
    for (const char* tpl : {"no-owner", "wrong-owner"}) {
        clear_records();
        ids.clear();
        EXPECT_EQ(hx::get_simple_template_image_list(tpl, ids), 1) << tpl;
        EXPECT_TRUE(logged(": can't get ID of the image 'db'")) << all_records();
    }
    EXPECT_TRUE(logged("int hx_opennebula_common::get_owned_image_id(const std::string&, const char*, const "
                       "std::string&, std::string&): no image named 'db' belongs to the owner with UNAME carol"))
        << all_records();
}

// The records of an image the list cannot read are those of the image description.
TEST_F(TemplateQueries, ImageListRecordsNameTheImageDescription)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    platform.fixture({"fault", "oneimage", "show", "--with-arg", by_name_, "--exit", "255", "--stderr", "gone"});
    std::vector<hx::oneimage> images;
    EXPECT_EQ(hx::get_template_image_list("web", images), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_image_attributes(const std::string&, oneimage&, bool): "
                       "command /usr/bin/oneimage show '" + by_name_ + "' -x"))
        << all_records();
    hx::oneimage alone;
    clear_records();
    EXPECT_EQ(hx::get_image_attributes(by_name_, alone, false), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_image_attributes(const std::string&, oneimage&, bool): "
                       "command /usr/bin/oneimage show '" + by_name_ + "' -x"))
        << all_records();
}

TEST_F(TemplateQueries, TemplateFileFromThePlatform)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    const std::string file = scratch_dir() + "/template.xml";
    ASSERT_EQ(hx::create_template_xml("web", file, ""), 0) << all_records();
    hx::xml_document doc = hx::parse_xml_file(file);
    ASSERT_TRUE(doc);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    ASSERT_TRUE(hx::is_element(root, "TEMPLATE"));
    EXPECT_EQ(hx::first_child_element(root, "ID"), nullptr);
    EXPECT_EQ(hx::element_text(root->last), "web") << "NAME is the last child";
    std::vector<std::string> disks;
    hx::for_each_child_element(root, "DISK", [&disks](xmlNode* disk) {
        disks.push_back(hx::joined_child_texts(disk, "IMAGE") + "/" + hx::joined_child_texts(disk, "IMAGE_UNAME") +
                        "/" + hx::joined_child_texts(disk, "IMAGE_ID"));
    });
    EXPECT_EQ(disks, (std::vector<std::string>{"web-disk/oneadmin/", "//", "db-disk/oneadmin/"}));

    ASSERT_EQ(hx::create_template_xml("web", file, "web-restored"), 0) << all_records();
    std::string name;
    EXPECT_EQ(hx::get_template_name_from_file(file, name), 0);
    EXPECT_EQ(name, "web-restored");
    // The platform reads the file back as a template.
    const kevra_test::ProgramResult created = platform.shell("/usr/bin/onetemplate create " + file);
    EXPECT_EQ(created.exit_status, 0) << created.out << created.err;
    EXPECT_TRUE(hx::does_template_name_exist("web-restored"));
}

TEST_F(TemplateQueries, TemplateFileFailuresWriteNothing)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    const std::string prototype =
        "int hx_opennebula_common::create_template_xml(const std::string&, const std::string&, const std::string&)";
    const struct {
        std::vector<std::string> fault;
        std::string record;
    } cases[] = {
        {{"onetemplate", "show", "--exit", "255", "--stderr", "no"}, prototype + ": command: /usr/bin/onetemplate show 'web' -x"},
        {{"onetemplate", "show", "--malformed"}, prototype + ": document not parsed successfully"},
        {{"onetemplate", "show", "--no-effect", "--stdout", "<VMTEMPLATE_POOL/>"},
         prototype + ": document of the wrong type, root node != VMTEMPLATE: "},
        {{"onetemplate", "show", "--no-effect", "--stdout", "<VMTEMPLATE><ID>0</ID><NAME>web</NAME></VMTEMPLATE>"},
         prototype + ": no TEMPLATE element in the description of template: web"},
        {{"oneimage", "show", "--exit", "255", "--stderr", "gone"},
         "int hx_opennebula_common::get_image_name_and_owner(const std::string&, std::string&, std::string&): "
         "command"},
    };
    const std::string file = scratch_dir() + "/template.xml";
    for (const auto& c : cases) {
        clear_records();
        std::vector<std::string> args = {"fault"};
        args.insert(args.end(), c.fault.begin(), c.fault.begin() + 2);
        args.insert(args.end(), {"--times", "1"});
        args.insert(args.end(), c.fault.begin() + 2, c.fault.end());
        platform.fixture(args);
        EXPECT_EQ(hx::create_template_xml("web", file, ""), 1) << c.record;
        EXPECT_TRUE(logged(c.record)) << c.record << "\n" << all_records();
        EXPECT_FALSE(exists(file)) << c.record;
    }
}

TEST_F(TemplateQueries, NamesExistenceAndDeletion)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    const std::string odd = platform.vm_template({"--name", "it`s (web) *", "--disk", "IMAGE_ID=" + by_name_});
    std::string name;
    EXPECT_EQ(hx::get_template_name(odd, name), 0) << all_records();
    EXPECT_EQ(name, "it`s (web) *");
    EXPECT_TRUE(hx::does_template_name_exist("it`s (web) *"));
    EXPECT_TRUE(hx::does_template_name_exist("web"));
    EXPECT_FALSE(hx::does_template_name_exist("web "));
    EXPECT_EQ(hx::get_template_name("99", name), 1);
    EXPECT_TRUE(logged(": command was: /usr/bin/onetemplate show 99 -x ")) << all_records();

    EXPECT_EQ(hx::delete_template(odd, "it`s (web) *"), 0) << all_records();
    EXPECT_TRUE(logged("Delete template clone: it`s (web) *"));
    EXPECT_TRUE(called("onetemplate", "/usr/bin/onetemplate delete " + odd + " --recursive"))
        << call_log("onetemplate");
    EXPECT_FALSE(hx::does_template_name_exist("it`s (web) *"));

    EXPECT_EQ(hx::delete_template(odd, "it`s (web) *"), 1);
    EXPECT_TRUE(logged(": unable to delete template clone: it`s (web) *")) << all_records();
    EXPECT_TRUE(logged(": command: /usr/bin/onetemplate delete '" + odd + "' --recursive")) << all_records();
}

// Only an ID reaches a delete: a name would be read as a list of IDs, ranges
// and names. Look-ups by name find exactly the templates of that name.
TEST_F(TemplateQueries, TemplatesAreChangedByIdAndFoundByTheirExactName)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_web();
    const std::string victim = platform.vm_template({"--name", "victim"});
    const std::string digits = platform.vm_template({"--name", "42"});
    const std::string forty_two = platform.vm_template({"--name", "other", "--id", "42"});
    const std::string mine = platform.vm_template({"--name", "dup", "--owner", "oneadmin"});
    const std::string theirs = platform.vm_template({"--name", "dup", "--owner", "alice"});

    for (const std::string& not_an_id : {std::string("web,victim"), std::string("3..5"), std::string("web")}) {
        EXPECT_EQ(hx::delete_template(not_an_id, not_an_id), 1) << not_an_id;
        EXPECT_TRUE(logged(": not a template ID: " + not_an_id)) << all_records();
    }
    EXPECT_TRUE(call_log("onetemplate").find(" delete ") == std::string::npos) << call_log("onetemplate");

    std::vector<std::string> ids;
    EXPECT_EQ(hx::get_template_ids_by_name("42", ids), 0);
    EXPECT_EQ(ids, std::vector<std::string>{digits});
    ids.clear();
    EXPECT_EQ(hx::get_template_ids_by_name("dup", ids), 0);
    EXPECT_EQ(ids, (std::vector<std::string>{mine, theirs}));
    ids.clear();
    EXPECT_EQ(hx::get_template_ids_by_name("web,victim", ids), 0);
    EXPECT_TRUE(ids.empty());

    std::string id;
    EXPECT_EQ(hx::get_template_id("victim", id), 0);
    EXPECT_EQ(id, victim);
    EXPECT_EQ(hx::get_template_id("42", id), 0);
    EXPECT_EQ(id, forty_two) << "a text of digits is an ID to the platform";
    EXPECT_EQ(hx::get_template_id("dup", id), 1);
    EXPECT_TRUE(logged("There are multiple VMTEMPLATEs with name dup.")) << all_records();
}

}  // namespace
