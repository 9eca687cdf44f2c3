// The files the archive engine writes by path in the operation directory (the
// archive of an autonomous backup, the signature), run in the sandbox with
// another local user (intruder, uid 4242) and the engine stand-in: the run
// makes each new, root's with mode 0600, before the engine starts. Whatever
// stands under such a name beforehand is refused (status 6, a record naming
// the path, no engine started) and left as it is; what the user tries while
// the engine runs fails; and a file that is no longer the one the run made
// after the engine ended is not reported as the backup's. A snapshot file
// unpacked for an incremental backup lands in a folder that stays 0700 and
// root's whatever its "./" entry says.
#include "tests/modules/engine_test_backup.h"
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"
#include "tests/support/access_acl.h"
#include "tests/support/argv.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"

namespace {

namespace fs = boost::filesystem;
using engine_test::BackupRun;
using engine_test::EngineTestModule;
using kevra_e2e::contains;
using kevra_e2e::state_of;
using ::testing::HasSubstr;
using ::testing::Not;

const char kMadeFilesAdvice[] =
    "; the run makes the files the archive engine writes itself, and uses nothing that stands under their names";
const char kNotReported[] = "bool HxModuleUniversal::close_backup(const bool&): the archive engine's file is not "
                            "reported: ";

// Owner and mode of `path` (not followed) as "<uid> <mode in octal>", "" when missing.
std::string owner_and_mode(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return "";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return std::to_string(status.st_uid) + " " + mode + (S_ISREG(status.st_mode) ? "" : " not a file");
}

// A backup by a small module over the real framework, in an operation
// directory of root's with `mode`: one data file in the engine file list.
class EngineOutputFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("KEVRA_SANDBOX_ROOT") == nullptr) {
            return;
        }
        root_ = kevra_test::scratch_dir("engine-outputs");
        op_ = root_ + "/op";
        fs::create_directories(op_);
        data_ = root_ + "/data";
        kevra_test::write_file(data_, "disk bytes\n");
        decoy_ = root_ + "/decoy";
        kevra_test::write_file(decoy_, "root only host file\n");
        ::chmod(decoy_.c_str(), 0600);
        decoy_state_ = state_of(decoy_);
        module_->prepare = [this](EngineTestModule& m) {
            m.opts().resource_list_file = op_ + "/engine list";
            return m.add_to_hxfd_list_file(m.opts().resource_list_file, {{data_, "vda-disk"}}, false);
        };
    }

    void operation_directory_mode(mode_t mode) const { ASSERT_EQ(::chmod(op_.c_str(), mode), 0); }

    BackupRun backup(std::vector<std::string> args) { return engine_test::run_backup(*module_, std::move(args)); }

    std::vector<std::string> autonomous_args(bool dgst = true) const
    {
        std::vector<std::string> args = {"--backup", "7", "--full", "--autonomous", "-d", op_, "-n", "arch1"};
        if (dgst) {
            args.push_back("--dgst");
        }
        return args;
    }

    std::vector<std::string> server_args() const
    {
        return {"--backup", "7", "--full", "-d", op_, "-n", "arch1", "-m", "ms1", "-T", "T1", "--dgst"};
    }

    // Runs `command` as the other local user; its exit status.
    int as_intruder(const std::string& command) const
    {
        return platform_.shell("setpriv --reuid=4242 --regid=4242 --clear-groups /bin/sh -c '" + command + "'")
            .exit_status;
    }

    // What the hook's runs left, "" when they never ran.
    static std::string user_log()
    {
        return kevra_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log");
    }

    std::string archive() const { return op_ + "/arch1.hxfd"; }
    std::string signature() const { return archive() + ".signature"; }

    engine_test::LogCapture log_;
    kevra_test::Platform platform_;
    std::unique_ptr<EngineTestModule> module_ = std::make_unique<EngineTestModule>();
    std::string root_, op_, data_, decoy_, decoy_state_;
};

// --- something standing under a name the engine writes -----------------------

struct PlantCase {
    const char* label;
    bool autonomous;
    const char* name;     // below the operation directory
    const char* what;     // "Backup module: <what> can't be made new: "
    const char* stands;   // "<path>: <stands> already stands there"
    // Puts it there.
    std::function<void(EngineOutputFiles&, const std::string& path)> plant;
};

void PrintTo(const PlantCase& c, std::ostream* out)
{
    *out << c.label;
}

