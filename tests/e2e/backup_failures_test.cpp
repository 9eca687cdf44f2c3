// Template backups that fail or are refused, run in the sandbox: each ends with
// the exit status of its step and a clear log record, and leaves nothing of
// the run behind (no clone, no clone images, no staging directory, no engine
// file list), while the source template keeps its images.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"

namespace {

using kevra_e2e::contains;
namespace fs = boost::filesystem;

class BackupFailure;

// How one case sets the platform up beyond the four-image template "web", and
// which arguments it adds to the backup command line.
struct FailureCase {
    const char* name;
    std::function<std::vector<std::string>(BackupFailure&)> arrange;
    int status;
    const char* record;  // a piece of the log that names the cause
    bool engine_runs;
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c)
{
    return out << c.name;
}

class BackupFailure : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<FailureCase> {
public:
    kevra_e2e::FourImageTemplate tpl_;
    std::vector<std::string> args_;  // replaces the whole command line when not empty
    std::string resource_ = "web";

    kevra_test::Platform& platform() { return platform_; }
    const std::string& op_dir() const { return op_dir_; }

    std::vector<std::string> fault(const std::vector<std::string>& words)
    {
        std::vector<std::string> args = {"fault"};
        args.insert(args.end(), words.begin(), words.end());
        platform_.fixture(args);
        return {};
    }

    // The backup's command line without the option `skip` and its value.
    std::vector<std::string> command_without(const std::string& skip) const
    {
        const std::vector<std::string> all = {"-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask};
        std::vector<std::string> args;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i] == skip) {
                ++i;
                continue;
            }
            args.push_back(all[i]);
        }
        return args;
    }
};

const FailureCase kCases[] = {
    {"TemplateMissing",
     [](BackupFailure& t) {
         t.resource_ = "nosuch";
         return std::vector<std::string>{};
     },
     2, "resource doesn't exist: nosuch", false},
    {"ResourceListIsNoTemplate",
     [](BackupFailure& t) {
         // A backup of a resource list names the list file as its resource: no template has that name.
         const std::string list = t.op_dir() + "/resources.json";
         kevra_test::write_file(list, "{\"first\": {\"path\": \"web\"}}");
         t.args_ = {"-1", "-B", list, "-d", t.op_dir(), "-n", "bk1", "-m", "srv1", "-T", "T1"};
         return std::vector<std::string>{};
     },
     2, "virtual bool HxModuleKevraTemplate::resource_exists(): resource doesn't exist: /", false},
    {"LocalRestriction",
     [](BackupFailure&) {
         fs::create_directories("/opt/kelvomar/etc");
         kevra_test::write_file("/opt/kelvomar/etc/kelvomar_restriction.list.kevra_template", "other\nweb\n");
         return std::vector<std::string>{"-j"};
     },
     11, "Unable to backup this resource \"web\". Local restriction.", false},
    {"NoOperationDirectory",
     [](BackupFailure& t) {
         t.args_ = t.command_without("-d");
         return std::vector<std::string>{};
     },
     4, "Backup module: you must define tmp_operation_directory directory.", false},
    {"NoArchiveName",
     [](BackupFailure& t) {
         t.args_ = t.command_without("-n");
         return std::vector<std::string>{};
     },
     5, "Backup module: you must define archive name.", false},
    {"HostWithOtherOs",
     [](BackupFailure& t) {
         t.platform().fixture({"system", "--pretty-name", "Other Linux 9"});
         return std::vector<std::string>{};
     },
     6, ":unsupported OS: Other Linux 9", false},
    {"HostWithoutVersionFile",
     [](BackupFailure&) {
         fs::remove("/etc/kevra_version");
         return std::vector<std::string>{};
     },
     6, ": can't find installed Kevra on this host", false},
    {"HostWithoutPlatformTools",
     [](BackupFailure& t) {
         t.platform().fixture({"system", "--no-onevm"});
         return std::vector<std::string>{};
     },
     6, ": this host doesn't look like a Kevra front host.", false},
    {"CloneCommandFails",
     [](BackupFailure& t) {
         return t.fault({"onetemplate", "clone", "--exit", "255", "--stderr", "[one.template.clone] no quota"});
     },
     6, "int HxModuleKevraTemplate::clone_template(): can't create a clone of the template: web", false},
    {"CloneCommandMakesNoTemplate",
     [](BackupFailure& t) { return t.fault({"onetemplate", "clone", "--no-effect", "--stdout", "ID: 42"}); }, 6,
     "can't create a clone of the template: web", false},
    {"ClonedImageInError",
     [](BackupFailure& t) { return t.fault({"image-fate", "--name-glob", "bk1-*", "--then-state", "5"}); }, 6,
     " has state error", false},
    {"ClonedImageDisabled",
     [](BackupFailure& t) { return t.fault({"image-fate", "--name-glob", "bk1-*", "--then-state", "3"}); }, 6,
     " has state disabled", false},
    {"ImageDescriptionNotSaved",
     [](BackupFailure& t) {
         // The second show of the first source image is the one that saves its description.
         return t.fault({"oneimage", "show", "--with-arg", t.tpl_.image_ids[0], "--skip-first", "1", "--exit", "255",
                         "--stderr", "[one.image.info] Error getting image"});
     },
     6, "' returned code: 255", false},
    {"NoFreeSpaceForCephExport",
     [](BackupFailure& t) {
         // A file system smaller than the Ceph image's SIZE (1 MB) holds the operation directory.
         EXPECT_EQ(::mount("small", t.op_dir().c_str(), "tmpfs", 0, "size=512k"), 0);
         return std::vector<std::string>{};
     },
     6, ": there is not enough free space in: ", false},
    {"CephExportFails",
     [](BackupFailure& t) { return t.fault({"rbd", "export", "--exit", "1", "--stderr", "rbd: export error"}); }, 6,
     "/usr/bin/rbd export one/one-", false},
    {"EngineFails", [](BackupFailure& t) { return t.fault({"hxfd", "backup", "--exit", "1"}); }, 6, "hxfd out: ",
     true},
    {"EngineKilled", [](BackupFailure& t) { return t.fault({"hxfd", "backup", "--signal", "KILL"}); }, 6,
     "bool HxModuleUniversal::make_backup_locally(): ", true},
    {"ReplicaOfConfigurationOnly",
     [](BackupFailure& t) {
         t.args_ = {"-A", "web", "-d", t.op_dir(), "-n", "bk1", "-m", "srv1", "-T", "T1", "-e",
                    "backup_only_config:yes"};
         return std::vector<std::string>{};
     },
     6, ": the option 'backup_only_config' is set, but it must not at replica creation", false},
    {"ReplicaWithCephImage",
     [](BackupFailure& t) {
         t.args_ = {"-A", "web", "-d", t.op_dir(), "-n", "bk1", "-m", "srv1", "-T", "T1"};
         return std::vector<std::string>{};
     },
     6, ": RADOS block device is not supported for Kelvomar remote replication", false},
};

