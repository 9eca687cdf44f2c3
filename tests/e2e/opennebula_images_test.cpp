// Image queries against the platform stand-ins: records, lists, existence,
// signature search, deletion, and every failure form of the show and list documents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_search.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

class ImageQueries : public opennebula_test::PlatformRun {};

TEST_F(ImageQueries, FileImageRecordWithItsSignature)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images", "--tm-mad", "shared"});
    const std::string id = platform.image({"--name", "web-disk", "--datastore", "images", "--type", "DATABLOCK",
                                           "--content", "hello", "--prefix", "vd", "--persistent"});
    hx::oneimage image;
    ASSERT_EQ(hx::get_image_attributes(id, image, false), 0) << all_records();
    EXPECT_EQ(image.id, id);
    EXPECT_EQ(image.name, "web-disk");
    EXPECT_EQ(image.type, hx::IMAGE_TYPE_DATABLOCK);
    EXPECT_EQ(image.disk_type, hx::DISK_TYPE_FILE);
    EXPECT_EQ(image.persistent, "1");
    EXPECT_EQ(image.dev_prefix, "vd");
    EXPECT_EQ(image.datastore_id, platform.image_field(id, "datastore"));
    EXPECT_EQ(image.size, std::stoull(platform.image_field(id, "size-mb")) << 20);
    EXPECT_EQ(image.source, platform.image_field(id, "source"));
    EXPECT_EQ(image.unique_signature, "5d41402abc4b2a76b9719d911017c592");  // MD5 of "hello"
    EXPECT_TRUE(called("oneimage", "/usr/bin/oneimage show " + id + " -x")) << call_log("oneimage");
    EXPECT_TRUE(called("onedatastore", "/usr/bin/onedatastore show " + image.datastore_id + " -x"));
}

TEST_F(ImageQueries, BlockAndCephImages)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    platform.datastore({"--name", "cephds", "--tm-mad", "ceph"});
    const std::string block = platform.image({"--name", "db", "--datastore", "lvm", "--type", "DATABLOCK",
                                              "--content", "blockdata"});
    const std::string ceph = platform.image({"--name", "os", "--datastore", "cephds", "--content", "cephdata"});

    hx::oneimage by_uuid;
    ASSERT_EQ(hx::get_image_attributes(block, by_uuid, false), 0) << all_records();
    EXPECT_EQ(by_uuid.disk_type, hx::DISK_TYPE_BLOCK);
    const std::string lvs = platform.shell("/usr/sbin/lvs --verbose").out;
    EXPECT_FALSE(by_uuid.unique_signature.empty());
    EXPECT_NE(lvs.find(" " + by_uuid.unique_signature), std::string::npos) << lvs;

    hx::oneimage by_md5;
    ASSERT_EQ(hx::get_image_attributes(block, by_md5, true), 0) << all_records();
    EXPECT_EQ(by_md5.unique_signature, md5_of(platform.image_field(block, "data-path")));

    hx::oneimage rbd;
    ASSERT_EQ(hx::get_image_attributes(ceph, rbd, false), 0) << all_records();
    EXPECT_EQ(rbd.disk_type, hx::DISK_TYPE_RBD);
    EXPECT_EQ(rbd.source, "one/one-" + ceph);
    EXPECT_FALSE(rbd.unique_signature.empty());
    EXPECT_TRUE(called("rbd", "/usr/bin/rbd info one/one-" + ceph + " --id libvirt --format xml")) << call_log("rbd");
}