class PlantedEngineOutput : public EngineOutputFiles, public ::testing::WithParamInterface<PlantCase> {
public:
    int intruder(const std::string& command) const { return as_intruder(command); }
    const std::string& decoy() const { return decoy_; }
};

const PlantCase kPlantCases[] = {
    {"ArchiveFileOfTheUser", true, "arch1.hxfd", "the archive file", "a file of uid 4242",
     [](EngineOutputFiles& t, const std::string& path) {
         EXPECT_EQ(static_cast<PlantedEngineOutput&>(t).intruder("echo their bytes > " + path), 0);
     }},
    {"ArchiveLinkToARootOnlyFile", true, "arch1.hxfd", "the archive file", "a symbolic link",
     [](EngineOutputFiles& t, const std::string& path) {
         auto& p = static_cast<PlantedEngineOutput&>(t);
         EXPECT_EQ(p.intruder("ln -s " + p.decoy() + " " + path), 0);
     }},
    {"ArchiveDanglingLink", true, "arch1.hxfd", "the archive file", "a symbolic link",
     [](EngineOutputFiles& t, const std::string& path) {
         auto& p = static_cast<PlantedEngineOutput&>(t);
         EXPECT_EQ(p.intruder("ln -s " + p.decoy() + ".new " + path), 0);
     }},
    {"ArchiveFifo", true, "arch1.hxfd", "the archive file", "a FIFO",
     [](EngineOutputFiles& t, const std::string& path) {
         EXPECT_EQ(static_cast<PlantedEngineOutput&>(t).intruder("mkfifo " + path), 0);
     }},
    {"ArchiveHardLinkToARootOnlyFile", true, "arch1.hxfd", "the archive file", "a file with more than one link",
     [](EngineOutputFiles& t, const std::string& path) {
         EXPECT_EQ(::link(static_cast<PlantedEngineOutput&>(t).decoy().c_str(), path.c_str()), 0);
     }},
    {"ArchiveFileOfAnEarlierRun", true, "arch1.hxfd", "the archive file", "a file",
     [](EngineOutputFiles&, const std::string& path) { kevra_test::write_file(path, "an earlier archive\n"); }},
    {"SignatureLinkToARootOnlyFile", true, "arch1.hxfd.signature", "the signature file", "a symbolic link",
     [](EngineOutputFiles& t, const std::string& path) {
         auto& p = static_cast<PlantedEngineOutput&>(t);
         EXPECT_EQ(p.intruder("ln -s " + p.decoy() + " " + path), 0);
     }},
    {"ServerSignatureFileOfTheUser", false, "arch1.signature", "the signature file", "a file of uid 4242",
     [](EngineOutputFiles& t, const std::string& path) {
         EXPECT_EQ(static_cast<PlantedEngineOutput&>(t).intruder("echo their signature > " + path), 0);
     }},
    {"ServerSignatureFifo", false, "arch1.signature", "the signature file", "a FIFO",
     [](EngineOutputFiles& t, const std::string& path) {
         EXPECT_EQ(static_cast<PlantedEngineOutput&>(t).intruder("mkfifo " + path), 0);
     }},
};

