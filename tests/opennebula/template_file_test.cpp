// The template file a backup writes and a restore edits, and saved image descriptions.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "opennebula/image_lists.h"
#include "opennebula/pool_objects.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/log_capture.h"
#include "tests/opennebula/vm_test_support.h"

namespace hx = hx_opennebula_common;

namespace {

using vm_test::outline;

std::string vmtemplate(const std::string& template_children)
{
    return "<VMTEMPLATE><ID>12</ID><UID>0</UID><GID>0</GID><UNAME>oneadmin</UNAME><GNAME>oneadmin</GNAME>"
           "<NAME>web</NAME><REGTIME>1</REGTIME><TEMPLATE>" +
           template_children + "</TEMPLATE></VMTEMPLATE>";
}

class TemplateFile : public opennebula_test::LogCapture {
protected:
    // Image names and owners the lookup knows; any other ID fails.
    std::map<std::string, std::pair<std::string, std::string>> names_ = {{"7", {"web-disk", "oneadmin"}},
                                                                         {"8", {"db & data", "oneadmin"}},
                                                                         {"9", {"shared-db", "alice"}}};
    std::vector<std::string> looked_up_;

    int build(hx::xml_document& doc, const std::string& new_name)
    {
        return hx::build_template_file_document("P", "web", doc.get(), new_name,
                                                [this](const std::string& id, std::string& name,
                                                       std::string& owner) {
                                                    looked_up_.push_back(id);
                                                    auto it = names_.find(id);
                                                    if (it == names_.end())
                                                        return 1;
                                                    name = it->second.first;
                                                    owner = it->second.second;
                                                    return 0;
                                                });
    }

