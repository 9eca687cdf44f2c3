// Operation 9 (backup of one resource) end to end in the sandbox: a small module
// over the real framework stages a data file and its description, the framework
// runs the engine stand-in at /opt/kelvomar/bin/hxfd, packs the snapshot file and
// reports the result files to the agent.
#include "tests/modules/engine_test_backup.h"
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"
#include "tests/support/argv.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using engine_test::BackupRun;
using engine_test::EngineTestModule;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// The entries of a gzip-compressed tar file, sorted.
std::string tar_listing(const std::string& file)
{
    return kevra_test::Platform().shell("/bin/tar tzf '" + file + "' | sort").out;
}

class EngineBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = kevra_test::scratch_dir("engine-backup");
        op_ = root_ + "/op";
        data_ = root_ + "/data";
        fs::create_directories(op_);
        fs::create_directories(data_);
    }

    // The hook of the test module: one data file in the engine file list, and the
    // module's own files in the snapshot directory.
    void stage(const std::string& data_name, const std::string& content)
    {
        data_file_ = data_ + "/" + data_name;
        kevra_test::write_file(data_file_, content);
        module_->prepare = [this](EngineTestModule& m) {
            m.opts().resource_list_file = op_ + "/engine list";
            kevra_test::write_file(m.snapshot_directory_path() + "/template_image_ids_marker", "");
            kevra_test::write_file(m.snapshot_directory_path() + "/vda-disk.xml", "<IMAGE><ID>3</ID></IMAGE>\n");
            return m.add_to_hxfd_list_file(m.opts().resource_list_file, {{data_file_, "vda-disk"}}, false);
        };
    }

    BackupRun backup(std::vector<std::string> args) { return engine_test::run_backup(*module_, std::move(args)); }

    std::vector<std::string> server_args(const std::string& archive = "arch1") const
    {
        return {"--backup", "7", "--full", "-d", op_, "-n", archive, "-m", "ms1", "-T", "T1"};
    }

    void set_fault(const std::vector<std::string>& kind) const
    {
        std::vector<std::string> args = {"fault", "hxfd", "backup", "--times", "1"};
        args.insert(args.end(), kind.begin(), kind.end());
        platform_.fixture(args);
    }

    engine_test::LogCapture log_;
    kevra_test::Platform platform_;
    // A module as the entry point makes it, for one run.
    void fresh_module() { module_ = std::make_unique<EngineTestModule>(); }

    std::unique_ptr<EngineTestModule> module_ = std::make_unique<EngineTestModule>();
    std::string root_, op_, data_, data_file_;
};

