// Names that the platform's list commands would read as other objects (a
// comma, a range, digits), and names with a blank or a line break, as archive
// names and as template names: backup, archiving and restore touch no other
// template or image and leave no clone. A template of the clone's name that
// another process makes just before the clone stays where it is.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/sandbox_guard.h"

namespace fs = boost::filesystem;

namespace {

using kevra_e2e::contains;

// ID => top-level NAME of every object of a `list -x` pool ("VMTEMPLATE" or "IMAGE").
std::map<std::string, std::string> pool_names(const std::string& xml, const std::string& element)
{
    std::map<std::string, std::string> names;
    const std::string open = "<" + element + ">";
    for (auto at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const auto id = xml.find("<ID>", at) + 4;
        const auto name = xml.find("<NAME>", at) + 6;
        names[xml.substr(id, xml.find("</ID>", id) - id)] = xml.substr(name, xml.find("</NAME>", name) - name);
    }
    return names;
}

// `after` without the entries of `before`; fails the test when an entry of `before` is gone or changed.
std::map<std::string, std::string> added(const std::map<std::string, std::string>& before,
                                         const std::map<std::string, std::string>& after)
{
    std::map<std::string, std::string> rest = after;
    for (const auto& [id, name] : before) {
        const auto it = rest.find(id);
        if (it == rest.end() || it->second != name) {
            ADD_FAILURE() << "object " << id << " '" << name << "' was touched";
            continue;
        }
        rest.erase(it);
    }
    return rest;
}

struct NameCase {
    const char* label;
    std::string template_name;
    std::string archive;
    bool archiving;
    std::vector<std::string> decoy_names;  // templates and images named like the pieces
    std::vector<std::string> decoy_ids;    // templates and images with the IDs the pieces stand for
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.label;
}

class NameFixture : public kevra_e2e::TemplateRestoreTest {
protected:
    std::map<std::string, std::string> templates() const
    {
        return pool_names(platform_.shell("/usr/bin/onetemplate list -x").out, "VMTEMPLATE");
    }
    std::map<std::string, std::string> images() const
    {
        return pool_names(platform_.shell("/usr/bin/oneimage list -x").out, "IMAGE");
    }