    std::string file(const std::string& name, const std::string& text)
    {
        const std::string path = scratch_dir() + "/" + name;
        opennebula_test::write_file(path, text);
        return path;
    }
};

TEST_F(TemplateFile, DiskRewrites)
{
    const struct {
        const char* disk;
        const char* expected;
    } cases[] = {
        // IMAGE_ID becomes IMAGE and IMAGE_UNAME at the DISK's end; the other children keep their place.
        {"<DEV_PREFIX>vd</DEV_PREFIX><IMAGE_ID>7</IMAGE_ID><TARGET>vda</TARGET>",
         "DEV_PREFIX=vd;TARGET=vda;IMAGE=web-disk;IMAGE_UNAME=oneadmin"},
        // A DISK that names its image before any IMAGE_ID stays as it is.
        {"<IMAGE>web-disk</IMAGE><IMAGE_ID>7</IMAGE_ID>", "IMAGE=web-disk;IMAGE_ID=7"},
        // An IMAGE_ID before an IMAGE goes; the earlier IMAGE stays.
        {"<IMAGE_ID>8</IMAGE_ID><IMAGE>old</IMAGE>", "IMAGE=old;IMAGE=db & data;IMAGE_UNAME=oneadmin"},
        // IMAGE_UNAME is the image's own owner, not the template's (oneadmin).
        {"<IMAGE_ID>9</IMAGE_ID>", "IMAGE=shared-db;IMAGE_UNAME=alice"},
        // Volatile disks and disks by name are left alone.
        {"<SIZE>1024</SIZE><TYPE>fs</TYPE>", "SIZE=1024;TYPE=fs"},
        {"<IMAGE>db</IMAGE><IMAGE_UNAME>alice</IMAGE_UNAME>", "IMAGE=db;IMAGE_UNAME=alice"},
    };
    for (const auto& c : cases) {
        hx::xml_document doc = hx::parse_xml_text(vmtemplate(std::string("<DISK>") + c.disk + "</DISK>"));
        ASSERT_EQ(build(doc, ""), 0) << c.disk << all_records();
        xmlNode* root = xmlDocGetRootElement(doc.get());
        EXPECT_EQ(outline(root), std::string("DISK{") + c.expected + "};NAME=web") << c.disk;
    }
}

TEST_F(TemplateFile, RecordedTemplateBecomesTheFile)
{
    hx::xml_document doc = hx::parse_xml_text(opennebula_test::recorded_document("vmtemplate.xml"));
    ASSERT_EQ(build(doc, "web-restored"), 0) << all_records();
    xmlNode* root = xmlDocGetRootElement(doc.get());
    ASSERT_TRUE(hx::is_element(root, "TEMPLATE"));
    // Everything outside TEMPLATE (ID, owner, permissions, ...) is gone; NAME is the new name, last.
    EXPECT_EQ(outline(root),
              "CONTEXT{NETWORK=YES};CPU=1;DISK{DEV_PREFIX=vd;IMAGE=web-disk;IMAGE_UNAME=oneadmin};"
              "DISK{SIZE=1024;TYPE=fs};DISK{IMAGE=db-disk;IMAGE_UNAME=oneadmin};MEMORY=512;NAME=web-restored");
    EXPECT_EQ(looked_up_, std::vector<std::string>{"7"});
    EXPECT_TRUE(logged("Change image ID: 7 to image name: web-disk in XML template file"));
    EXPECT_TRUE(logged("Add IMAGE_UNAME : oneadmin to XML template file"));
    EXPECT_TRUE(logged("Template will be restored with the name: web-restored"));

    const std::string path = scratch_dir() + "/template.xml";
    ASSERT_EQ(hx::save_document(doc.get(), path), 0);
    std::string name;
    EXPECT_EQ(hx::get_template_name_from_file(path, name), 0);
    EXPECT_EQ(name, "web-restored");
}

TEST_F(TemplateFile, BuildFailures)
{
    const struct {
        std::string doc;
        const char* record;
    } cases[] = {
        {"<VMTEMPLATE><ID>1</ID><NAME>web</NAME></VMTEMPLATE>",
         "P: no TEMPLATE element in the description of template: web"},
        {vmtemplate("<DISK><IMAGE_ID>99</IMAGE_ID></DISK>"), nullptr},
    };
    for (const auto& c : cases) {
        clear_records();
        hx::xml_document doc = hx::parse_xml_text(c.doc);
        EXPECT_EQ(build(doc, "x"), 1) << c.doc;
        if (c.record != nullptr) {
            EXPECT_TRUE(logged(c.record)) << all_records();
        }
    }
}

TEST_F(TemplateFile, DiskImagesKeepTemplateOrder)
{
    hx::xml_document doc = hx::parse_xml_text(opennebula_test::recorded_document("vmtemplate.xml"));
    const auto disks = hx::template_disk_images(xmlDocGetRootElement(doc.get()));
    ASSERT_EQ(disks.size(), 2u) << "the volatile disk has no image";
    EXPECT_TRUE(disks[0].by_id);
    EXPECT_EQ(disks[0].value, "7");
    EXPECT_FALSE(disks[1].by_id);
    EXPECT_EQ(disks[1].value, "db-disk");
    EXPECT_STREQ(disks[1].owner_field, "UNAME");
    EXPECT_EQ(disks[1].owner, "oneadmin");
    EXPECT_EQ(disks[0].owner_field, nullptr);
    EXPECT_EQ(disks[0].disk_index, 0u);
    EXPECT_EQ(disks[1].disk_index, 2u) << "the volatile disk counts among the disks";

    hx::xml_document none = hx::parse_xml_text(vmtemplate("<CPU>1</CPU>"));
    EXPECT_TRUE(hx::template_disk_images(xmlDocGetRootElement(none.get())).empty());
}

// A name is unique per owner: the owner named by IMAGE_UNAME (before IMAGE_UID)
// picks one image among those of that name.
TEST_F(TemplateFile, DiskOwnersPickOneImageOfTheName)
{
    hx::xml_document tpl = hx::parse_xml_text(
        "<TEMPLATE><DISK><IMAGE>db</IMAGE><IMAGE_UID>2</IMAGE_UID><IMAGE_UNAME>bob</IMAGE_UNAME></DISK>"
        "<DISK><IMAGE>db</IMAGE><IMAGE_UID>1</IMAGE_UID></DISK><DISK><IMAGE>db</IMAGE></DISK></TEMPLATE>");
    const auto disks = hx::disk_images_of_template(xmlDocGetRootElement(tpl.get()));
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_STREQ(disks[0].owner_field, "UNAME");
    EXPECT_EQ(disks[0].owner, "bob");
    EXPECT_STREQ(disks[1].owner_field, "UID");
    EXPECT_EQ(disks[1].owner, "1");
    EXPECT_EQ(disks[2].owner_field, nullptr);

    hx::xml_document pool = hx::parse_xml_text(
        "<IMAGE_POOL><IMAGE><ID>3</ID><UID>1</UID><UNAME>alice</UNAME><NAME>db</NAME></IMAGE>"
        "<IMAGE><ID>4</ID><UID>2</UID><UNAME>bob</UNAME><NAME>db</NAME></IMAGE>"
        "<IMAGE><ID>5</ID><UID>2</UID><UNAME>bob</UNAME><NAME>logs</NAME></IMAGE></IMAGE_POOL>");
    xmlNode* root = xmlDocGetRootElement(pool.get());
    EXPECT_EQ(hx::owned_image_ids(root, "db", "UNAME", "bob"), std::vector<std::string>{"4"});
    EXPECT_EQ(hx::owned_image_ids(root, "db", "UID", "1"), std::vector<std::string>{"3"});
    EXPECT_TRUE(hx::owned_image_ids(root, "db", "UNAME", "carol").empty());
    EXPECT_TRUE(hx::owned_image_ids(root, "d", "UNAME", "bob").empty()) << "names match whole";
    EXPECT_EQ(hx::image_ids_named(root, "db"), (std::vector<std::string>{"3", "4"})) << "every owner's image";
    EXPECT_TRUE(hx::image_ids_named(root, "d").empty()) << "names match whole";
}

// A pool listing as records of ID, name and owner: the first of each element,
// the objects in document order, other elements passed over.
TEST_F(TemplateFile, PoolObjectsGiveIdNameAndOwner)
{
    hx::xml_document pool = hx::parse_xml_text(
        "<VMTEMPLATE_POOL><VMTEMPLATE><ID>3</ID><UID>1</UID><UNAME>alice</UNAME><NAME>bk1</NAME></VMTEMPLATE>"
        "<IMAGE><ID>9</ID><NAME>stray</NAME></IMAGE>"
        "<VMTEMPLATE><ID>12</ID><UNAME>oneadmin</UNAME><UNAME>x</UNAME><NAME>bk1</NAME><NAME>y</NAME></VMTEMPLATE>"
        "<VMTEMPLATE><NAME>no-id</NAME></VMTEMPLATE><VMTEMPLATE><ID>4</ID></VMTEMPLATE></VMTEMPLATE_POOL>");
    const std::vector<hx::pool_object> objects = hx::pool_objects(xmlDocGetRootElement(pool.get()), "VMTEMPLATE");
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0].id, "3");
    EXPECT_EQ(objects[0].name, "bk1");
    EXPECT_EQ(objects[0].owner, "alice");
    EXPECT_EQ(objects[1].id, "12");
    EXPECT_EQ(objects[1].name, "bk1") << "the first NAME";
    EXPECT_EQ(objects[1].owner, "oneadmin") << "the first UNAME";
    EXPECT_EQ(objects[2].id, "");
    EXPECT_EQ(objects[3].owner, "");
    EXPECT_EQ(hx::highest_object_id(objects), "12") << "compared as numbers, objects without an ID passed over";
    EXPECT_EQ(hx::highest_object_id({}), "") << "an empty pool";
    EXPECT_EQ(hx::highest_object_id({{"x", "a", "b"}}), "") << "no numeric ID";
}

