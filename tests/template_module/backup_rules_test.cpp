// The rules of a template backup that are easiest to see on their own: the
// image list lines, image file stems, names that may stand for files or for the
// clone, the reading of a cloned image's state and the engine's file list.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "opennebula/image_record.h"
#include "template_module/backup_rules.h"
#include "template_module/restore_rules.h"
#include "template_module/staged_files.h"

namespace {

using hx_opennebula_common::oneimage;
using namespace kevra_template;

oneimage image(const std::string& id, const std::string& name, const std::string& prefix, const std::string& driver,
               hx_opennebula_common::opennebula_image_type type, hx_opennebula_common::opennebula_disk_type disk,
               const std::string& persistent)
{
    oneimage record;
    record.id = id;
    record.name = name;
    record.datastore_id = "1";
    record.dev_prefix = prefix;
    record.driver = driver;
    record.type = type;
    record.disk_type = disk;
    record.persistent = persistent;
    record.source = "/var/lib/one/datastores/1/abc";  // never part of the line
    record.unique_signature = "0123456789abcdef0123456789abcdef";
    return record;
}

struct ListLineCase {
    const char* what;
    oneimage record;
    const char* line;
};

TEST(ImageList, CloneNameLineCarriesTheNameRightAfterTheColon)
{
    EXPECT_EQ(clone_name_line("bk1"), "TEMPLATE CLONE NAME:bk1");
}

TEST(ImageList, ARestoreReadsTheCloneNameLineAndSkipsBlanksAndComments)
{
    const struct {
        const char* line;
        bool record;
        const char* clone_name;
    } cases[] = {
        {"", false, "before"},
        {"# 7:bk1-disk-0:1:vd:qcow2:0:0:0", false, "before"},
        {"TEMPLATE CLONE NAME:bk1", false, "bk1"},
        {"TEMPLATE CLONE NAME:", false, ""},
        {"7:bk1-disk-0:1:vd:qcow2:0:0:0", true, "before"},
        {"TEMPLATE CLONE NAME", true, "before"},
    };
    for (const auto& c : cases) {
        std::string clone_name = "before";
        EXPECT_EQ(is_image_list_record(c.line, clone_name), c.record) << '"' << c.line << '"';
        EXPECT_EQ(clone_name, c.clone_name) << '"' << c.line << '"';
    }
}

std::vector<ListLineCase> list_line_cases()
{
    using namespace hx_opennebula_common;
    return {
        {"file image", image("7", "bk1-disk-0", "vd", "qcow2", IMAGE_TYPE_OS, DISK_TYPE_FILE, "0"),
         "7:bk1-disk-0:1:vd:qcow2:0:0:0"},
        {"persistent block datablock", image("12", "db", "sd", "raw", IMAGE_TYPE_DATABLOCK, DISK_TYPE_BLOCK, "1"),
         "12:db:1:sd:raw:2:2:1"},
        {"empty prefix and driver stay empty fields", image("3", "c", "", "", IMAGE_TYPE_CDROM, DISK_TYPE_CDROM, ""),
         "3:c:1:::1:1:"},
        {"rbd", image("9", "r", "vd", "raw", IMAGE_TYPE_OS, DISK_TYPE_RBD, "0"), "9:r:1:vd:raw:0:3:0"},
        {"a colon in the name shifts the later fields",
         image("4", "a:b", "vd", "raw", IMAGE_TYPE_OS, DISK_TYPE_FILE, "0"), "4:a:b:1:vd:raw:0:0:0"},
    };
}

TEST(ImageList, EightFieldsJoinedByColonsWithoutEscaping)
{
    for (const auto& c : list_line_cases()) {
        EXPECT_EQ(image_list_line(c.record), c.line) << c.what;
    }
}

TEST(ImageList, ARestoreReadsBackTheRecordOfEveryLineWithoutAColonInItsName)
{
    for (const auto& c : list_line_cases()) {
        if (c.record.name.find(':') != std::string::npos) {
            continue;
        }
        oneimage read;
        EXPECT_EQ(read_image_list_fields(c.line, read), 8u) << c.what;
        EXPECT_EQ(image_list_line(read), c.line) << c.what;
    }
}

TEST(ImageList, ATypeOrDiskTypeThatIsNoNumberThrowsAndShortLinesFillWhatTheyHave)
{
    oneimage read;
    EXPECT_THROW(read_image_list_fields("7:n:1:vd:raw:x:0:0", read), std::invalid_argument);
    EXPECT_THROW(read_image_list_fields("7:n:1:vd:raw:0:99999999999:0", read), std::out_of_range);
    oneimage short_line;
    EXPECT_EQ(read_image_list_fields("7:n", short_line), 2u);
    EXPECT_EQ(short_line.id, "7");
    EXPECT_EQ(short_line.name, "n");
    EXPECT_EQ(short_line.datastore_id, "");
}

TEST(ImageFileStem, PrefixThenNameWithoutTheFirstOccurrenceOfTheClone)
{
    using namespace hx_opennebula_common;
    struct Case {
        const char* name;
        const char* prefix;
        const char* clone;
        const char* stem;
    };
    const std::vector<Case> cases = {
        {"bk1-disk-0", "vd", "bk1", "vd-disk-0"},
        {"bk1-disk-1", "vd", "bk1", "vd-disk-1"},
        {"bk1-bk1", "vd", "bk1", "vd-bk1"},       // one occurrence only
        {"xbk1y", "sd", "bk1", "sdxy"},           // wherever it stands
        {"web-disk-0", "vd", "bk1", "vdweb-disk-0"},  // clone name absent
        {"web", "", "bk1", "web"},
        {"web", "hd", "", "hdweb"},               // empty clone name removes nothing
    };
    for (const auto& c : cases) {
        const oneimage record = image("1", c.name, c.prefix, "", IMAGE_TYPE_OS, DISK_TYPE_FILE, "0");
        EXPECT_EQ(image_file_stem(record, c.clone), c.stem) << c.name << " / " << c.clone;
    }
}

TEST(PlainNames, OnlyOneFileNameInsideADirectory)
{
    struct Case {
        const char* name;
        bool plain;
    };
    const std::vector<Case> cases = {
        {"bk1", true},          {"vd-disk-0.xml", true}, {"a b'c", true}, {"..x", true},
        {"", false},            {".", false},            {"..", false},   {"a/b", false},
        {"/abs", false},        {"../up", false},        {"a\nb", false}, {"a\rb", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_plain_file_name(c.name), c.plain) << '"' << c.name << '"';
    }
}

TEST(CloneImageWait, EveryPlatformStateHasItsAction)
{
    const std::vector<std::pair<int, clone_image_wait>> cases = {
        {-1, clone_image_wait::wrong},      {0, clone_image_wait::changing},  {1, clone_image_wait::ready},
        {2, clone_image_wait::ready},       {3, clone_image_wait::disabled},  {4, clone_image_wait::changing},
        {5, clone_image_wait::error},       {6, clone_image_wait::changing},  {7, clone_image_wait::deleting},
        {8, clone_image_wait::ready},       {9, clone_image_wait::changing},  {10, clone_image_wait::changing},
        {11, clone_image_wait::wrong},      {1000, clone_image_wait::wrong},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classify_clone_image_state(c.first), c.second) << "state " << c.first;
    }
}

TEST(StagedFiles, OneLocalPathPerArchiveName)
{
    staged_files files;
    EXPECT_TRUE(files.add("/op/bk1/template.xml", "template.xml"));
    EXPECT_TRUE(files.add("/data/a", "vd-disk-0"));
    // Another file under a name already used would overwrite it in the archive.
    EXPECT_FALSE(files.add("/data/b", "vd-disk-0"));
    EXPECT_FALSE(files.add("/op/bk1/other.xml", "template.xml"));
    // The same path again keeps its first name.
    EXPECT_TRUE(files.add("/data/a", "vd-disk-9"));
    EXPECT_TRUE(files.has_name("vd-disk-0"));
    EXPECT_FALSE(files.has_name("vd-disk-9"));

    const std::map<std::string, std::string> expected = {{"/data/a", "vd-disk-0"},
                                                         {"/op/bk1/template.xml", "template.xml"}};
    EXPECT_EQ(files.entries(), expected);
}

}  // namespace