TEST_F(ImageQueries, DiskTypeFromTheDatastoreWhenTheImageHasNone)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string lvm = platform.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    const std::string system = platform.datastore({"--name", "sys", "--type", "system", "--tm-mad", "lvm_lvm"});
    const std::string id = platform.image({"--name", "db", "--datastore", "lvm", "--type", "DATABLOCK", "--content", "d"});

    // With DISK_TYPE only the driver is asked for; without it the datastore's type too.
    hx::oneimage image;
    ASSERT_EQ(hx::get_image_attributes(id, image, true), 0) << all_records();
    EXPECT_EQ(platform.calls("onedatastore").size(), 1u) << call_log("onedatastore");

    std::string shown = platform.shell("/usr/bin/oneimage show " + id + " -x").out;
    const std::string::size_type at = shown.find("  <DISK_TYPE>");
    ASSERT_NE(at, std::string::npos) << shown;
    shown.erase(at, shown.find('\n', at) + 1 - at);
    const struct {
        std::string datastore;
        bool ok;
        std::string record;
    } cases[] = {
        {lvm, true, ""},
        {system, false, ": unsupported datastore type: \"1\""},
        {"99", false, ": wrong datastore TM_MAD"},
    };
    for (const auto& c : cases) {
        clear_records();
        std::string doc = shown;
        const std::string from = "<DATASTORE_ID>" + lvm + "</DATASTORE_ID>";
        doc.replace(doc.find(from), from.size(), "<DATASTORE_ID>" + c.datastore + "</DATASTORE_ID>");
        platform.fixture({"fault", "oneimage", "show", "--times", "1", "--no-effect", "--stdout", doc});
        hx::oneimage derived;
        EXPECT_EQ(hx::get_image_attributes(id, derived, true), c.ok ? 0 : 1) << c.datastore << all_records();
        if (c.ok) {
            EXPECT_EQ(derived.disk_type, hx::DISK_TYPE_BLOCK);
            EXPECT_EQ(derived.unique_signature, md5_of(platform.image_field(id, "data-path")));
        } else {
            EXPECT_TRUE(logged(c.record)) << c.record << "\n" << all_records();
        }
    }
}

// The platform has transfer drivers outside the layer's table (local, for one):
// the image's own DISK_TYPE still tells what its data is; without it the image fails.
TEST_F(ImageQueries, DriverOutsideTheTableLeavesTheDiskTypeToTheImage)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string local = platform.datastore({"--name", "local", "--tm-mad", "local"});
    const std::string id = platform.image({"--name", "os", "--datastore", "local", "--content", "local os"});
    hx::oneimage image;
    ASSERT_EQ(hx::get_image_attributes(id, image, false), 0) << all_records();
    EXPECT_EQ(image.disk_type, hx::DISK_TYPE_FILE);
    EXPECT_EQ(image.unique_signature, md5_of(platform.image_field(id, "data-path")));
    EXPECT_TRUE(logged("int hx_opennebula_common::get_image_attributes(const std::string&, oneimage&, bool): the "
                       "datastore with ID " + local + " has the transfer driver \"local\", which is not among the "
                       "known drivers; the image's own disk type 0 (FILE) is used"))
        << all_records();
    EXPECT_FALSE(logged(": wrong datastore TM_MAD")) << all_records();

    std::string shown = platform.shell("/usr/bin/oneimage show " + id + " -x").out;
    const std::string::size_type at = shown.find("  <DISK_TYPE>");
    ASSERT_NE(at, std::string::npos) << shown;
    shown.erase(at, shown.find('\n', at) + 1 - at);
    platform.fixture({"fault", "oneimage", "show", "--times", "1", "--no-effect", "--stdout", shown});
    clear_records();
    hx::oneimage untold;
    EXPECT_EQ(hx::get_image_attributes(id, untold, false), 1);
    EXPECT_TRUE(logged(": wrong datastore TM_MAD")) << all_records();
}

TEST_F(ImageQueries, DiskTypeWithoutASignatureFails)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "cdroms", "--disk-type", "1"});
    const std::string id = platform.image({"--name", "iso", "--datastore", "cdroms", "--type", "CDROM",
                                           "--content", "iso"});
    hx::oneimage image;
    EXPECT_EQ(hx::get_image_attributes(id, image, false), 1);
    EXPECT_TRUE(logged(": unsupported disk type: CDROM")) << all_records();
    EXPECT_TRUE(logged(": can't calculate image unique signature")) << all_records();
}