TEST_F(EngineBackup, ServerBackupRunsTheEngineAndReportsTheFiles)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"task-secret", "T1"});
    stage("disk.0", "image bytes\n");
    const BackupRun run = backup(server_args());
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();

    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_GE(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines.front(), "MODULE PID:" + std::to_string(::getpid()));
    EXPECT_THAT(lines[1], ::testing::MatchesRegex("HXFD PID: [0-9]+"));
    EXPECT_THAT(run.out, HasSubstr("\nPacked: "));
    const std::string snap = op_ + "/arch1.snap";
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"MAIN ARCHIVE FILENAME:" + snap, "MAIN SNAPSHOT FILENAME:" + snap,
                                        "MAIN ARCHIVE SIGN FILENAME:" + op_ + "/arch1.signature"}));

    // The command line of the backup, byte for byte.
    EXPECT_THAT(log_.text(),
                HasSubstr(":hxfd command: cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c '" + op_ +
                          "/engine list' -x /opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem -z None"
                          " -M ms1 -N arch1 -T T1 -s /opt/kelvomar/var/tasks//task_secret_T1 -m " +
                          op_ + "/arch1.snap_dir/arch1.meta 2>&1"));
    // The snapshot file holds the meta file and the module's files, nothing else.
    EXPECT_EQ(tar_listing(snap), "./\n./arch1.meta\n./template_image_ids_marker\n./vda-disk.xml\n");
    // The engine stored the data under its archive name.
    EXPECT_EQ(platform_.fixture({"archive-files", "arch1"}), "vda-disk\t12");
    EXPECT_FALSE(fs::exists(op_ + "/arch1.snap_dir"));
    EXPECT_EQ(module_->calls, (std::vector<std::string>{"prepare", "release"}));
    EXPECT_EQ(module_->hxfd_pid(), 0);
    // Files made after the engine run get the strict mask.
    struct stat st = {};
    ASSERT_EQ(::stat(snap.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(EngineBackup, AutonomousBackupWithSignatureKeepsTheArchive)
{
    KEVRA_REQUIRE_SANDBOX();
    stage("disk.0", "autonomous bytes");
    const BackupRun run = backup({"--backup", "7", "--full", "--autonomous", "-d", op_, "-n", "arch1", "--dgst"});
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();
    const std::string archive = op_ + "/arch1.hxfd";
    EXPECT_THAT(run.out, HasSubstr("MAIN ARCHIVE FILENAME:" + archive + "\nMAIN SNAPSHOT FILENAME:" + op_ +
                                   "/arch1.snap\nMAIN ARCHIVE SIGN FILENAME:" + archive + ".signature\n"));
    EXPECT_THAT(log_.text(), HasSubstr(" -z None -n " + archive + " -m " + op_ + "/arch1.snap_dir/arch1.meta -g " +
                                       archive + ".signature --passin /opt/kelvomar/keys/master-key --sign "
                                                 "/opt/kelvomar/keys/secret-key.pem 2>&1"));
    EXPECT_TRUE(fs::exists(archive));
    ASSERT_TRUE(fs::exists(archive + ".signature"));
    // The engine wrote them into files the run made, root's alone, whatever
    // the engine-run mask.
    for (const std::string& file : {archive, archive + ".signature"}) {
        struct stat st = {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << file;
        EXPECT_EQ(st.st_uid, 0u) << file;
    }
}

TEST_F(EngineBackup, IncrementalBackupNamesTheReferenceMeta)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"task-secret", "T1"});
    stage("disk.0", "first");
    ASSERT_EQ(backup(server_args("base")).status, 0u) << log_.text();
    const std::string base = op_ + "/base.snap";
    ASSERT_TRUE(fs::exists(base));

    fresh_module();
    stage("disk.0", "second");
    const BackupRun run =
        backup({"--backup", "7", "--incr", "-s", base, "-d", op_, "-n", "next", "-m", "ms1", "-T", "T1"});
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();
    EXPECT_THAT(log_.text(), HasSubstr(" -S " + op_ + "/base.snap_dir/base.meta -z None"));
    EXPECT_FALSE(fs::exists(base)) << "the reference snapshot file is consumed in server mode";
    EXPECT_FALSE(fs::exists(op_ + "/base.snap_dir")) << "the unpacked reference is removed at the end";
    EXPECT_TRUE(fs::exists(op_ + "/next.snap"));
}

struct EngineFault {
    const char* name;
    std::vector<std::string> fault;
    unsigned int status;
    bool reported;      // the MAIN lines are printed
    const char* logged;
};

TEST_F(EngineBackup, ExitStatusFollowsTheEngine)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::vector<EngineFault> faults = {
        {"error flag", {"--exit", "1", "--stderr", "disk failure"}, 6, false, "hxfd finished with an error flag"},
        {"other exit", {"--exit", "2"}, 6, false, "hxfd process exits with 0x2 status."},
        {"incomplete data", {"--exit", "100"}, 100, true, "hxfd finished with a defect flag"},
        // The shell in front of the engine reports its death as status 128 + 11.
        {"killed", {"--signal", "SEGV"}, 6, false, "hxfd process exits with 0x8b status."},
        {"bad pid line", {"--bad-pid", "twelve"}, 6, false, ": stoi"},
    };
    for (const EngineFault& f : faults) {
        SetUp();
        platform_.fixture({"task-secret", "T1"});
        fresh_module();
        stage("disk.0", "bytes");
        set_fault(f.fault);
        const BackupRun run = backup(server_args(std::string("arch-") + std::to_string(&f - faults.data())));
        EXPECT_EQ(run.status, f.status) << f.name << "\n" << run.out;
        EXPECT_EQ(run.out.find("MAIN ARCHIVE FILENAME:") != std::string::npos, f.reported) << f.name;
        EXPECT_THAT(log_.text(), HasSubstr(f.logged)) << f.name;
        EXPECT_EQ(module_->calls, (std::vector<std::string>{"prepare", "release"})) << f.name;
        EXPECT_EQ(module_->hxfd_pid(), 0) << f.name;
        if (f.status == 6) {
            EXPECT_THAT(log_.text(), HasSubstr("bool HxModuleUniversal::make_backup_locally(): cd / && "))
                << f.name;
        }
    }
}