TEST_F(TemplateFile, RenameTheTemplate)
{
    const std::string path =
        file("t.xml", "<TEMPLATE><DISK><NAME>inner</NAME></DISK><NAME>web</NAME><NAME>second</NAME></TEMPLATE>");
    ASSERT_EQ(hx::change_name_in_template_xml(path, "web_1 & co"), 0) << all_records();
    hx::xml_document doc = hx::parse_xml_file(path);
    EXPECT_EQ(outline(xmlDocGetRootElement(doc.get())), "DISK{NAME=inner};NAME=web_1 & co;NAME=second");

    const std::string nameless = file("n.xml", "<TEMPLATE><CPU>1</CPU></TEMPLATE>");
    EXPECT_EQ(hx::change_name_in_template_xml(nameless, "x"), 1);
    EXPECT_TRUE(logged(": can't change template name in the file: " + nameless));
}

TEST_F(TemplateFile, RenameImagesLastMatchingRecordWins)
{
    const std::string path = file("t.xml",
                                  "<TEMPLATE><DISK><IMAGE>web-disk</IMAGE><IMAGE_UNAME>oneadmin</IMAGE_UNAME></DISK>"
                                  "<DISK><IMAGE>db</IMAGE></DISK><NAME>web</NAME></TEMPLATE>");
    std::vector<hx::oneimage> images(3);
    images[0].name = "web-disk";
    images[0].restore_name = "web-disk_1";
    images[1].name = "db";
    images[1].restore_name = "db_1";
    images[2].name = "web-disk";
    images[2].restore_name = "web-disk_2";
    ASSERT_EQ(hx::change_image_name_in_template_xml(path, images), 0) << all_records();
    hx::xml_document doc = hx::parse_xml_file(path);
    EXPECT_EQ(outline(xmlDocGetRootElement(doc.get())),
              "DISK{IMAGE=web-disk_2;IMAGE_UNAME=oneadmin};DISK{IMAGE=db_1};NAME=web");
}

