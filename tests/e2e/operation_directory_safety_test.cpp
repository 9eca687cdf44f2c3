// The operation directory and another local user (intruder, uid 4242), run in
// the sandbox. A run works only in an operation directory that no other user
// can change (it and every directory above it root's, writable by no one else
// unless sticky): otherwise it ends with its failure status before anything is
// made or sent to the platform. In a sticky directory the user can make
// directories under the run's names: those are refused and left as they are.
// The run's own directories are private (0700), so what the user tries while
// the engine runs fails. A root-only decoy keeps its owner, mode and content.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::state_of;
namespace fs = boost::filesystem;

const uid_t kIntruder = 4242;
const char kOperationAdvice[] =
    "; the operation directory and every directory above it must be owned by root and writable by no other user, "
    "unless it has the sticky bit";
const char kReplicaAdvice[] =
    "; a replica is applied only in a directory that the run makes new; remove what stands there";
const char kReusedAdvice[] =
    "; a directory the run reuses must be owned by root and give no other user any access (mode 0700); it is left "
    "as it is";

// A new directory `path` of `uid` with exactly `mode`.
void make_directory(const std::string& path, mode_t mode, uid_t uid = 0)
{
    fs::create_directories(path);
    ASSERT_EQ(::chown(path.c_str(), uid, uid), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

enum class Operation { backup, incremental, restore, replica };

class OperationDirectorySafety : public kevra_e2e::TemplateRestoreTest {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // A root-only host directory with a root-only file in it.
        decoy_ = kevra_test::scratch_dir("decoy");
        ::chmod(decoy_.c_str(), 0700);
        kevra_test::write_file(decoy_ + "/template.xml", "root only host file\n");
        ::chmod((decoy_ + "/template.xml").c_str(), 0600);
        decoy_state_ = state_of(decoy_);
    }

    // The template, and a backup (a replica for `replica`) of it kept aside.
    void prepare(Operation operation)
    {
        if (operation == Operation::replica) {
            // A replica carries no Ceph image: one FILE image.
            const std::string os = platform_.image(
                {"--name", "web-os", "--datastore", files_datastore(), "--prefix", "vd", "--content", "os bytes"});
            platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os});
        } else {
            declare_four_image_template();
        }
        back_up("web", "bk1", operation == Operation::replica);
        templates_ = platform_names("templates");
        images_ = platform_names("images");
    }

    // The arguments that run `operation` in `directory` (after a copy of
    // the snapshot file is put there where the run needs one).
    std::vector<std::string> line(Operation operation, const std::string& directory)
    {
        switch (operation) {
        case Operation::backup:
            return {"-1", "-b", "web", "-d", directory, "-n", "bk2", "-m", kServer, "-T", kTask};
        case Operation::incremental: {
            const std::string reference = directory + "/ref.snap";
            fs::copy_file(saved_snapshot_, reference, fs::copy_options::overwrite_existing);
            return {"-2", "-b", "web", "-d", directory, "-n", "bk2", "-m", kServer, "-T", kTask, "-s", reference};
        }
        case Operation::restore:
            restore_dir_ = directory;
            return restore_arguments();
        default: {
            const std::string copy = directory + "/bk1.snap";
            fs::copy_file(saved_snapshot_, copy, fs::copy_options::overwrite_existing);
            return {"-R", kRecord, "-d", directory, "-m", kServer, "-T", kTask, "-M", copy, "-e", "new_name:copy"};
        }
        }
    }

    // Runs `command` as the other local user; its exit status.
    int as_intruder(const std::string& command) const
    {
        return platform_
            .shell("setpriv --reuid=4242 --regid=4242 --clear-groups /bin/sh -c '" + command + "'")
            .exit_status;
    }

    // What the user's hook runs left, "" when they never ran.
    std::string user_log() const
    {
        return kevra_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log");
    }

    // Nothing was made on the platform or sent to the engine since prepare().
    void expect_platform_untouched() const
    {
        EXPECT_EQ(engine_calls(), 0u);
        EXPECT_EQ(platform_names("templates"), templates_);
        EXPECT_EQ(platform_names("images"), images_);
        for (const std::string& call : platform_.calls("all")) {
            EXPECT_FALSE(contains(call, " clone ") || contains(call, " create ") || contains(call, " chown "))
                << call;
        }
        EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
    }

    std::string decoy_;
    std::string decoy_state_;
    std::vector<std::string> templates_;
    std::vector<std::string> images_;
};

// --- an operation directory that another user can change ---------------------

struct UnsafeCase {
    const char* label;
    Operation operation;
    // Makes the operation directory below `base`; returns it, and sets the
    // directory that is refused and why.
    std::function<std::string(const std::string& base, std::string& refused, std::string& why)> make;
};