TEST_P(PlantedEngineOutput, IsRefusedBeforeTheEngineStarts)
{
    KEVRA_REQUIRE_SANDBOX();
    const PlantCase& c = GetParam();
    platform_.fixture({"task-secret", "T1"});
    operation_directory_mode(01777);
    const std::string path = op_ + "/" + c.name;
    c.plant(*this, path);
    const std::string planted = state_of(path);

    const BackupRun run = backup(c.autonomous ? autonomous_args() : server_args());
    EXPECT_EQ(run.status, 6u) << run.out << log_.text();
    const std::string record =
        std::string("Backup module: ") + c.what + " can't be made new: " + path + ": " + c.stands +
        " already stands there" + kMadeFilesAdvice;
    EXPECT_THAT(log_.text(), HasSubstr(record));
    EXPECT_TRUE(platform_.calls("hxfd").empty()) << "no engine started";
    EXPECT_TRUE(module_->calls.empty()) << "nothing prepared";
    EXPECT_THAT(run.out, Not(HasSubstr("MAIN ARCHIVE FILENAME:")));
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    EXPECT_EQ(state_of(path), planted) << "what stands there is left as it is";
    // An archive file made before the signature was refused goes again.
    if (std::string(c.name) != "arch1.hxfd") {
        EXPECT_FALSE(fs::exists(fs::symlink_status(archive())));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedEngineOutput, ::testing::ValuesIn(kPlantCases),
                         [](const ::testing::TestParamInfo<PlantCase>& info) { return info.param.label; });

// --- a normal backup: the run's files, private ---------------------------------

struct WorkingCase {
    const char* label;
    bool autonomous;
    mode_t directory_mode;
};

void PrintTo(const WorkingCase& c, std::ostream* out)
{
    *out << c.label;
}

class EngineOutputsOfABackup : public EngineOutputFiles, public ::testing::WithParamInterface<WorkingCase> {};

TEST_P(EngineOutputsOfABackup, AreRootsAloneAndReported)
{
    KEVRA_REQUIRE_SANDBOX();
    const WorkingCase& c = GetParam();
    platform_.fixture({"task-secret", "T1"});
    operation_directory_mode(c.directory_mode);
    // While the engine runs the other user tries to read the files and to put
    // their own in their place; root looks at them once the engine is done.
    const std::string sign = c.autonomous ? signature() : op_ + "/arch1.signature";
    const std::string main = c.autonomous ? archive() : sign;
    platform_.fixture({"fault", "hxfd", "backup", "--as-user", "intruder", "--run",
                       "cat " + main + "; mv " + main + " " + op_ + "/mine; rm -f " + sign + "; ln -sf " + decoy_ +
                           " " + main});

    const BackupRun run = backup(c.autonomous ? autonomous_args() : server_args());
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();
    const std::string snapshot = op_ + "/arch1.snap";
    const std::string reported = c.autonomous ? archive() : snapshot;
    EXPECT_THAT(run.out, HasSubstr("MAIN ARCHIVE FILENAME:" + reported + "\nMAIN SNAPSHOT FILENAME:" + snapshot +
                                   "\nMAIN ARCHIVE SIGN FILENAME:" + sign + "\n"));
    if (c.autonomous) {
        EXPECT_EQ(owner_and_mode(archive()), "0 0600");
        EXPECT_EQ(kevra_test::Platform().shell("/bin/tar tf '" + archive() + "'").out,
                  ".hxfd-index.json\nvda-disk\n");
    }
    EXPECT_EQ(owner_and_mode(sign), "0 0600");
    EXPECT_EQ(kevra_test::read_file(sign).size(), 65u) << "the engine's digest and a line end";
    EXPECT_EQ(owner_and_mode(snapshot), "0 0600");
    EXPECT_FALSE(fs::exists(fs::symlink_status(op_ + "/mine")));
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    const std::string attempt = user_log();
    EXPECT_EQ(attempt.rfind("hxfd backup before exit ", 0), 0u) << attempt;
    EXPECT_THAT(attempt, HasSubstr("cat: " + main + ": Permission denied")) << attempt;
    EXPECT_THAT(attempt, Not(HasSubstr("exit 0\n"))) << attempt;
    EXPECT_TRUE(platform_.shell("ls -A '" + op_ + "'").out.find(".new.") == std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineOutputsOfABackup,
                         ::testing::Values(WorkingCase{"AutonomousInAStickyDirectory", true, 01777},
                                           WorkingCase{"AutonomousInARootDirectory", true, 0755},
                                           WorkingCase{"ServerSignatureInAStickyDirectory", false, 01777},
                                           WorkingCase{"ServerSignatureInARootDirectory", false, 0755}),
                         [](const ::testing::TestParamInfo<WorkingCase>& info) { return info.param.label; });

// --- the file is no longer the run's own after the engine ----------------------

struct ChangedCase {
    const char* label;
    const char* change;    // run as root when the engine is done; ARCHIVE and DECOY stand for the paths
    const char* problem;   // after the archive's path
};

void PrintTo(const ChangedCase& c, std::ostream* out)
{
    *out << c.label;
}

class ChangedEngineOutput : public EngineOutputFiles, public ::testing::WithParamInterface<ChangedCase> {};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::string::size_type at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

const ChangedCase kChangedCases[] = {
    {"SwappedForALink", "mv ARCHIVE ARCHIVE.moved && ln -s DECOY ARCHIVE",
     " is no longer the file the run made there: a symbolic link stands there"},
    {"ReplacedByAnotherFile", "echo other > ARCHIVE.other && mv ARCHIVE.other ARCHIVE",
     " is no longer the file the run made there: a file stands there"},
    {"MadeReadableByAll", "chmod 0644 ARCHIVE", " is no longer private: it has mode 0644, not 0600"},
    {"GivenToTheUser", "chown 4242 ARCHIVE", " is no longer the run's own: it is owned by uid 4242"},
    {"Removed", "rm ARCHIVE", " is no longer there"},
};

TEST_P(ChangedEngineOutput, IsNotReportedAsTheArchive)
{
    KEVRA_REQUIRE_SANDBOX();
    const ChangedCase& c = GetParam();
    operation_directory_mode(01777);
    const std::string change = replaced(replaced(c.change, "ARCHIVE", archive()), "DECOY", decoy_);
    platform_.fixture({"fault", "hxfd", "backup", "--as-user", "root", "--run", change, "--after"});

    const BackupRun run = backup(autonomous_args(false));
    EXPECT_EQ(run.status, 6u) << run.out << log_.text();
    EXPECT_THAT(log_.text(), HasSubstr(kNotReported + archive() + c.problem));
    EXPECT_THAT(run.out, Not(HasSubstr("MAIN ARCHIVE FILENAME:")));
    EXPECT_EQ(user_log(), "hxfd backup after exit 0\n");
    EXPECT_EQ(state_of(decoy_), decoy_state_);
    EXPECT_FALSE(fs::exists(op_ + "/arch1.snap_dir"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ChangedEngineOutput, ::testing::ValuesIn(kChangedCases),
                         [](const ::testing::TestParamInfo<ChangedCase>& info) { return info.param.label; });

// A failed engine run leaves none of the files the run made for it.
TEST_F(EngineOutputFiles, AFailedEngineRunLeavesNoneOfTheRunsFiles)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"fault", "hxfd", "backup", "--exit", "1", "--stderr", "disk failure"});
    const BackupRun run = backup(autonomous_args());
    EXPECT_EQ(run.status, 6u) << run.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(archive())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(signature())));
    EXPECT_FALSE(fs::exists(op_ + "/arch1.snap_dir"));
}

