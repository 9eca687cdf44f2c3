// The backup command line as the module builds it from its options and parameters.
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <fstream>

namespace {

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;
using ::testing::HasSubstr;

class BackupCommandMembers : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-backup-members-%%%%%%%%");
        fs::create_directories(dir_);
        list_ = (dir_ / "list").string();
        std::ofstream(list_) << "HXFD file list:\n";
        module_.opts().resource_list_file = list_;
        module_.opts().resource = "7";
        module_.opts().restriction_list_file = (dir_ / "restriction.list").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    engine_test::LogCapture log_;
    fs::path dir_;
    std::string list_;
    EngineTestModule module_;
};

TEST_F(BackupCommandMembers, DefaultsGiveTheCommonPart)
{
    std::string command;
    ASSERT_TRUE(module_.make_backup_cmd_common(command));
    EXPECT_EQ(command, "cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c " + list_ +
                           " -x /opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem -z None");
}

TEST_F(BackupCommandMembers, RestrictionLinesAndEngineFlagsComeFromTheModule)
{
    std::ofstream(module_.opts().restriction_list_file) << "tmpl-a\r\n\nlast";
    module_.opts().local_restrictions = true;
    module_.hxfd_flags()["enable_multithreading"] = "true";
    module_.hxfd_flags()["worker_parallelism"] = "4";
    module_.opts().backup_type = 2;
    module_.opts().snapshot_meta_file = "/tmp/op/base.snap_dir/base.meta";
    std::string command;
    ASSERT_TRUE(module_.make_backup_cmd_common(command));
    EXPECT_EQ(command, "cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c " + list_ +
                           " -e worker_parallelism:4,enable_multithreading:true"
                           " -x '/opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem,tmpl-a\r,,last'"
                           " -S /tmp/op/base.snap_dir/base.meta -z None");
}

TEST_F(BackupCommandMembers, SkippedReferenceMetaOnlyForIncremental)
{
    module_.skip_reference_meta() = true;
    module_.opts().backup_type = 2;
    std::string command;
    EXPECT_TRUE(module_.make_backup_cmd_common(command));
    module_.opts().backup_type = 3;
    EXPECT_FALSE(module_.make_backup_cmd_common(command));
}

TEST_F(BackupCommandMembers, RefusedLineRunsNoEngineAndKeepsTheMask)
{
    module_.opts().backup_type = 2;
    const mode_t before = ::umask(027);
    EXPECT_FALSE(module_.make_backup_locally());
    const mode_t after = ::umask(before);
    EXPECT_EQ(after, 027u);
    EXPECT_FALSE(module_.backup_result());
    EXPECT_THAT(log_.text(), HasSubstr("you must define reference snapshot name (-s option)"));
    EXPECT_THAT(log_.text(), ::testing::Not(HasSubstr(":hxfd command: ")));
}

TEST_F(BackupCommandMembers, TaskSecretPath)
{
    module_.opts().task_id = "T1";
    EXPECT_EQ(module_.get_task_secret(), "/opt/kelvomar/var/tasks//task_secret_T1");
    EXPECT_THAT(log_.text(), ::testing::Not(HasSubstr("Task ID is empty")));
    module_.opts().task_id.clear();
    EXPECT_EQ(module_.get_task_secret(), "/opt/kelvomar/var/tasks//task_secret_");
    EXPECT_THAT(log_.text(), HasSubstr("Task ID is empty"));
}

TEST_F(BackupCommandMembers, FlagsAreAddedOnlyWhenGiven)
{
    std::string command = "x";
    module_.add_hxfd_options_to_command(command);
    EXPECT_EQ(command, "x");
    module_.hxfd_flags()["network_parallelism"] = "2";
    module_.add_hxfd_options_to_command(command);
    EXPECT_EQ(command, "x -e network_parallelism:2");
}

}  // namespace