void PrintTo(const UnsafeCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string writable_by_all(const std::string& base, std::string& refused, std::string& why)
{
    refused = base + "/op";
    why = " is writable by other users and has no sticky bit";
    make_directory(refused, 0777);
    return refused;
}

std::string below_writable_parent(const std::string& base, std::string& refused, std::string& why)
{
    refused = base + "/open";
    why = " is writable by other users and has no sticky bit";
    make_directory(refused, 0777);
    make_directory(refused + "/op", 0755);
    return refused + "/op";
}

std::string owned_by_the_user(const std::string& base, std::string& refused, std::string& why)
{
    refused = base + "/op";
    why = " is owned by uid 4242, not by root";
    make_directory(refused, 0755, kIntruder);
    return refused;
}

std::string writable_by_its_group(const std::string& base, std::string& refused, std::string& why)
{
    refused = base + "/op";
    why = " is writable by its group and has no sticky bit";
    make_directory(refused, 0775);
    return refused;
}

const UnsafeCase kUnsafeCases[] = {
    {"BackupWritableByAll", Operation::backup, writable_by_all},
    {"IncrementalBackupWritableByAll", Operation::incremental, writable_by_all},
    {"RestoreWritableByAll", Operation::restore, writable_by_all},
    {"ReplicaApplyWritableByAll", Operation::replica, writable_by_all},
    {"BackupBelowAParentWritableByAll", Operation::backup, below_writable_parent},
    {"RestoreBelowAParentWritableByAll", Operation::restore, below_writable_parent},
    {"BackupOwnedByTheUser", Operation::backup, owned_by_the_user},
    {"ReplicaApplyOwnedByTheUser", Operation::replica, owned_by_the_user},
    {"RestoreWritableByItsGroup", Operation::restore, writable_by_its_group},
};

class UnsafeOperationDirectory : public OperationDirectorySafety, public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeOperationDirectory, IsRefusedBeforeAnythingIsMade)
{
    const UnsafeCase& c = GetParam();
    prepare(c.operation);
    const std::string base = kevra_test::scratch_dir(std::string("unsafe-") + c.label);
    std::string refused;
    std::string why;
    const std::string directory = c.make(base, refused, why);
    const std::vector<std::string> args = line(c.operation, directory);
    // The swaps of a user who can rename entries there, at the moments they
    // would matter: after the clone, and when the engine starts. Never reached.
    const std::string swap = "mv " + directory + "/bk2 " + directory + "/x; ln -s " + decoy_ + " " + directory +
                             "/bk2; mv " + directory + "/42.rest " + directory + "/y; ln -s " + decoy_ + " " +
                             directory + "/42.rest";
    platform_.fixture({"fault", "onetemplate", "clone", "--as-user", "intruder", "--run", swap, "--after"});
    platform_.fixture({"fault", "hxfd", "--as-user", "intruder", "--run", swap});
    platform_.fixture({"calls", "all", "--clear"});
    const std::string before = state_of(base);

    const auto result = run_module(args);
    const int status = c.operation == Operation::backup || c.operation == Operation::incremental ? 6 : 7;
    EXPECT_EQ(result.exit_status, status) << result.out << result.err << log();
    std::string record;
    switch (c.operation) {
    case Operation::backup:
    case Operation::incremental: record = "Backup module: the operation directory can't be used: "; break;
    default:
        record = "virtual int HxModuleUniversal::define_restore_directory(): can't use the operation directory ";
    }
    record += refused + why + kOperationAdvice;
    EXPECT_TRUE(contains(log(), record)) << "expected record: " << record << "\nlog:\n" << log();
    EXPECT_FALSE(contains(result.out, "MAIN ARCHIVE FILENAME:"));
    EXPECT_EQ(state_of(base), before) << "a refused run makes, removes and changes nothing there";
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    EXPECT_EQ(user_log(), "") << "the moments of the swaps never came";
    expect_platform_untouched();
}

INSTANTIATE_TEST_SUITE_P(Cases, UnsafeOperationDirectory, ::testing::ValuesIn(kUnsafeCases),
                         [](const ::testing::TestParamInfo<UnsafeCase>& info) { return info.param.label; });

// --- a sticky operation directory with directories under the run's names ------

struct MadeBeforehandCase {
    const char* label;
    Operation operation;
    const char* name;        // the directory made there beforehand, below the operation directory
    bool by_the_user;        // made by the other user (else by root, with `mode`)
    mode_t mode;
    int status;
    const char* record;      // the record, up to the directory's path
    const char* why;         // after the path
    const char* advice;
};

