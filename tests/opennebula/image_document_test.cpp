// Reading an IMAGE document into the record, and the disk-type rule.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "opennebula/image_document.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/log_capture.h"

namespace hx = hx_opennebula_common;

namespace {

class ImageDocument : public opennebula_test::LogCapture {
protected:
    hx::oneimage read(const std::string& text)
    {
        doc_ = hx::parse_xml_text(text);
        EXPECT_TRUE(doc_) << text;
        hx::oneimage image;
        hx::read_image_document(xmlDocGetRootElement(doc_.get()), image);
        return image;
    }

    hx::xml_document doc_;
};

TEST_F(ImageDocument, RecordedImageFillsEveryField)
{
    hx::oneimage image;
    image.restore_name = "kept";
    doc_ = hx::parse_xml_text(opennebula_test::recorded_document("image_file.xml"));
    hx::read_image_document(xmlDocGetRootElement(doc_.get()), image);
    EXPECT_EQ(image.id, "7");
    EXPECT_EQ(image.name, "web-disk");
    EXPECT_EQ(image.type, hx::IMAGE_TYPE_DATABLOCK);
    EXPECT_EQ(image.disk_type, hx::DISK_TYPE_FILE);
    EXPECT_EQ(image.persistent, "1");
    EXPECT_EQ(image.source, "/var/lib/one//datastores/1/3c59dc048e8850243be8079a5c74d079");
    EXPECT_EQ(image.size, 10u * 1048576u);
    EXPECT_EQ(image.datastore_id, "1");
    EXPECT_EQ(image.dev_prefix, "vd");
    EXPECT_EQ(image.driver, "qcow2");
    EXPECT_EQ(image.restore_name, "kept") << "never read from the document";
    EXPECT_TRUE(image.unique_signature.empty());
}

TEST_F(ImageDocument, SizeIsMegabytesInBaseZero)
{
    const struct {
        const char* size;
        std::uint64_t bytes;
    } cases[] = {{"1", 1048576u}, {"010", 8u * 1048576u}, {"0x10", 16u * 1048576u}, {"  3", 3u * 1048576u},
                 {"0", 0u},       {"4194304", 4194304ull << 20}};
    for (const auto& c : cases)
        EXPECT_EQ(read(std::string("<IMAGE><SIZE>") + c.size + "</SIZE></IMAGE>").size, c.bytes) << c.size;
}

TEST_F(ImageDocument, NumbersThatDoNotConvertThrow)
{
    const struct {
        const char* doc;
        bool out_of_range;
    } cases[] = {
        {"<IMAGE><SIZE></SIZE></IMAGE>", false},
        {"<IMAGE><SIZE>ten</SIZE></IMAGE>", false},
        {"<IMAGE><TYPE/></IMAGE>", false},
        {"<IMAGE><DISK_TYPE>x</DISK_TYPE></IMAGE>", false},
        {"<IMAGE><TYPE>99999999999</TYPE></IMAGE>", true},
    };
    for (const auto& c : cases) {
        if (c.out_of_range)
            EXPECT_THROW(read(c.doc), std::out_of_range) << c.doc;
        else
            EXPECT_THROW(read(c.doc), std::invalid_argument) << c.doc;
    }
}

TEST_F(ImageDocument, TypeAfterDiskTypeIsNotReadAndLaterDuplicatesWin)
{
    const hx::oneimage image = read(
        "<IMAGE><TYPE>1</TYPE><DISK_TYPE>2</DISK_TYPE><TYPE>5</TYPE><NAME>a</NAME><NAME>b</NAME>"
        "<TEMPLATE><DRIVER>raw</DRIVER></TEMPLATE><TEMPLATE><DEV_PREFIX>sd</DEV_PREFIX></TEMPLATE></IMAGE>");
    EXPECT_EQ(image.type, hx::IMAGE_TYPE_CDROM);
    EXPECT_EQ(image.disk_type, hx::DISK_TYPE_BLOCK);
    EXPECT_EQ(image.name, "b");
    EXPECT_EQ(image.driver, "raw");
    EXPECT_EQ(image.dev_prefix, "sd");
}

TEST_F(ImageDocument, WithoutDiskTypeItStaysUndetermined)
{
    EXPECT_EQ(read("<IMAGE><TYPE>2</TYPE></IMAGE>").disk_type, hx::DISK_TYPE_NONE);
}

// The disk type of an image without DISK_TYPE, by datastore type and driver.
TEST_F(ImageDocument, DiskTypeFromDatastoreMatrix)
{
    const int kFail = -1;
    const struct {
        int datastore_type;
        hx::TM_MAD_TYPE tm;
        int expected;  // a disk type, or kFail
        const char* record;
    } cases[] = {
        {2, hx::TM_MAD_QCOW2, hx::DISK_TYPE_FILE, nullptr},
        {2, hx::TM_MAD_CEPH, hx::DISK_TYPE_FILE, nullptr},
        {2, hx::TM_MAD_FS_LVM, hx::DISK_TYPE_FILE, nullptr},
        {0, hx::TM_MAD_QCOW2, hx::DISK_TYPE_FILE, nullptr},
        {0, hx::TM_MAD_SHARED, hx::DISK_TYPE_FILE, nullptr},
        {0, hx::TM_MAD_CEPH, hx::DISK_TYPE_RBD, nullptr},
        {0, hx::TM_MAD_LVM_LVM, hx::DISK_TYPE_BLOCK, nullptr},
        {0, hx::TM_MAD_FS_LVM, kFail, "P: unsupported TM_MAD type: fs_lvm"},
        {0, hx::TM_MAD_LVM_THIN, kFail, "P: unsupported TM_MAD type: lvm_thin"},
        {0, hx::TM_MAD_SSH, kFail, "P: unsupported TM_MAD type: ssh"},
        {0, hx::TM_MAD_DEV, kFail, "P: unsupported TM_MAD type: dev"},
        {0, hx::TM_MAD_ISCSI, kFail, "P: unsupported TM_MAD type: iscsi"},
        {1, hx::TM_MAD_SHARED, kFail, "P: unsupported datastore type: \"1\""},
        {3, hx::TM_MAD_SHARED, kFail, "P: unsupported datastore type: \"3\""},
        {-1, hx::TM_MAD_CEPH, kFail, "P: unsupported datastore type: \"-1\""},
    };
    for (const auto& c : cases) {
        clear_records();
        hx::opennebula_disk_type disk = hx::DISK_TYPE_NONE;
        const int result = hx::disk_type_from_datastore("P", c.datastore_type, c.tm, disk);
        const std::string what = "datastore type " + std::to_string(c.datastore_type) + ", driver " +
                                 hx::TM_MAD_TYPE_STR.at(c.tm);
        if (c.expected == kFail) {
            EXPECT_EQ(result, 1) << what;
            EXPECT_EQ(disk, hx::DISK_TYPE_NONE) << what;
            EXPECT_TRUE(logged(c.record)) << what << ": " << all_records();
        } else {
            EXPECT_EQ(result, 0) << what;
            EXPECT_EQ(disk, c.expected) << what;
            EXPECT_TRUE(records().empty()) << what;
        }
    }
}

}  // namespace
