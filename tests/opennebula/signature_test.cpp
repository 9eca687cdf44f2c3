// Which signature an image gets, and the file MD5 and link resolution behind it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <random>
#include <string>

#include "crypto/hxcrypto/md5.h"
#include "opennebula/file_link.h"
#include "opennebula/file_md5.h"
#include "opennebula/image_signature.h"
#include "opennebula/signature_method.h"
#include "tests/opennebula/log_capture.h"

namespace hx = hx_opennebula_common;
using method = hx::signature_method;

namespace {

const char* const kMd5 = "0123456789abcdef0123456789abcdef";
const char* const kUuid = "Jx4Mq2-aBcD-eFgH-iJkL-mNoP-qRsT-uVwXyZ";

TEST(SignatureMethod, FirstDescription)
{
    const struct {
        hx::opennebula_disk_type disk;
        hx::opennebula_image_type type;
        hx::TM_MAD_TYPE tm;
        bool md5;
        method expected;
    } cases[] = {
        {hx::DISK_TYPE_FILE, hx::IMAGE_TYPE_KERNEL, hx::TM_MAD_LVM_LVM, false, method::file_md5},
        {hx::DISK_TYPE_FILE, hx::IMAGE_TYPE_OS, hx::TM_MAD_SHARED, true, method::file_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, hx::TM_MAD_LVM_LVM, false, method::volume_uuid},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_OS, hx::TM_MAD_LVM_LVM, false, method::volume_uuid},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_CDROM, hx::TM_MAD_LVM_LVM, false, method::volume_uuid},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, hx::TM_MAD_LVM_LVM, true, method::device_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, hx::TM_MAD_FS_LVM, false, method::device_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, hx::TM_MAD_SHARED, false, method::device_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_KERNEL, hx::TM_MAD_LVM_LVM, false, method::not_computed},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_RAMDISK, hx::TM_MAD_SHARED, true, method::not_computed},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_CONTEXT, hx::TM_MAD_SHARED, false, method::not_computed},
        {hx::DISK_TYPE_RBD, hx::IMAGE_TYPE_OS, hx::TM_MAD_CEPH, true, method::ceph_id},
        {hx::DISK_TYPE_CDROM, hx::IMAGE_TYPE_CDROM, hx::TM_MAD_SHARED, false, method::unsupported_disk},
        {hx::DISK_TYPE_RBD_CDROM, hx::IMAGE_TYPE_CDROM, hx::TM_MAD_CEPH, false, method::unsupported_disk},
        {hx::DISK_TYPE_ISCSI, hx::IMAGE_TYPE_OS, hx::TM_MAD_ISCSI, false, method::unsupported_disk},
        {hx::DISK_TYPE_NONE, hx::IMAGE_TYPE_OS, hx::TM_MAD_SHARED, false, method::unsupported_disk},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hx::choose_signature_method(c.disk, c.type, c.tm, c.md5), c.expected)
            << "disk " << c.disk << " type " << c.type << " driver " << c.tm << " md5 " << c.md5;
}

TEST(SignatureMethod, CheckingAStoredSignatureAgain)
{
    const struct {
        hx::opennebula_disk_type disk;
        hx::opennebula_image_type type;
        bool md5;
        const char* stored;
        method expected;
    } cases[] = {
        {hx::DISK_TYPE_FILE, hx::IMAGE_TYPE_OS, false, kMd5, method::file_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, true, kMd5, method::device_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, true, kUuid, method::volume_uuid},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_DATABLOCK, false, kUuid, method::device_md5},
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_KERNEL, true, kMd5, method::not_computed},
        {hx::DISK_TYPE_RBD, hx::IMAGE_TYPE_OS, false, "", method::existence_only},
        {hx::DISK_TYPE_RBD, hx::IMAGE_TYPE_OS, true, "1a2b3c4d5e6f", method::ceph_id},
        {hx::DISK_TYPE_GLUSTER, hx::IMAGE_TYPE_OS, false, kMd5, method::unsupported_disk},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hx::choose_recheck_method(c.disk, c.type, c.md5, c.stored), c.expected)
            << "disk " << c.disk << " type " << c.type << " md5 " << c.md5 << " stored " << c.stored;
}

class FileSignature : public opennebula_test::LogCapture {
protected:
    std::string file_with(const std::string& name, const std::string& content)
    {
        const std::string path = scratch_dir() + "/" + name;
        opennebula_test::write_file(path, content);
        return path;
    }
};

