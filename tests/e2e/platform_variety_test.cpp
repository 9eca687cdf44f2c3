// Templates as real installations hold them, backed up and restored by the real
// program in the sandbox: images in a datastore whose transfer driver the
// module does not know, disks that name their image by name and owner, and
// templates whose images belong to another user.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::lines_of;

class PlatformVariety : public kevra_e2e::TemplateRestoreTest {
protected:
    // The image of one owner, in the file datastore, holding `content`.
    std::string owned_image(const std::string& name, const std::string& owner, const std::string& content)
    {
        return platform_.image({"--name", name, "--datastore", files_datastore(), "--owner", owner, "--prefix", "vd",
                                "--type", "DATABLOCK", "--content", content});
    }

    // The DISK elements of a template's XML, each reduced to its IMAGE and IMAGE_UNAME texts.
    std::vector<std::string> disk_images(const std::string& xml) const
    {
        std::vector<std::string> disks;
        for (std::string::size_type at = xml.find("<DISK>"); at != std::string::npos;
             at = xml.find("<DISK>", at + 1)) {
            const std::string disk = xml.substr(at, xml.find("</DISK>", at) - at);
            disks.push_back(text_of(disk, "IMAGE") + "/" + text_of(disk, "IMAGE_UNAME"));
        }
        return disks;
    }

private:
    static std::string text_of(const std::string& xml, const std::string& element)
    {
        const std::string open = "<" + element + "><![CDATA[";
        const std::string::size_type at = xml.find(open);
        if (at == std::string::npos) {
            return std::string();
        }
        const std::string::size_type from = at + open.size();
        return xml.substr(from, xml.find("]]>", from) - from);
    }
};

// A transfer driver outside the module's table (local): the images' own disk
// type carries the backup, and the restore brings the data back byte for byte.
TEST_F(PlatformVariety, ImagesInALocalDatastoreBackUpAndRestoreByteForByte)
{
    const std::string local = platform_.datastore({"--name", "local", "--tm-mad", "local"});
    const std::string os = platform_.image({"--name", "loc-os", "--datastore", local, "--prefix", "vd",
                                            "--content", "local boot sector"});
    const std::string data = platform_.image({"--name", "loc-data", "--datastore", local, "--prefix", "vd",
                                              "--type", "DATABLOCK", "--persistent", "--size-bytes", "1048579"});
    platform_.vm_template({"--name", "loc", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + data});

    back_up("loc");
    EXPECT_TRUE(contains(log(), "has the transfer driver \"local\", which is not among the known drivers")) << log();
    EXPECT_EQ(store_entries("bk1"),
              (std::vector<std::string>{"orig_template.xml", "template.xml", "template_image_list", "vd-disk-0",
                                        "vd-disk-0.xml", "vd-disk-1", "vd-disk-1.xml"}));

    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    EXPECT_EQ(images_named("loc-2"), (std::vector<std::string>{"loc-2-disk-0", "loc-2-disk-1"}));
    EXPECT_EQ(image_data("loc-2-disk-0"), image_data(os));
    EXPECT_EQ(image_data("loc-2-disk-1"), image_data(data));
    EXPECT_EQ(platform_.image_field("loc-2-disk-1", "datastore"), local);
    EXPECT_EQ(platform_.image_field("loc-2-disk-1", "persistent"), "1");
}