// --- directories refused, and why in plain words --------------------------------

struct RefusedCase {
    const char* label;
    // Makes the directory; returns the operation directory the backup is given.
    std::function<std::string(EngineOutputFiles&, const std::string& op)> make;
    const char* record;  // with OP for the operation directory
};

void PrintTo(const RefusedCase& c, std::ostream* out)
{
    *out << c.label;
}

class RefusedDirectory : public EngineOutputFiles, public ::testing::WithParamInterface<RefusedCase> {};

// Gives `path` an access control list entry for the other user, or skips the test.
bool acl_for_the_user(const std::string& path, std::uint16_t perm)
{
    if (kevra_test::give_acl_entry(path, 4242, perm)) {
        return true;
    }
    ADD_FAILURE() << "the sandbox's file system keeps no access control lists: " << std::strerror(errno);
    return false;
}

const char kReusedAdvice[] =
    "; a directory the run reuses must be owned by root and give no other user any access (mode 0700); it is left "
    "as it is";

const RefusedCase kRefusedCases[] = {
    {"SnapshotDirectoryWithAnAclForTheUser",
     [](EngineOutputFiles&, const std::string& op) {
         fs::create_directories(op + "/arch1.snap_dir");
         ::chmod((op + "/arch1.snap_dir").c_str(), 0700);
         acl_for_the_user(op + "/arch1.snap_dir", 5);
         return op;
     },
     "Backup module: the snapshot directory can't be used: OP/arch1.snap_dir has an access control list that gives "
     "other users access"},
    {"SnapshotDirectoryOfAnEarlierRunListableByAll",
     [](EngineOutputFiles&, const std::string& op) {
         fs::create_directories(op + "/arch1.snap_dir");
         ::chmod((op + "/arch1.snap_dir").c_str(), 0755);
         return op;
     },
     "Backup module: the snapshot directory can't be used: OP/arch1.snap_dir can be listed by other users"},
    {"OperationDirectoryWithAnAclLettingTheUserWrite",
     [](EngineOutputFiles&, const std::string& op) {
         ::chmod(op.c_str(), 0755);
         acl_for_the_user(op, 7);
         return op;
     },
     "Backup module: the operation directory can't be used: OP has an access control list that lets other users "
     "write to it and has no sticky bit; the operation directory and every directory above it must be owned by "
     "root and writable by no other user, unless it has the sticky bit"},
    {"OperationDirectoryGivenAsALink",
     [](EngineOutputFiles&, const std::string& op) {
         fs::create_symlink(op, op + "-link");
         return op + "-link";
     },
     "Backup module: the operation directory can't be used: OP-link: a symbolic link stands there; give the "
     "operation directory by its real path, not through a symbolic link"},
};