std::string md5_in_one_piece(const std::string& content)
{
    hxcrypto::md5 md5;
    md5.init();
    md5.update(reinterpret_cast<const unsigned char*>(content.data()), content.size());
    unsigned char hash[16];
    md5.final(hash);
    std::string hex;
    for (unsigned char b : hash) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

TEST_F(FileSignature, PublishedDigests)
{
    const struct {
        const char* content;
        const char* digest;
    } cases[] = {
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        std::string digest;
        ASSERT_EQ(hx::calc_md5sum(file_with("f", c.content), digest), 0) << c.content;
        EXPECT_EQ(digest, c.digest) << c.content;
    }
}

TEST_F(FileSignature, BlockwiseReadsGiveTheDigestOfTheWholeContent)
{
    std::mt19937 random(20261210);
    for (std::size_t size : {1u, 4095u, 4096u, 4097u, 8192u, 3u * 4096u + 5u, 65536u + 4095u}) {
        std::string content(size, '\0');
        for (char& c : content)
            c = static_cast<char>(random());
        std::string digest;
        ASSERT_EQ(hx::calc_md5sum(file_with("data", content), digest), 0) << size;
        EXPECT_EQ(digest, md5_in_one_piece(content)) << size;
    }
}

TEST_F(FileSignature, EmptyOrMissingFilesFail)
{
    std::string digest = kMd5;  // an earlier value must not pass for the empty file's digest
    const std::string empty = file_with("empty", "");
    EXPECT_EQ(hx::calc_md5sum(empty, digest), 1);
    EXPECT_TRUE(logged(": got empty md5sum for the file: " + empty)) << all_records();

    const std::string missing = scratch_dir() + "/missing";
    EXPECT_EQ(hx::calc_md5sum(missing, digest), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::calc_md5sum(const std::string&, std::string&): can't open file: " +
                       missing))
        << all_records();
}

TEST_F(FileSignature, LinkedFileImageGetsItsTargetAsSource)
{
    const std::string data = file_with("image.raw", "abc");
    const std::string link = scratch_dir() + "/link";
    ASSERT_EQ(::symlink("image.raw", link.c_str()), 0);

    hx::oneimage image;
    image.source = link;
    image.disk_type = hx::DISK_TYPE_FILE;
    ASSERT_TRUE(hx::calculate_unique_signature(image, hx::TM_MAD_SHARED, false)) << all_records();
    EXPECT_EQ(image.source, data);
    EXPECT_EQ(image.unique_signature, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(logged("The path: '" + link + "' is a link to " + data)) << all_records();
}

TEST_F(FileSignature, FailuresNameTheSource)
{
    const struct {
        hx::opennebula_disk_type disk;
        hx::opennebula_image_type type;
        const char* record;
    } cases[] = {
        {hx::DISK_TYPE_BLOCK, hx::IMAGE_TYPE_KERNEL, ": can't determine unique signature for the image source: "},
        {hx::DISK_TYPE_FILE, hx::IMAGE_TYPE_OS, ": can't determine unique signature for the image source: "},
        {hx::DISK_TYPE_CDROM, hx::IMAGE_TYPE_CDROM, ": unsupported disk type: CDROM"},
        {hx::DISK_TYPE_NONE, hx::IMAGE_TYPE_OS, ": unsupported disk type: "},
    };
    const std::string empty = file_with("empty.raw", "");
    for (const auto& c : cases) {
        clear_records();
        hx::oneimage image;
        image.source = empty;
        image.disk_type = c.disk;
        image.type = c.type;
        EXPECT_FALSE(hx::calculate_unique_signature(image, hx::TM_MAD_SHARED, false));
        EXPECT_TRUE(logged(
            std::string("bool hx_opennebula_common::calculate_unique_signature(oneimage&, TM_MAD_TYPE, bool)") +
            c.record))
            << all_records();
    }
}

TEST_F(FileSignature, LocalLinkResolution)
{
    const std::string plain = file_with("plain", "x");
    std::string target;
    EXPECT_EQ(hx::read_file_link(plain, target, "", true), 0);
    EXPECT_EQ(target, plain);
    EXPECT_TRUE(records().empty()) << "a path that is no link is not reported";

    const std::string dangling = scratch_dir() + "/dangling";
    ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
    target.clear();
    EXPECT_EQ(hx::read_file_link(dangling, target, "", true), 1);
    EXPECT_TRUE(logged(": can't find file: " + scratch_dir() + "/nowhere")) << all_records();
}

TEST(RbdDiskName, LastComponentAfterItsFirstDot)
{
    const struct {
        const char* path;
        const char* name;
        int result;
    } cases[] = {
        {"/var/lib/one/datastores/0/5/disk.0", "0", 1},
        {"/var/lib/one/datastores/0/5/disk.1.snap", "1.snap", 1},
        {"/var/lib/one/datastores/0/5/disk", "disk", 0},
        {"one-12", "one-12", 0},
        {"a.b/c", "c", 0},
    };
    for (const auto& c : cases) {
        std::string name;
        EXPECT_EQ(hx::parse_rbd_disk_name(c.path, name), c.result) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
    }
}

}  // namespace