// Image names are unique per owner only: disks given by IMAGE with IMAGE_UNAME
// or IMAGE_UID are backed up from that owner's image, whoever else has the name.
TEST_F(PlatformVariety, DisksNamedByImageAndOwnerBackUpBesideSameNamedImages)
{
    const std::string alices = owned_image("db", "alice", "alice's rows");
    const std::string bobs = owned_image("db", "bob", "bob's rows");
    owned_image("db", "oneadmin", "oneadmin's rows");
    const std::string alice_uid = platform_.fixture({"get", "image", alices, "uid"});
    platform_.vm_template({"--name", "app", "--owner", "alice", "--disk", "IMAGE=db,IMAGE_UNAME=bob", "--disk",
                           "IMAGE=db,IMAGE_UID=" + alice_uid});

    back_up("app");
    const auto list = lines_of(store_entry("bk1", "template_image_list"));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].substr(0, list[1].find(':')), bobs) << list[1];
    EXPECT_EQ(list[2].substr(0, list[2].find(':')), alices) << list[2];
    EXPECT_EQ(store_entry("bk1", "vd-disk-0"), "bob's rows");
    EXPECT_EQ(store_entry("bk1", "vd-disk-1"), "alice's rows");
    // The source's disks stay as the template gives them: by name and owner.
    const std::string original = store_entry("bk1", "orig_template.xml");
    EXPECT_EQ(disk_images(original), (std::vector<std::string>{"db/bob", "db/"}));
    EXPECT_TRUE(contains(original, "<IMAGE_UID><![CDATA[" + alice_uid + "]]></IMAGE_UID>")) << original;

    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    EXPECT_EQ(image_data("app-2-disk-0"), "bob's rows");
    EXPECT_EQ(image_data("app-2-disk-1"), "alice's rows");
}

// The configuration alone, restored from a template whose images belong to
// other users than the template's owner, names each image with its own owner.
TEST_F(PlatformVariety, ConfigurationOnlyRestorePointsAtImagesOfAnotherOwner)
{
    const std::string alices = owned_image("db", "alice", "alice's rows");
    const std::string bobs = owned_image("db", "bob", "bob's rows");
    platform_.vm_template({"--name", "svc", "--owner", "carol", "--disk", "IMAGE_ID=" + alices, "--disk",
                           "IMAGE_ID=" + bobs});
    back_up("svc");
    const auto images_before = platform_names("images");

    const auto result = restore("last:true,restore_only_config:yes,new_name:conf");
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(platform_names("images"), images_before);
    EXPECT_EQ(disk_images(template_xml("conf")), (std::vector<std::string>{"db/alice", "db/bob"}));
}

// A configuration whose disk names an image that cannot be found (gone since the
// backup, or named with another owner) is not created: the restore fails with 7.
TEST_F(PlatformVariety, ConfigurationOnlyRestoreOfAMissingImageFailsWithSeven)
{
    const std::string alices = owned_image("db", "alice", "alice's rows");
    const std::string other = owned_image("logs", "alice", "alice's logs");
    const std::string list = "7:db:" + files_datastore() + ":vd::2:0:0\n";
    const struct {
        const char* label;
        std::string disk;
        std::string record;
    } cases[] = {
        {"owner of the template instead of the image's",
         "<IMAGE><![CDATA[db]]></IMAGE><IMAGE_UNAME><![CDATA[carol]]></IMAGE_UNAME>",
         ": no image named 'db' belongs to the owner with UNAME carol"},
        {"image deleted since", "<IMAGE><![CDATA[logs]]></IMAGE><IMAGE_UNAME><![CDATA[alice]]></IMAGE_UNAME>",
         ": no image named 'logs' belongs to the owner with UNAME alice"},
        {"image ID that is gone", "<IMAGE_ID>99</IMAGE_ID>", "refers to the image 99, which doesn't exist"},
    };
    platform_.shell("/usr/bin/oneimage delete " + other);
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string archive = "cfg" + std::to_string(++round);
        const std::string xml = "<TEMPLATE><DISK>" + c.disk + "</DISK><NAME><![CDATA[svc]]></NAME></TEMPLATE>\n";
        const std::string meta = make_archive(archive, {{"template.xml", xml}, {"template_image_list", list}});
        const auto result = restore_from_meta(meta, "last:true,backup_only_config:yes,restore_only_config:yes");
        EXPECT_EQ(result.exit_status, 7) << log();
        EXPECT_TRUE(contains(log(), c.record)) << log();
        EXPECT_TRUE(contains(log(), ": the template in the file ")) << log();
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
    }
    EXPECT_EQ(image_data(alices), "alice's rows");
}

}  // namespace