TEST_F(ImageQueries, ShowFailureForms)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    const std::string id = platform.image({"--name", "web", "--datastore", "images", "--content", "x"});
    const std::string prototype = "int hx_opennebula_common::get_image_name(const std::string&, std::string&)";
    const struct {
        std::vector<std::string> fault;
        std::string record;
    } cases[] = {
        {{"--exit", "255", "--stderr", "[one.image.info] Error getting image [" + id + "]."},
         prototype + ": command /usr/bin/oneimage show " + id + " -x"},
        {{"--malformed"}, prototype + ": document not parsed successfully"},
        {{"--warning", "warning: deprecated option"}, prototype + ": document not parsed successfully"},
        {{"--no-effect", "--stdout", "<IMAGE_POOL/>"}, prototype + ": document of the wrong type, root node != IMAGE"},
    };
    for (const auto& c : cases) {
        clear_records();
        std::vector<std::string> args = {"fault", "oneimage", "show", "--times", "1"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        platform.fixture(args);
        std::string name = "unchanged";
        EXPECT_EQ(hx::get_image_name(id, name), 1) << c.record;
        EXPECT_TRUE(logged(c.record)) << c.record << "\n" << all_records();
    }
    std::string name;
    EXPECT_EQ(hx::get_image_name(id, name), 0) << "the faults were for one call each";
    EXPECT_EQ(name, "web");
}

TEST_F(ImageQueries, NameIdStateAndSource)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    const std::string id = platform.image({"--name", "it`s web", "--datastore", "images", "--content", "x",
                                           "--state", "3"});
    std::string text;
    EXPECT_EQ(hx::get_image_id("it`s web", text), 0) << all_records();
    EXPECT_EQ(text, id);
    // The name reached the tool as one argument.
    EXPECT_TRUE(called("oneimage", "/usr/bin/oneimage show 'it`s web' -x")) << call_log("oneimage");
    EXPECT_EQ(hx::get_image_name(id, text), 0);
    EXPECT_EQ(text, "it`s web");
    int state = -1;
    EXPECT_EQ(hx::get_image_state(id, state), 0);
    EXPECT_EQ(state, 3);
    EXPECT_EQ(hx::get_image_source("it`s web", text), 0);
    EXPECT_EQ(text, platform.image_field(id, "source"));

    EXPECT_EQ(hx::get_image_id("missing", text), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_image_id(const std::string&, std::string&): command "
                       "/usr/bin/oneimage show 'missing' -x"))
        << all_records();
}

TEST_F(ImageQueries, EmptyOrMalformedState)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    const std::string id = platform.image({"--name", "web", "--datastore", "images", "--content", "x"});
    int state = 0;
    platform.fixture({"fault", "oneimage", "show", "--times", "1", "--no-effect", "--stdout",
                      "<IMAGE><ID>" + id + "</ID><STATE></STATE></IMAGE>"});
    EXPECT_EQ(hx::get_image_state(id, state), 1);
    EXPECT_TRUE(logged(": Got empty STATE for image " + id)) << all_records();
    platform.fixture({"fault", "oneimage", "show", "--times", "1", "--no-effect", "--stdout",
                      "<IMAGE><STATE>ready</STATE></IMAGE>"});
    EXPECT_THROW(hx::get_image_state(id, state), std::invalid_argument);
}