void PrintTo(const MadeBeforehandCase& c, std::ostream* out)
{
    *out << c.label;
}

const char kUnpackRecord[] = "int HxModuleUniversal::unpack_snapshot_file(const std::string&): can't unpack into ";

const MadeBeforehandCase kMadeBeforehandCases[] = {
    {"BackupSnapshotDirectory", Operation::backup, "bk2.snap_dir", true, 0, 6,
     "Backup module: the snapshot directory can't be used: ", " is owned by uid 4242, not by root", kReusedAdvice},
    {"BackupLeveldbDirectoryWritableByAll", Operation::backup, "bk2.snap_dir/leveldb", false, 0777, 6,
     "Backup module: the leveldb directory can't be used: ", " is writable by other users", kReusedAdvice},
    {"BackupStagingDirectory", Operation::backup, "bk2", true, 0, 6, ": can't clear an earlier archive directory: ",
     " is owned by uid 4242, not by root", kReusedAdvice},
    {"IncrementalReferenceSnapshotFolder", Operation::incremental, "ref.snap_dir", true, 0, 2, kUnpackRecord,
     " is owned by uid 4242, not by root", kReusedAdvice},
    {"RestoreDirectory", Operation::restore, "42.rest", true, 0, 7,
     "virtual int HxModuleUniversal::define_restore_directory(): can't use the restore directory ",
     " is owned by uid 4242, not by root", kReusedAdvice},
    {"RestoreDirectoryWritableByAll", Operation::restore, "42.rest", false, 0777, 7,
     "virtual int HxModuleUniversal::define_restore_directory(): can't use the restore directory ",
     " is writable by other users", kReusedAdvice},
    {"BackupSnapshotDirectoryListableByAll", Operation::backup, "bk2.snap_dir", false, 0755, 6,
     "Backup module: the snapshot directory can't be used: ", " can be listed by other users", kReusedAdvice},
    {"RestoreDirectoryListableByAll", Operation::restore, "42.rest", false, 0755, 7,
     "virtual int HxModuleUniversal::define_restore_directory(): can't use the restore directory ",
     " can be listed by other users", kReusedAdvice},
    {"IncrementalReferenceSnapshotFolderEnterableByItsGroup", Operation::incremental, "ref.snap_dir", false, 0710, 2,
     kUnpackRecord, " can be entered by its group", kReusedAdvice},
    {"ReplicaDirectory", Operation::replica, "42.rest", true, 0, 7,
     "virtual int HxModuleUniversal::define_restore_directory(): can't use the replica directory ",
     ": something already stands there", kReplicaAdvice},
    {"ReplicaDirectoryOfRoot", Operation::replica, "42.rest", false, 0777, 7,
     "virtual int HxModuleUniversal::define_restore_directory(): can't use the replica directory ",
     ": something already stands there", kReplicaAdvice},
};

class DirectoryMadeBeforehand : public OperationDirectorySafety,
                                public ::testing::WithParamInterface<MadeBeforehandCase> {};

TEST_P(DirectoryMadeBeforehand, IsRefusedAndLeftAsItIs)
{
    const MadeBeforehandCase& c = GetParam();
    prepare(c.operation);
    const std::string directory = kevra_test::scratch_dir(std::string("sticky-") + c.label);
    make_directory(directory, 01777);
    const std::vector<std::string> args = line(c.operation, directory);
    const std::string made = directory + "/" + c.name;
    if (c.by_the_user) {
        // The user's own template in it, as the platform would get it.
        ASSERT_EQ(as_intruder("mkdir " + made + " && echo START_SCRIPT=user > " + made + "/template.xml"), 0);
    } else {
        make_directory(fs::path(made).parent_path().string(), 0700);
        make_directory(made, c.mode);
    }
    platform_.fixture({"calls", "all", "--clear"});
    const std::string before = state_of(directory);

    const auto result = run_module(args);
    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err << log();
    const std::string record = c.record + made + c.why + c.advice;
    EXPECT_TRUE(contains(log(), record)) << "expected record: " << record << "\nlog:\n" << log();
    if (c.status == 2) {
        EXPECT_TRUE(contains(log(), "Unable to unpack")) << log();
    }
    EXPECT_EQ(state_of(directory), before) << "the directory made beforehand, and all else there, stays as it was";
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    expect_platform_untouched();
}

INSTANTIATE_TEST_SUITE_P(Cases, DirectoryMadeBeforehand, ::testing::ValuesIn(kMadeBeforehandCases),
                         [](const ::testing::TestParamInfo<MadeBeforehandCase>& info) { return info.param.label; });

// --- what the user can do while a run works in a sticky directory -------------