    // Decoys first, so that the source's objects do not take their IDs; every
    // decoy template has an image of its own that a recursive delete would take.
    void declare_decoys(const NameCase& c)
    {
        const std::string files = files_datastore();
        for (const std::string& id : c.decoy_ids) {
            platform_.image({"--name", "decoy-image-" + id, "--id", id, "--datastore", files});
            platform_.vm_template({"--name", "decoy-" + id, "--id", id, "--disk", "IMAGE_ID=" + id});
        }
        for (const std::string& name : c.decoy_names) {
            const std::string image = platform_.image({"--name", name, "--datastore", files});
            platform_.vm_template({"--name", name, "--disk", "IMAGE_ID=" + image});
        }
    }
};

class NamePieces : public NameFixture, public ::testing::WithParamInterface<NameCase> {};

TEST_P(NamePieces, BackupArchivingAndRestoreTouchNothingElse)
{
    const NameCase& c = GetParam();
    declare_decoys(c);
    const std::string files = files_datastore();
    const std::string os = platform_.image({"--name", "src-os", "--datastore", files, "--prefix", "vd"});
    const std::string data =
        platform_.image({"--name", "src-data", "--datastore", files, "--prefix", "vd", "--type", "DATABLOCK"});
    const std::string source =
        platform_.vm_template({"--name", c.template_name, "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + data});
    // A name of digits only is an ID on the command line: such a template is given by its ID.
    const bool digits = c.template_name.find_first_not_of("0123456789") == std::string::npos;
    auto expected_templates = templates();
    auto expected_images = images();

    back_up(digits ? source : c.template_name, c.archive, false,
            c.archiving ? std::vector<std::string>{"-a"} : std::vector<std::string>{});
    if (c.archiving) {
        expected_templates.erase(source);
        expected_images.erase(os);
        expected_images.erase(data);
    }
    EXPECT_EQ(templates(), expected_templates) << log();
    EXPECT_EQ(images(), expected_images) << log();

    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();
    const std::string restored = c.archiving ? c.template_name : c.template_name + "-2";
    const auto new_templates = added(expected_templates, templates());
    ASSERT_EQ(new_templates.size(), 1u);
    EXPECT_EQ(new_templates.begin()->second, restored);
    std::vector<std::string> new_images;
    for (const auto& [id, name] : added(expected_images, images())) {
        new_images.push_back(name);
    }
    EXPECT_EQ(new_images, (std::vector<std::string>{restored + "-disk-0", restored + "-disk-1"}));
}

const std::vector<std::string> kPieces = {"bk", "victim"};
const std::vector<std::string> kRange = {"3", "4", "5"};

// Each case with and without archiving.
std::vector<NameCase> both_ways(std::vector<NameCase> cases)
{
    std::vector<NameCase> all;
    for (NameCase c : cases) {
        all.push_back(c);
        c.archiving = true;
        all.push_back(c);
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Names, NamePieces,
    ::testing::ValuesIn(both_ways({
        {"ArchiveWithComma", "web", "bk,victim", false, kPieces, {}},
        {"ArchiveLikeARange", "web", "3..5", false, {}, kRange},
        {"ArchiveOfDigits", "web", "42", false, {}, {"42"}},
        {"ArchiveWithBlank", "web", "bk victim", false, kPieces, {}},
        {"TemplateWithComma", "web,victim", "bk1", false, {"web", "victim"}, {}},
        {"TemplateLikeARange", "3..5", "bk1", false, {}, kRange},
        {"TemplateOfDigits", "42", "bk1", false, {}, {"42"}},
        {"TemplateWithBlank", "web victim", "bk1", false, {"web", "victim"}, {}},
        {"TemplateWithLineBreak", "web\nvictim", "bk1", false, {"web", "victim"}, {}},
    })),
    [](const ::testing::TestParamInfo<NameCase>& info) {
        return std::string(info.param.label) + (info.param.archiving ? "Archiving" : "");
    });

// An archive name with a line break cannot stand on its line of the image list
// or the engine file list: it is refused before anything is made or deleted.
using ArchiveNameWithALineBreak = NameFixture;

TEST_F(ArchiveNameWithALineBreak, IsRefusedBeforeAnything)
{
    declare_decoys({"", "", "", false, kPieces, {}});
    const std::string files = files_datastore();
    const std::string os = platform_.image({"--name", "src-os", "--datastore", files, "--prefix", "vd"});
    platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os});
    const auto before_templates = templates();
    const auto before_images = images();
    const auto result = backup("web", "bk\nvictim", {"-a"});
    EXPECT_EQ(result.exit_status, 6) << result.out << result.err;
    EXPECT_TRUE(contains(log(), "prepare_resource_before_backup(const bool&): the archive name can't name a "
                                "directory inside the operation directory: bk"))
        << log();
    EXPECT_EQ(templates(), before_templates);
    EXPECT_EQ(images(), before_images);
    EXPECT_TRUE(platform_.calls("hxfd").empty());
}

// A template name that two owners use names neither template: the backup is
// refused with the platform's message, and neither is cloned or deleted.
TEST_F(NameFixture, AmbiguousTemplateNameIsRefused)
{
    platform_.vm_template({"--name", "dup", "--owner", "oneadmin"});
    platform_.vm_template({"--name", "dup", "--owner", "alice"});
    const auto before = templates();
    const auto result = backup("dup", "bk1", {"-a"});
    EXPECT_EQ(result.exit_status, 2) << result.out << result.err;
    EXPECT_TRUE(contains(log(), "There are multiple VMTEMPLATEs with name dup.")) << log();
    EXPECT_TRUE(contains(log(), "resource doesn't exist: dup")) << log();
    EXPECT_EQ(templates(), before);
    for (const std::string& call : platform_.calls("onetemplate")) {
        EXPECT_FALSE(contains(call, " clone ") || contains(call, " delete ")) << call;
    }
}

// Another process makes a template of the clone's name after the free-name
// check and before the clone.
class CloneNameRace : public kevra_e2e::TemplateBackupTest {};

TEST_F(CloneNameRace, TheOtherTemplateStaysAndTheBackupFails)
{
    const auto tpl = declare_four_image_template();
    platform_.fixture({"fault", "onetemplate", "clone", "--times", "1", "--name-taken-by", "oneadmin"});
    const auto result = backup("web", "bk1");
    EXPECT_EQ(result.exit_status, 6) << result.out << result.err;
    // The other template (a plain copy of web, its disks on web's images) and web's images are kept.
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"bk1", "web"}));
    for (const std::string& image : tpl.image_ids) {
        EXPECT_EQ(platform_.image_field(image, "state"), "1") << image;
    }
    EXPECT_EQ(platform_names("images").size(), tpl.image_ids.size());
    const std::string record = log();
    EXPECT_TRUE(contains(record, "int HxModuleKevraTemplate::clone_template(): the clone command printed no "
                                 "template ID; no template named 'bk1' is taken for the clone"))
        << record;
    EXPECT_TRUE(contains(record, "Command output: [one.template.clone] NAME is already taken by TEMPLATE ")) << record;
    for (const std::string& call : platform_.calls("onetemplate")) {
        EXPECT_FALSE(contains(call, " delete ")) << call;
    }
    EXPECT_FALSE(fs::exists(op_dir_ + "/bk1"));
}

// Under another owner the clone is made and shares the name: the run deletes
// its clone by the printed ID and keeps the other template.
TEST_F(CloneNameRace, ACloneThatSharesItsNameIsDeletedByItsId)
{
    declare_four_image_template();
    platform_.fixture({"fault", "onetemplate", "clone", "--times", "1", "--name-taken-by", "alice"});
    const auto result = backup("web", "bk1");
    EXPECT_EQ(result.exit_status, 0) << result.out << result.err << log();
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"bk1", "web"}));
    EXPECT_TRUE(contains(platform_.shell("/usr/bin/onetemplate show bk1 -x").out, "<UNAME>alice</UNAME>"));
    EXPECT_FALSE(contains(platform_.fixture({"list", "images"}), "bk1-disk"));
}

}  // namespace