TEST_F(TemplateFile, UnmatchedImageLeavesTheFileAsItWas)
{
    const std::string original = "<TEMPLATE><DISK><IMAGE>web-disk</IMAGE></DISK><DISK><IMAGE>gone</IMAGE></DISK></TEMPLATE>";
    const std::string path = file("t.xml", original);
    std::vector<hx::oneimage> images(1);
    images[0].name = "web-disk";
    images[0].restore_name = "web-disk_1";
    EXPECT_EQ(hx::change_image_name_in_template_xml(path, images), 1);
    EXPECT_TRUE(logged(": can't find an image in the archive that corresponds to: gone"));
    EXPECT_EQ(opennebula_test::read_file(path), original);
}

TEST_F(TemplateFile, ImageDescriptionLosesItsVms)
{
    const std::string path = file("image.xml", opennebula_test::recorded_document("image_file.xml"));
    // A second top-level VMS goes too; VMS below the top level stays.
    const std::string twice = file("twice.xml", "<IMAGE><ID>1</ID><VMS><ID>4</ID></VMS><TEMPLATE><VMS>k</VMS>"
                                                "</TEMPLATE><VMS><ID>5</ID></VMS></IMAGE>");
    ASSERT_EQ(hx::convert_image_xml(path), 0) << all_records();
    ASSERT_EQ(hx::convert_image_xml(twice), 0) << all_records();
    hx::xml_document doc = hx::parse_xml_file(path);
    EXPECT_EQ(hx::first_child_element(xmlDocGetRootElement(doc.get()), "VMS"), nullptr);
    EXPECT_NE(hx::first_child_element(xmlDocGetRootElement(doc.get()), "CLONES"), nullptr);
    hx::xml_document small = hx::parse_xml_file(twice);
    EXPECT_EQ(outline(xmlDocGetRootElement(small.get())), "ID=1;TEMPLATE{VMS=k}");
}

TEST_F(TemplateFile, FileFailuresNameTheFile)
{
    const std::string broken = file("broken.xml", "<TEMPLATE><NAME>x</NAME>");
    const std::string image = file("image.xml", "<IMAGE><ID>1</ID></IMAGE>");
    const std::string tmpl = file("tmpl.xml", "<TEMPLATE><NAME>x</NAME></TEMPLATE>");
    const std::string missing = scratch_dir() + "/missing.xml";
    std::string name;
    const struct {
        int result;
        std::string record;
    } cases[] = {
        {hx::get_template_name_from_file(broken, name), ": document not parsed successfully: " + broken},
        {hx::get_template_name_from_file(missing, name), ": document not parsed successfully: " + missing},
        {hx::get_template_name_from_file(image, name), ": document of the wrong type, root node != TEMPLATE: " + image},
        {hx::change_name_in_template_xml(image, "y"), ": document of the wrong type, root node != TEMPLATE: " + image},
        {hx::change_image_name_in_template_xml(image, {}), ": document of the wrong type, root node != TEMPLATE: " + image},
        {hx::convert_image_xml(tmpl), ": document of the wrong type, root node != IMAGE: " + tmpl},
        {hx::get_template_name_from_file(file("nameless.xml", "<TEMPLATE/>"), name),
         ": can't get template name from the file: " + scratch_dir() + "/nameless.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, 1) << c.record;
        EXPECT_TRUE(logged(c.record)) << c.record << "\n" << all_records();
    }
}

}  // namespace