TEST_F(EngineBackup, FileListingIsPrintedBetweenItsMarkers)
{
    KEVRA_REQUIRE_SANDBOX();
    stage("disk.0", "listed bytes");
    const BackupRun run = backup({"--backup", "7", "--full", "--autonomous", "-d", op_, "-n", "arch1", "-e",
                                  "file_list:true"});
    ASSERT_EQ(run.status, 0u) << run.out << log_.text();
    const std::size_t start = run.out.find("MAIN ARCHIVE SIGN FILENAME:" + op_ + "/arch1.hxfd.signature\nFILE LISTING START:\n");
    ASSERT_NE(start, std::string::npos) << run.out;
    EXPECT_THAT(run.out.substr(start), HasSubstr("vda-disk\t12\n"));
    EXPECT_EQ(run.out.substr(run.out.size() - 17), "FILE LISTING END\n");
    EXPECT_THAT(platform_.calls("hxfd").back(), HasSubstr("/opt/kelvomar/bin/hxfd -l " + op_ + "/arch1.snap_dir/arch1.meta -v 1"));
}

TEST_F(EngineBackup, FailedListingFailsTheBackupAndLeavesNoSnapshotDirectory)
{
    KEVRA_REQUIRE_SANDBOX();
    stage("disk.0", "bytes");
    platform_.fixture({"fault", "hxfd", "list", "--exit", "1", "--stderr", "cannot list"});
    const BackupRun run = backup({"--backup", "7", "--full", "--autonomous", "-d", op_, "-n", "arch1", "-e",
                                  "file_list:true"});
    EXPECT_EQ(run.status, 6u) << run.out;
    EXPECT_THAT(run.out, Not(HasSubstr("FILE LISTING START:")));
    EXPECT_FALSE(fs::exists(op_ + "/arch1.snap_dir"));
    EXPECT_THAT(log_.text(), HasSubstr("bool HxModuleUniversal::close_backup(const bool&): command produced error: "
                                       "/opt/kelvomar/bin/hxfd -l '"));
}

struct ArchivingRun {
    const char* name;
    const char* engine_exit;
    unsigned int status;
    bool archived;
};

// Archiving deletes the resource after a full backup, but only when the engine
// reported the data whole.
TEST_F(EngineBackup, ArchivingKeepsTheResourceWhenTheDataMayBeIncomplete)
{
    KEVRA_REQUIRE_SANDBOX();
    const ArchivingRun runs[] = {{"complete", "0", 0, true}, {"incomplete", "100", 100, false}};
    for (const ArchivingRun& r : runs) {
        SetUp();
        platform_.fixture({"task-secret", "T1"});
        HxModuleOptions properties;
        properties.archiving_supported = true;
        module_ = std::make_unique<EngineTestModule>(properties);
        stage("disk.0", "bytes");
        if (std::string(r.engine_exit) != "0")
            set_fault({"--exit", r.engine_exit});
        std::vector<std::string> args = server_args(std::string("arch-") + r.name);
        args.push_back("--is-archiving-supported");
        const BackupRun run = backup(args);
        EXPECT_EQ(run.status, r.status) << r.name << run.out;
        EXPECT_THAT(run.out, HasSubstr("MAIN ARCHIVE FILENAME:")) << r.name;
        const bool archived = std::find(module_->calls.begin(), module_->calls.end(), "make_archiving") !=
                              module_->calls.end();
        EXPECT_EQ(archived, r.archived) << r.name;
    }
    EXPECT_THAT(log_.text(), HasSubstr("' is kept: the archive engine reported that the data may be incomplete"));
}

// Names that the shell would read reach the engine unchanged and run nothing.
TEST_F(EngineBackup, HostileNamesStayOneArgumentEach)
{
    KEVRA_REQUIRE_SANDBOX();
    // An injected command would leave its trace in the sandbox's own TMPDIR.
    const std::string task = "T 1;cd $TMPDIR;touch pwned-task";
    platform_.fixture({"task-secret", task});
    stage("disk $(cd $TMPDIR;touch pwned-data) 'x'.img", "hostile bytes");
    const std::string archive = "arch 1;cd $TMPDIR;touch pwned-archive";
    const BackupRun run = backup({"--backup", "7", "--full", "-d", op_ + "/a b", "-n", archive, "-m",
                                  "ms1`cd $TMPDIR;touch pwned-server`", "-T", task});
    EXPECT_EQ(run.status, 0u) << run.out << log_.text();
    EXPECT_THAT(run.out, HasSubstr("MAIN SNAPSHOT FILENAME:" + op_ + "/a b/" + archive + ".snap\n"));
    EXPECT_EQ(tar_listing(op_ + "/a b/" + archive + ".snap"),
              "./\n./" + archive + ".meta\n./template_image_ids_marker\n./vda-disk.xml\n");
    EXPECT_EQ(platform_.fixture({"archive-files", archive}), "vda-disk\t13");
    const std::string tmp = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
    for (const char* trace : {"pwned-task", "pwned-data", "pwned-archive", "pwned-server"})
        EXPECT_FALSE(fs::exists(tmp + "/" + trace)) << trace;
}

}  // namespace