TEST_F(ImageQueries, PoolListsAndNames)
{
    KEVRA_REQUIRE_SANDBOX();
    std::vector<std::string> names;
    EXPECT_EQ(hx::get_available_image_names(names), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(logged(": got empty list of image names")) << all_records();

    platform.datastore({"--name", "images"});
    const std::string a = platform.image({"--name", "web", "--datastore", "images", "--content", "x"});
    const std::string b = platform.image({"--name", "web_1", "--datastore", "images", "--content", "y"});
    std::vector<std::string> ids = {"kept"};
    EXPECT_EQ(hx::get_image_list(ids), 0);
    EXPECT_EQ(ids, (std::vector<std::string>{"kept", a, b}));
    names.clear();
    EXPECT_EQ(hx::get_available_image_names(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"web", "web_1"}));
    EXPECT_TRUE(hx::does_image_name_exist("web_1"));
    EXPECT_FALSE(hx::does_image_name_exist("web_"));
    EXPECT_FALSE(hx::does_image_name_exist("WEB"));
    EXPECT_TRUE(hx::does_image_exist_by_id(a));
    EXPECT_FALSE(hx::does_image_exist_by_id("99"));

    platform.fixture({"fault", "oneimage", "list", "--times", "1", "--malformed"});
    EXPECT_EQ(hx::get_image_list(ids), 1);
    EXPECT_TRUE(logged(": Document not parsed successfully")) << all_records();
    platform.fixture({"fault", "oneimage", "list", "--times", "1", "--exit", "255", "--stderr", "no server"});
    EXPECT_EQ(hx::get_available_image_names(names), 1);
    EXPECT_TRUE(logged(": command /usr/bin/oneimage list -x produced an error")) << all_records();
    EXPECT_TRUE(logged("Command output: no server")) << all_records();
}

TEST_F(ImageQueries, ExistenceBySignatureAndSearch)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    platform.datastore({"--name", "cephds", "--tm-mad", "ceph"});
    const std::string first = platform.image({"--name", "a", "--datastore", "images", "--content", "first"});
    const std::string second = platform.image({"--name", "b", "--datastore", "images", "--content", "second"});
    const std::string ceph = platform.image({"--name", "c", "--datastore", "cephds", "--content", "third"});

    hx::oneimage record;
    ASSERT_EQ(hx::get_image_attributes(second, record, false), 0) << all_records();
    EXPECT_TRUE(hx::does_image_exist(record, false)) << all_records();

    hx::oneimage found;
    EXPECT_EQ(hx::find_image_by_unique_signature(record.unique_signature, found), 0) << all_records();
    EXPECT_EQ(found.id, second);
    EXPECT_EQ(found.name, "b");
    EXPECT_EQ(hx::find_image_by_unique_signature("00000000000000000000000000000000", found), 1);

    // The data changed: the stored signature no longer fits.
    kevra_test::write_file(platform.image_field(second, "data-path"), "changed");
    clear_records();
    EXPECT_FALSE(hx::does_image_exist(record, false));
    EXPECT_TRUE(logged(": unique signature is wrong, Image ID: " + second)) << all_records();

    // A Ceph record without a stored signature only has to exist.
    hx::oneimage rbd;
    rbd.id = ceph;
    rbd.datastore_id = platform.image_field(ceph, "datastore");
    EXPECT_TRUE(hx::does_image_exist(rbd, false)) << all_records();
    (void)first;
}

TEST_F(ImageQueries, DeleteReportsAFailure)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    const std::string id = platform.image({"--name", "web", "--datastore", "images", "--content", "x"});
    EXPECT_EQ(hx::delete_image(id), 0);
    EXPECT_TRUE(records().empty()) << all_records();
    EXPECT_FALSE(hx::does_image_exist_by_id(id));

    EXPECT_EQ(hx::delete_image(id), 1) << "a failed deletion is not a success";
    EXPECT_TRUE(logged("void hx_opennebula_common::delete_image(const std::string&): unable to delete image: " + id));
    EXPECT_TRUE(logged("Command was: /usr/bin/oneimage delete '" + id + "'")) << all_records();
    EXPECT_TRUE(logged("Command output: ")) << all_records();
}

// A name would be read as a list of images (a comma, a range, digits): only
// an ID is deleted, and a name runs no command.
TEST_F(ImageQueries, DeleteTakesAnIdOnly)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "images"});
    platform.image({"--name", "web", "--datastore", "images", "--content", "x"});
    platform.image({"--name", "db", "--datastore", "images", "--content", "y"});
    EXPECT_EQ(hx::delete_image("web,db"), 1);
    EXPECT_TRUE(logged(": not an image ID: web,db")) << all_records();
    EXPECT_TRUE(platform.calls("oneimage").empty()) << call_log("oneimage");
    EXPECT_EQ(platform.fixture({"list", "images"}), "0\tweb\t1\n1\tdb\t1");
}

}  // namespace