TEST_P(BackupFailure, EndsWithItsStatusAndLeavesNothingOfTheRun)
{
    const FailureCase& c = GetParam();
    tpl_ = declare_four_image_template();
    const std::vector<std::string> extra = c.arrange(*this);
    const auto result = args_.empty() ? backup(resource_, "bk1", extra) : run_module(args_);

    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    EXPECT_TRUE(contains(log(), c.record)) << "expected record: " << c.record << "\nlog:\n" << log();
    EXPECT_FALSE(contains(result.out, "MAIN ARCHIVE FILENAME:"));
    expect_nothing_left("bk1");
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    std::vector<std::string> sources = tpl_.image_names;
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(platform_names("images"), sources);
    EXPECT_EQ(!platform_.calls("hxfd").empty(), c.engine_runs);
    EXPECT_TRUE(platform_.fixture({"archives"}).empty() || c.engine_runs) << "nothing reached the store";
}

INSTANTIATE_TEST_SUITE_P(Steps, BackupFailure, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// A template that already has the archive name would be archived in the
// clone's place and deleted with its images: the backup is refused before
// anything is created, and that template stays as it was.
class TakenCloneName : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TakenCloneName, IsRefusedAndTheTemplateOfThatNameIsKept)
{
    const std::string taken = GetParam();
    declare_four_image_template();
    if (taken != "web") {
        const std::string image = platform_.image({"--name", "keep-me", "--datastore", files_datastore(), "--content",
                                                   "a user's data"});
        platform_.vm_template({"--name", taken, "--disk", "IMAGE_ID=" + image});
    }
    const auto templates = platform_names("templates");
    const auto images = platform_names("images");

