// Saved VM template files: their edits for a restore and their readers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opennebula/vm_template_files.h"
#include "tests/opennebula/vm_test_support.h"

namespace hx = hx_opennebula_common;
using vm_test::replaced;

namespace {

const std::string kIdList = "int hx_opennebula_common::get_VM_image_ID_list_from_xml(const std::string&, "
                                 "std::vector<std::__cxx11::basic_string<char> >&)";

// The recorded VM's TEMPLATE as a saved file: root TEMPLATE, NAME appended last.
std::string template_file_text()
{
    const std::string vm = vm_test::vm_document("vm_running.xml");
    const std::string::size_type start = vm.find("<TEMPLATE>");
    const std::string::size_type end = vm.find("</TEMPLATE>");
    return "<?xml version=\"1.0\"?>\n" + vm.substr(start, end - start) + "  <NAME>web-vm</NAME>\n</TEMPLATE>\n";
}

class VmTemplateFile : public opennebula_test::LogCapture {
protected:
    void SetUp() override
    {
        LogCapture::SetUp();
        path_ = scratch_dir() + "/vm.xml";
        opennebula_test::write_file(path_, template_file_text());
    }
    std::string content() const { return opennebula_test::read_file(path_); }
    std::string outline() const
    {
        const auto doc = hx::parse_xml_file(path_);
        return doc ? vm_test::outline(xmlDocGetRootElement(doc.get())) : std::string("(unreadable)");
    }
    std::string path_;
};

TEST_F(VmTemplateFile, RenameSetsTheFirstTopLevelName)
{
    opennebula_test::write_file(path_, replaced(template_file_text(), "  <NAME>web-vm</NAME>\n",
                                                "  <NAME>web-vm</NAME>\n  <NAME>second</NAME>\n"));
    EXPECT_EQ(hx::change_name_in_VM_xml(path_, "web & copy"), 0) << all_records();
    std::string name;
    EXPECT_EQ(hx::get_VM_name_from_file(path_, name), 0);
    EXPECT_EQ(name, "web & copy");
    EXPECT_NE(outline().find("NAME=web & copy;NAME=second"), std::string::npos) << outline();
    // The disks' IMAGE names are not top-level names.
    EXPECT_NE(outline().find("IMAGE=web-disk"), std::string::npos);
}

TEST_F(VmTemplateFile, RenameWithoutNameFailsAndKeepsTheFile)
{
    opennebula_test::write_file(path_, replaced(template_file_text(), "  <NAME>web-vm</NAME>\n", ""));
    const std::string before = content();
    EXPECT_EQ(hx::change_name_in_VM_xml(path_, "x"), 1);
    EXPECT_TRUE(logged(": can't change VM name in XML file " + path_)) << all_records();
    EXPECT_EQ(content(), before);
    std::string name = "unchanged";
    EXPECT_EQ(hx::get_VM_name_from_file(path_, name), 1);
    EXPECT_TRUE(logged(": can't get VM name from file: " + path_));
    EXPECT_EQ(name, "unchanged");
}

TEST_F(VmTemplateFile, CdromsOfBothKindsAreRemoved)
{
    EXPECT_EQ(hx::remove_cdrom_from_VM_xml(path_), 0) << all_records();
    const std::string text = outline();
    EXPECT_EQ(text.find("TYPE=CDROM"), std::string::npos) << text;
    EXPECT_EQ(text.find("TYPE=RBD_CDROM"), std::string::npos) << text;
    for (const char* id : {"DISK_ID=0;", "DISK_ID=1;", "DISK_ID=2;"})
        EXPECT_NE(text.find(id), std::string::npos) << id;
    // Saved again, formatted, with the declaration, also when nothing more is to be removed.
    EXPECT_EQ(hx::remove_cdrom_from_VM_xml(path_), 0);
    EXPECT_EQ(content().rfind("<?xml version=\"1.0\"?>\n<TEMPLATE>", 0), 0u) << content();
}

struct ImageChangeCase {
    const char* name;
    const char* old_image;
    const char* new_image;
    const char* old_id;
    const char* new_id;
    int result;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

std::ostream& operator<<(std::ostream& out, const ImageChangeCase& c)
{
    return out << c.name;
}

class ImageChange : public VmTemplateFile, public ::testing::WithParamInterface<ImageChangeCase> {};

TEST_P(ImageChange, ReplacesMatchingImageNamesAndIds)
{
    const ImageChangeCase& c = GetParam();
    const std::string before = content();
    EXPECT_EQ(hx::change_image_in_VM_xml(path_, c.old_image, c.new_image, c.old_id, c.new_id), c.result)
        << all_records();
    const std::string text = outline();
    for (const std::string& piece : c.present)
        EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
    for (const std::string& piece : c.absent)
        EXPECT_EQ(text.find(piece), std::string::npos) << piece << "\n" << text;
    if (c.result != 0) {
        EXPECT_TRUE(logged(": can't find records to change: " + path_)) << all_records();
        EXPECT_EQ(content(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageChange,
    ::testing::Values(
        ImageChangeCase{"NameAndId", "web-disk", "web-disk-restored", "7", "70", 0,
                        {"IMAGE=web-disk-restored;IMAGE_ID=70;"}, {"IMAGE=web-disk;", "IMAGE_ID=7;"}},
        ImageChangeCase{"OnlyTheIdMatches", "other", "x", "12", "120", 0, {"IMAGE=web-rbd;IMAGE_ID=120;"},
                        {"IMAGE=x;"}},
        ImageChangeCase{"NameIsExact", "web", "x", "999", "1", 1, {"IMAGE=web-disk;IMAGE_ID=7;"}, {"IMAGE=x;"}},
        ImageChangeCase{"NothingMatches", "none", "x", "999", "1", 1, {"IMAGE=web-disk;"}, {}}),
    [](const ::testing::TestParamInfo<ImageChangeCase>& info) { return std::string(info.param.name); });

TEST_F(VmTemplateFile, ImageIdsInDiskOrderReplaceTheListsContent)
{
    std::vector<std::string> ids = {"stale"};
    EXPECT_EQ(hx::get_VM_image_ID_list_from_xml(path_, ids), 0);
    EXPECT_EQ(ids, (std::vector<std::string>{"7", "12", "9", "13"}));
}

TEST_F(VmTemplateFile, TotalDiskSizeLeavesOutTemporaryDisksAndFileCdroms)
{
    // 10240 + 2048 + 200 (a Ceph CD-ROM is counted); the fs disk (1024) and the CD-ROM (300) are not.
    unsigned int total = 99;
    EXPECT_EQ(hx::get_total_vm_disks_size_mb(path_, total), 0);
    EXPECT_EQ(total, 12488u);

    opennebula_test::write_file(path_, replaced(template_file_text(), "<SIZE><![CDATA[2048]]>", "<SIZE><![CDATA[big]]>"));
    EXPECT_THROW(hx::get_total_vm_disks_size_mb(path_, total), std::invalid_argument);
}

struct TmMadCase {
    const char* systems;  // the TM_MAD_SYSTEM elements of the file
    int expected;
};

TEST_F(VmTemplateFile, SystemDatastoreDriverByName)
{
    const TmMadCase cases[] = {
        {"<TM_MAD_SYSTEM>ssh</TM_MAD_SYSTEM>", 6},
        {"<TM_MAD_SYSTEM>shared</TM_MAD_SYSTEM>", 5},
        {"<TM_MAD_SYSTEM>SSH</TM_MAD_SYSTEM>", -1},
        {"<TM_MAD_SYSTEM>nfs</TM_MAD_SYSTEM><TM_MAD_SYSTEM>ceph</TM_MAD_SYSTEM>", 1},
        {"<TM_MAD_SYSTEM>qcow2</TM_MAD_SYSTEM><TM_MAD_SYSTEM>ceph</TM_MAD_SYSTEM>", 0},
        {"", -1},
    };
    for (const TmMadCase& c : cases) {
        opennebula_test::write_file(
            path_, replaced(template_file_text(), "<TM_MAD_SYSTEM><![CDATA[ssh]]></TM_MAD_SYSTEM>", c.systems));
        EXPECT_EQ(hx::get_vm_tm_mad_type(path_), c.expected) << c.systems;
    }
}

struct BadFileCase {
    const char* name;
    const char* text;  // null: no file at all
    std::string record;
};

std::ostream& operator<<(std::ostream& out, const BadFileCase& c)
{
    return out << c.name;
}

class UnreadableVmFile : public VmTemplateFile, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(UnreadableVmFile, EveryReaderFailsWithItsRecord)
{
    const BadFileCase& c = GetParam();
    if (c.text == nullptr)
        boost::filesystem::remove(path_);
    else
        opennebula_test::write_file(path_, c.text);
    std::vector<std::string> ids = {"stale"};
    EXPECT_EQ(hx::get_VM_image_ID_list_from_xml(path_, ids), 1);
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(logged(kIdList + c.record + (c.record.back() == ' ' ? path_ : std::string()))) << all_records();
    std::string name;
    EXPECT_EQ(hx::get_VM_name_from_file(path_, name), 1);
    EXPECT_EQ(hx::change_name_in_VM_xml(path_, "x"), 1);
    EXPECT_EQ(hx::remove_cdrom_from_VM_xml(path_), 1);
    std::vector<hx::oneimage> images(2);
    EXPECT_EQ(hx::get_VM_image_list_from_xml(path_, images), 1);
    EXPECT_TRUE(images.empty());
    unsigned int total = 5;
    EXPECT_EQ(hx::get_total_vm_disks_size_mb(path_, total), 1);
    EXPECT_EQ(hx::get_vm_tm_mad_type(path_), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableVmFile,
    ::testing::Values(BadFileCase{"Missing", nullptr, ": document not parsed successfully: "},
                      BadFileCase{"NotXml", "TEMPLATE = [", ": document not parsed successfully: "},
                      BadFileCase{"WrongRoot", "<VM><NAME>x</NAME></VM>",
                                  ": document of the wrong type, root node != TEMPLATE: "}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

TEST_F(VmTemplateFile, WrongRootRecordsOfTheSizeAndDriverReaders)
{
    opennebula_test::write_file(path_, "<VM/>");
    unsigned int total = 0;
    EXPECT_EQ(hx::get_total_vm_disks_size_mb(path_, total), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_total_vm_disks_size_mb(const std::string&, unsigned int&)"
                       ": document of the wrong type, root node != TEMPLATE "))
        << all_records();
    EXPECT_EQ(hx::get_vm_tm_mad_type(path_), -1);
    EXPECT_TRUE(logged("TM_MAD_TYPE hx_opennebula_common::get_vm_tm_mad_type(const std::string&): document of the "
                       "wrong type, root node != TEMPLATE "))
        << all_records();
    opennebula_test::write_file(path_, "<?xml version=\"1.0\"?><TEMPLATE");
    EXPECT_EQ(hx::change_image_in_VM_xml(path_, "a", "b", "1", "2"), 1);
    EXPECT_TRUE(logged(": Document not parsed successfully: " + path_)) << all_records();
}

}  // namespace