TEST_P(RefusedDirectory, SaysWhyAndStartsNoEngine)
{
    KEVRA_REQUIRE_SANDBOX();
    const RefusedCase& c = GetParam();
    const std::string given = c.make(*this, op_);
    const std::string before = state_of(op_);

    std::vector<std::string> args = autonomous_args();
    args[5] = given;
    const BackupRun run = backup(args);
    EXPECT_EQ(run.status, 6u) << run.out << log_.text();
    std::string record = replaced(c.record, "OP", op_);
    if (std::string(c.label).rfind("SnapshotDirectory", 0) == 0) {
        record += kReusedAdvice;
    }
    EXPECT_THAT(log_.text(), HasSubstr(record));
    EXPECT_TRUE(platform_.calls("hxfd").empty());
    EXPECT_EQ(state_of(op_), before) << "the refused directory is left as it is";
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedDirectory, ::testing::ValuesIn(kRefusedCases),
                         [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.label; });

// --- the folder a reference snapshot is unpacked into ---------------------------

struct UnpackCase {
    const char* label;
    mode_t entry_mode;  // of the snapshot file's "./" entry
    uid_t entry_owner;
};

void PrintTo(const UnpackCase& c, std::ostream* out)
{
    *out << c.label;
}

class ReferenceSnapshotFolder : public EngineOutputFiles, public ::testing::WithParamInterface<UnpackCase> {};

TEST_P(ReferenceSnapshotFolder, StaysPrivateWhateverTheSnapshotSays)
{
    KEVRA_REQUIRE_SANDBOX();
    const UnpackCase& c = GetParam();
    operation_directory_mode(01777);
    // A snapshot file whose "./" entry has the case's mode and owner.
    const std::string content = root_ + "/content";
    fs::create_directories(content + "/sub");
    kevra_test::write_file(content + "/base.meta", "meta of an earlier backup\n");
    ::chmod((content + "/base.meta").c_str(), 0666);
    ASSERT_EQ(::chmod((content + "/sub").c_str(), 0777), 0);
    ASSERT_EQ(::chown(content.c_str(), c.entry_owner, c.entry_owner), 0);
    ASSERT_EQ(::chmod(content.c_str(), c.entry_mode), 0);
    const std::string snap = op_ + "/base.snap";
    ASSERT_EQ(platform_.shell("/bin/tar czf '" + snap + "' -C '" + content + "' .").exit_status, 0);
    const std::string folder = op_ + "/base.snap_dir";
    // While the engine runs: root notes the modes of what was unpacked, and
    // the other user tries to list the folder and to write into it.
    platform_.fixture({"fault", "hxfd", "backup", "--as-user", "root", "--run",
                       "cd " + folder + " && stat -c '%a %u %n' . base.meta sub; setpriv --reuid=4242 --regid=4242 "
                       "--clear-groups /bin/sh -c 'ls " + folder + "; touch " + folder + "/theirs'"});

    const BackupRun run = backup({"--backup", "7", "--incr", "-s", snap, "--autonomous", "-d", op_, "-n", "next"});
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();
    EXPECT_THAT(log_.text(), HasSubstr(" -S " + folder + "/base.meta "));
    EXPECT_EQ(user_log(), "hxfd backup before exit 1\n700 0 .\n600 0 base.meta\n700 0 sub\nls: cannot open "
                          "directory '" + folder + "': Permission denied\ntouch: cannot touch '" + folder +
                          "/theirs': Permission denied\n");
    EXPECT_FALSE(fs::exists(folder)) << "removed when the backup is closed";
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceSnapshotFolder,
                         ::testing::Values(UnpackCase{"EntryWritableByAllOfTheUser", 0777, 4242},
                                           UnpackCase{"EntryWritableByAll", 0777, 0},
                                           UnpackCase{"EntryListableByAll", 0755, 0}),
                         [](const ::testing::TestParamInfo<UnpackCase>& info) { return info.param.label; });

}  // namespace