    const auto result = backup("web", taken);
    EXPECT_EQ(result.exit_status, 6) << result.out << result.err;
    EXPECT_TRUE(contains(log(), "virtual bool HxModuleKevraTemplate::prepare_resource_before_backup(const bool&): "
                                "a template named '" + taken + "' already exists"))
        << log();
    EXPECT_EQ(platform_names("templates"), templates);
    EXPECT_EQ(platform_names("images"), images);
    for (const std::string& call : platform_.calls("onetemplate")) {
        EXPECT_FALSE(contains(call, " clone ") || contains(call, " delete ")) << call;
    }
    EXPECT_FALSE(fs::exists(op_dir_ + "/" + taken));
    EXPECT_TRUE(platform_.calls("hxfd").empty());
}

INSTANTIATE_TEST_SUITE_P(Names, TakenCloneName, ::testing::Values("bk-user", "web"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "web" ? "TheSourceItself" : "AnotherTemplate";
                         });

// An archive name that is not one file name inside the operation directory is
// refused before anything is created; the clean-up never reaches outside the
// operation directory.
struct UnsafeNameCase {
    const char* label;
    const char* archive_name;
    int exit_status;
    const char* logged;
};

class UnsafeArchiveName : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<UnsafeNameCase> {};

// A name that is not a plain file name is refused by the framework before it
// makes the snapshot directory.
TEST_P(UnsafeArchiveName, IsRefusedBeforeAnythingIsCreated)
{
    declare_four_image_template();
    const std::string parent = fs::path(op_dir_).parent_path().string();
    kevra_test::write_file(op_dir_ + "/keep", "operation directory content");
    kevra_test::write_file(parent + "/keep-parent", "outside the operation directory");

    const auto result = backup("web", GetParam().archive_name);
    EXPECT_EQ(result.exit_status, GetParam().exit_status) << result.out << result.err;
    EXPECT_TRUE(contains(log(), GetParam().logged)) << log();
    EXPECT_TRUE(fs::exists(op_dir_ + "/keep"));
    EXPECT_TRUE(fs::exists(parent + "/keep-parent"));
    // No snapshot directory was made for the name, inside the operation directory or out of it.
    EXPECT_FALSE(fs::exists(op_dir_ + "/" + GetParam().archive_name + ".snap_dir"));
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    for (const std::string& call : platform_.calls("onetemplate")) {
        EXPECT_FALSE(contains(call, " clone ") || contains(call, " delete ")) << call;
    }
    EXPECT_TRUE(platform_.calls("hxfd").empty());
}

const char kNotPlain[] = "Backup module: the archive name must be a plain file name: ";

INSTANTIATE_TEST_SUITE_P(Names, UnsafeArchiveName,
                         ::testing::Values(UnsafeNameCase{"Parent", "..", 5, kNotPlain},
                                           UnsafeNameCase{"Itself", ".", 5, kNotPlain},
                                           UnsafeNameCase{"WithSlash", "sub/bk1", 5, kNotPlain},
                                           UnsafeNameCase{"OutOfTheDirectory", "../escape", 5, kNotPlain}),
                         [](const ::testing::TestParamInfo<UnsafeNameCase>& info) {
                             return std::string(info.param.label);
                         });

// Two images whose stems are equal would overwrite each other in the archive:
// the backup fails before the engine runs.
class SameStem : public kevra_e2e::TemplateBackupTest {};

TEST_F(SameStem, ImagesWithTheSameStemFailBeforeTheEngineRuns)
{
    const std::string files = files_datastore();
    const std::string a = platform_.image({"--name", "a", "--datastore", files, "--prefix", "vd", "--content", "A"});
    const std::string b = platform_.image({"--name", "da", "--datastore", files, "--prefix", "v", "--content", "B"});
    platform_.vm_template({"--name", "twins", "--disk", "IMAGE_ID=" + a, "--disk", "IMAGE_ID=" + b});

    const auto result = backup("twins", "bk1", {"-e", "backup_only_config:yes"});
    EXPECT_EQ(result.exit_status, 6) << result.out << result.err;
    EXPECT_TRUE(contains(log(), "would have the same name in the archive: vda.xml")) << log();
    EXPECT_TRUE(platform_.calls("hxfd").empty());
    expect_nothing_left("bk1");
    EXPECT_EQ(platform_names("images"), (std::vector<std::string>{"a", "da"}));
}

}  // namespace
