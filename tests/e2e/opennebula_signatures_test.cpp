// The command paths of the unique signature: block-device MD5, logical-volume
// UUID and Ceph image id, against the stand-ins.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "opennebula/image_queries.h"
#include "opennebula/image_search.h"
#include "opennebula/image_signature.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

class SignatureCommands : public opennebula_test::PlatformRun {
protected:
    // The UUID (10th blank-separated field) of the lvs line of logical volume `name`.
    std::string uuid_of(const std::string& name) const
    {
        std::istringstream listing(platform.shell("/usr/sbin/lvs --verbose").out);
        for (std::string line; std::getline(listing, line);) {
            std::istringstream fields(line);
            std::vector<std::string> field;
            for (std::string word; fields >> word;)
                field.push_back(word);
            if (field.size() >= 10 && field[0] == name)
                return field[9];
        }
        return std::string();
    }
};

TEST_F(SignatureCommands, VolumeUuidMatchesTheNameExactly)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    const std::string one = platform.image({"--name", "one", "--id", "1", "--datastore", "lvm", "--content", "1"});
    platform.image({"--name", "ten", "--id", "10", "--datastore", "lvm", "--content", "10"});
    const std::string source = platform.image_field(one, "source");
    ASSERT_NE(source.find("/lv-one-1"), std::string::npos) << source;

    std::string uuid;
    ASSERT_EQ(hx::get_image_uuid(source, uuid), 0) << all_records();
    // lv-one-10 also holds the text lv-one-1; only the volume of that very name counts.
    EXPECT_EQ(uuid, uuid_of("lv-one-1")) << platform.shell("/usr/sbin/lvs --verbose").out;
    EXPECT_NE(uuid, uuid_of("lv-one-10"));

    EXPECT_EQ(hx::get_image_uuid("lv-one-1", uuid), 1);
    EXPECT_TRUE(logged(": got wrong source: lv-one-1")) << all_records();
    EXPECT_EQ(hx::get_image_uuid("/dev/vg-one-0/lv-one-7", uuid), 1);
    EXPECT_TRUE(logged(": got empty uuid for: /dev/vg-one-0/lv-one-7")) << all_records();

    platform.fixture({"fault", "lvs", "*", "--times", "1", "--no-effect", "--stdout",
                      "  lv-one-1 vg-a 1 -wi-a----- 1.00m -1 -1 253 0 uuid-a\n"
                      "  lv-one-1 vg-b 1 -wi-a----- 1.00m -1 -1 253 1 uuid-b"});
    EXPECT_EQ(hx::get_image_uuid(source, uuid), 1) << "two volumes of that name are no signature";
    EXPECT_TRUE(logged(": more than one logical volume is named \"lv-one-1\"")) << all_records();
}

TEST_F(SignatureCommands, BlockImageSignatureBranches)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
    platform.datastore({"--name", "fslvm", "--tm-mad", "fs_lvm", "--disk-type", "2"});
    const std::string lvm = platform.image({"--name", "a", "--datastore", "lvm", "--type", "DATABLOCK", "--content", "a"});
    const std::string fs = platform.image({"--name", "b", "--datastore", "fslvm", "--type", "OS", "--content", "b"});
    const std::string kernel = platform.image({"--name", "k", "--datastore", "lvm", "--type", "KERNEL", "--content", "k"});
    const struct {
        std::string id;
        bool md5;
        bool uuid;  // else the MD5 of the data
    } cases[] = {{lvm, false, true}, {lvm, true, false}, {fs, false, false}};
    for (const auto& c : cases) {
        hx::oneimage image;
        ASSERT_EQ(hx::get_image_attributes(c.id, image, c.md5), 0) << c.id << all_records();
        const std::string data = platform.image_field(c.id, "data-path");
        if (c.uuid)
            EXPECT_EQ(image.unique_signature, uuid_of("lv-one-" + c.id)) << c.id;
        else
            EXPECT_EQ(image.unique_signature, md5_of(data)) << c.id << " md5 " << c.md5;
    }
    hx::oneimage image;
    EXPECT_EQ(hx::get_image_attributes(kernel, image, false), 1);
    EXPECT_TRUE(logged(": can't determine unique signature for the image source: ")) << all_records();

    // A stored UUID is checked against the volume with md5, against the device's MD5 without.
    hx::oneimage stored;
    ASSERT_EQ(hx::get_image_attributes(lvm, stored, false), 0);
    EXPECT_TRUE(hx::does_image_exist(stored, true)) << all_records();
    EXPECT_FALSE(hx::does_image_exist(stored, false));
}

TEST_F(SignatureCommands, DeviceMd5)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string dir = kevra_test::scratch_dir("md5");
    const std::string plain = dir + "/disk.raw";
    const std::string odd = dir + "/it's a \\disk";
    kevra_test::write_file(plain, "abc");
    kevra_test::write_file(odd, "abc");
    std::string digest;
    for (const std::string& path : {plain, odd}) {
        ASSERT_EQ(hx::calc_md5sum_for_block_device(path, digest), 0) << path << all_records();
        EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72") << path;
    }
    EXPECT_EQ(hx::calc_md5sum_for_block_device(dir + "/missing", digest), 1);
    EXPECT_TRUE(logged(": got empty md5sum for: " + dir + "/missing")) << all_records();
}

TEST_F(SignatureCommands, CephImageId)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "cephds", "--tm-mad", "ceph"});
    const std::string id = platform.image({"--name", "os", "--datastore", "cephds", "--content", "x"});
    std::string with_pool;
    std::string bare;
    ASSERT_EQ(hx::get_ceph_image_id("one/one-" + id, with_pool), 0) << all_records();
    ASSERT_EQ(hx::get_ceph_image_id("one-" + id, bare), 0) << all_records();
    EXPECT_FALSE(with_pool.empty());
    EXPECT_EQ(with_pool, bare);
    EXPECT_TRUE(called("rbd", "/usr/bin/rbd info one/one-" + id + " --id libvirt --format xml")) << call_log("rbd");

    const std::string prototype = "int hx_opennebula_common::get_ceph_image_id(const std::string&, std::string&)";
    const struct {
        std::vector<std::string> fault;
        std::string record;
    } cases[] = {
        {{"--exit", "2", "--stderr", "rbd: error opening image"},
         prototype + ": the following command produced an error: rbd info one/one-" + id +
             " --id libvirt --format xml"},
        {{"--malformed"}, ": XML document not parsed successfully "},
        {{"--no-effect", "--stdout", "<images/>"}, prototype + ": document of the wrong type, root node != image: "},
        {{"--no-effect", "--stdout", "<image><name>one-" + id + "</name></image>"},
         prototype + ": unable to get id of CEPH image \"one-" + id + "\" in 'rbd info' command output: <image>"},
    };
    for (const auto& c : cases) {
        clear_records();
        std::vector<std::string> args = {"fault", "rbd", "info", "--times", "1"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        platform.fixture(args);
        std::string result;
        EXPECT_EQ(hx::get_ceph_image_id("one/one-" + id, result), 1) << c.record;
        EXPECT_TRUE(logged(c.record)) << c.record << "\n" << all_records();
    }
}

}  // namespace