TEST_F(OperationDirectorySafety, TheUsersLinkAtTheMetaFileFailsWhenTheEngineStarts)
{
    declare_four_image_template();
    const std::string directory = kevra_test::scratch_dir("sticky-op");
    make_directory(directory, 01777);
    op_dir_ = directory;
    const std::string meta = directory + "/bk1.snap_dir/bk1.meta";
    platform_.fixture({"fault", "hxfd", "backup", "--as-user", "intruder", "--run",
                       "ln -s " + decoy_ + "/template.xml " + meta + "; ls " + directory + "/bk1"});

    const auto result = backup("web", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();
    const std::string attempt = user_log();
    EXPECT_EQ(attempt.rfind("hxfd backup before exit ", 0), 0u) << attempt;
    EXPECT_FALSE(contains(attempt, "exit 0")) << attempt;
    EXPECT_TRUE(contains(attempt, "ln: failed to create symbolic link '" + meta + "': Permission denied")) << attempt;
    EXPECT_TRUE(contains(attempt, "ls: cannot open directory '" + directory + "/bk1': Permission denied")) << attempt;
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    EXPECT_NE(std::find(snapshot_members("bk1").begin(), snapshot_members("bk1").end(), "bk1.meta"),
              snapshot_members("bk1").end());
    EXPECT_EQ(store_entry("bk1", "vd-disk-0"), "operating system bytes\n");
    expect_nothing_left("bk1");
}

// --- a sticky /tmp-like directory above the operation directory ---------------

struct StickyParentCase {
    const char* label;
    bool exists;  // the operation directory stands there (root, 0755) or the run makes it
};

class BelowAStickyDirectory : public OperationDirectorySafety, public ::testing::WithParamInterface<StickyParentCase> {
};

TEST_P(BelowAStickyDirectory, BackupAndRestoreSucceedInPrivateDirectories)
{
    declare_four_image_template();
    const std::string sticky = kevra_test::scratch_dir(std::string("tmp-like-") + GetParam().label);
    make_directory(sticky, 01777);
    op_dir_ = sticky + "/op";
    const std::string restore_directory = sticky + "/restore";
    if (GetParam().exists) {
        make_directory(op_dir_, 0755);
        make_directory(restore_directory, 0755);
    } else {
        fs::remove_all(op_dir_);
    }
    // While the engine runs, root looks at the modes of the run's directories.
    platform_.fixture({"fault", "hxfd", "backup", "--as-user", "root", "--run",
                       "cd " + op_dir_ + " && stat -c \"%a %U %n\" bk1 bk1.snap_dir bk1.snap_dir/leveldb"});
    platform_.fixture({"fault", "hxfd", "restore", "--as-user", "root", "--run",
                       "cd " + restore_directory + " && stat -c \"%a %U %n\" 42.rest 42.rest/bk1.snap_dir"});

    const auto backed_up = backup("web", "bk1");
    ASSERT_EQ(backed_up.exit_status, 0) << backed_up.out << backed_up.err << log();
    struct stat status {};
    ASSERT_EQ(::lstat(op_dir_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, GetParam().exists ? 0755u : 0700u);
    EXPECT_EQ(status.st_uid, 0u);
    expect_nothing_left("bk1");

    archive_ = "bk1";
    saved_snapshot_ = kevra_test::scratch_dir("saved") + "/bk1.snap";
    fs::copy_file(op_dir_ + "/bk1.snap", saved_snapshot_, fs::copy_options::overwrite_existing);
    if (!GetParam().exists) {
        fs::remove_all(restore_directory);
        restore_dir_ = sticky;  // the snapshot copy goes beside the missing directory
    } else {
        restore_dir_ = restore_directory;
    }
    std::vector<std::string> args = restore_arguments("last:true,new_name:back");
    args[3] = restore_directory;
    const auto restored = run_module(args);
    ASSERT_EQ(restored.exit_status, 0) << restored.out << restored.err << log();
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"back", "web"}));
    ASSERT_EQ(::lstat(restore_directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, GetParam().exists ? 0755u : 0700u);
    EXPECT_FALSE(fs::exists(restore_directory + "/42.rest"));

    EXPECT_EQ(user_log(), "hxfd backup before exit 0\n700 root bk1\n700 root bk1.snap_dir\n700 root "
                          "bk1.snap_dir/leveldb\nhxfd restore before exit 0\n700 root 42.rest\n700 root "
                          "42.rest/bk1.snap_dir\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, BelowAStickyDirectory,
                         ::testing::Values(StickyParentCase{"ExistingDirectory", true},
                                           StickyParentCase{"MissingDirectory", false}),
                         [](const ::testing::TestParamInfo<StickyParentCase>& info) { return info.param.label; });

}  // namespace
