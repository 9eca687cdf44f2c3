// The engine's backup command line: golden lines and values that try to break out.
#include "modules/backup_command_line.h"

#include "modules/engine_runner.h"
#include "tests/modules/engine_test_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using kelvomar::module::BackupCommandCommon;
using kelvomar::module::BackupCommandTarget;
using ::testing::HasSubstr;

// A scratch folder with an engine file list, a key file and a restriction list.
class BackupCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Cases that start afresh within one test call SetUp again: drop the last folder.
        if (!dir_.empty()) fs::remove_all(dir_);
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-backup-cmd-%%%%%%%%");
        fs::create_directories(dir_);
        list_ = (dir_ / "list").string();
        key_ = (dir_ / "key").string();
        restrictions_ = (dir_ / "restriction.list").string();
        std::ofstream(list_) << "HXFD file list:\n";
        std::ofstream(key_) << "key\n";
        std::ofstream(restrictions_) << "tmpl-a\ntmpl-b\n";
        common_ = BackupCommandCommon();
        target_ = BackupCommandTarget();
        common_.resource_list_file = list_;
        common_.resource = "7";
        target_.media_server = "ms1";
        target_.archive_name = "arch1";
        target_.task_id = "T1";
        target_.task_secret_file = "/opt/kelvomar/var/tasks//task_secret_T1";
        target_.archive_file = "/tmp/op/arch1.hxfd";
        target_.meta_file = "/tmp/op/arch1.snap_dir/arch1.meta";
        target_.sign_file = "/tmp/op/arch1.signature";
        target_.restriction_list_file = restrictions_;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The whole backup command line, or "<refused>".
    std::string build()
    {
        std::string command = "old text";
        if (!kelvomar::module::build_backup_command_common(common_, command))
            return "<refused>";
        if (!kelvomar::module::append_local_backup_arguments(target_, command))
            return "<refused>";
        return command;
    }

    std::string expand(std::string text) const
    {
        boost::replace_all(text, "{LIST}", list_);
        boost::replace_all(text, "{KEY}", key_);
        boost::replace_all(text, "{RLIST}", restrictions_);
        return text;
    }

    engine_test::LogCapture log_;
    fs::path dir_;
    std::string list_, key_, restrictions_;
    BackupCommandCommon common_;
    BackupCommandTarget target_;
};

const std::string kHead = "cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c {LIST}";
const std::string kKeys = " -x /opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem";
const std::string kServer =
    " -M ms1 -N arch1 -T T1 -s /opt/kelvomar/var/tasks//task_secret_T1"
    " -m /tmp/op/arch1.snap_dir/arch1.meta";
const std::string kSign =
    " -g /tmp/op/arch1.signature --passin /opt/kelvomar/keys/master-key"
    " --sign /opt/kelvomar/keys/secret-key.pem";

struct GoldenCase {
    const char* name;
    std::function<void(BackupCommandCommon&, BackupCommandTarget&)> set;
    std::string line;
};

TEST_F(BackupCommandLine, GoldenLines)
{
    const std::vector<GoldenCase> cases = {
        {"server full, defaults", [](auto&, auto&) {}, kHead + kKeys + " -z None" + kServer},
        {"autonomous", [](auto&, auto& t) { t.autonomous = true; },
         kHead + kKeys + " -z None -n /tmp/op/arch1.hxfd -m /tmp/op/arch1.snap_dir/arch1.meta"},
        {"incremental with the reference meta",
         [](auto& c, auto&) {
             c.backup_type = 2;
             c.reference_meta_file = "/tmp/op/base.snap_dir/base.meta";
         },
         kHead + kKeys + " -S /tmp/op/base.snap_dir/base.meta -z None" + kServer},
        {"incremental told to skip the reference meta",
         [](auto& c, auto&) {
             c.backup_type = 2;
             c.skip_reference_meta = true;
         },
         kHead + kKeys + " -z None" + kServer},
        {"differential ignores the skip",
         [](auto& c, auto&) {
             c.backup_type = 3;
             c.skip_reference_meta = true;
             c.reference_meta_file = "/r/b.meta";
         },
         kHead + kKeys + " -S /r/b.meta -z None" + kServer},
        {"signature", [](auto&, auto& t) { t.sign = true; }, kHead + kKeys + " -z None" + kServer + kSign},
        {"encryption with a key file",
         [this](auto&, auto& t) {
             t.crypto = "kuznyechik";
             t.key_file = key_;
         },
         kHead + kKeys + " -z None" + kServer + " -C kuznyechik -k {KEY}"},
        {"parallelism 8", [](auto& c, auto&) { c.parallelism = 8; },
         kHead + " -p 8" + kKeys + " -z None" + kServer},
        {"parallelism 0 is written", [](auto& c, auto&) { c.parallelism = 0; },
         kHead + " -p 0" + kKeys + " -z None" + kServer},
        {"memory threshold", [](auto& c, auto&) { c.memory_threshold = 512; },
         kHead + kKeys + " -z None --memory-threshold 512" + kServer},
        {"local restrictions with a list file",
         [](auto& c, auto& t) {
             c.local_restrictions = t.local_restrictions = true;
             c.restrictions = {"tmpl-a", "tmpl-b"};
         },
         kHead + kKeys + ",tmpl-a,tmpl-b -z None" + kServer + " -X {RLIST}"},
        {"local restrictions without a list file",
         [](auto& c, auto& t) {
             c.local_restrictions = t.local_restrictions = true;
             t.restriction_list_file = "/nonexistent/restriction.list";
         },
         kHead + kKeys + ", -z None" + kServer},
        {"restriction list present but restrictions off", [](auto&, auto&) {},
         kHead + kKeys + " -z None" + kServer},
        {"engine flags in registration order",
         [](auto& c, auto&) {
             c.parallelism = 2;
             c.engine_flags = kelvomar::module::engine_flags_argument(
                 kelvomar::module::engine_flag_names(),
                 {{"enable_flexible_dedup", "1"}, {"network_parallelism", "4"}});
         },
         kHead + " -p 2 -e network_parallelism:4,enable_flexible_dedup:1" + kKeys + " -z None" + kServer},
        {"hash length other than 256",
         [](auto& c, auto&) {
             c.hash_length = 512;
             c.hash_algorithm = "streebog";
             c.block_size = 4096;
         },
         "cd / && /opt/kelvomar/bin/hxfd -a streebog -5  -b 4096 -c {LIST}" + kKeys + " -z None" + kServer},
        {"numeric owner and best compression",
         [](auto& c, auto&) {
             c.numeric_owner = true;
             c.compress = 4;
         },
         kHead + kKeys + " --numeric-owner -z best" + kServer},
        {"compression 0 leaves -z out", [](auto& c, auto&) { c.compress = 0; }, kHead + kKeys + kServer},
        {"resource itself without a list file",
         [](auto& c, auto&) {
             c.resource_list_file.clear();
             c.resource = "/var/lib/one/disk.0";
         },
         "cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c /var/lib/one/disk.0" + kKeys +
             " -z None" + kServer},
        {"everything at once",
         [this](auto& c, auto& t) {
             c.parallelism = 3;
             c.engine_flags = " -e worker_parallelism:2";
             c.local_restrictions = t.local_restrictions = true;
             c.restrictions = {"x"};
             c.numeric_owner = true;
             c.backup_type = 3;
             c.reference_meta_file = "/r/b.meta";
             c.compress = 2;
             c.memory_threshold = 9;
             t.sign = true;
             t.crypto = "aes";
             t.key_file = key_;
         },
         kHead + " -p 3 -e worker_parallelism:2" + kKeys +
             ",x --numeric-owner -S /r/b.meta -z fast --memory-threshold 9" + kServer + kSign +
             " -X {RLIST} -C aes -k {KEY}"},
    };
    for (const GoldenCase& c : cases) {
        SetUp();
        c.set(common_, target_);
        EXPECT_EQ(build(), expand(c.line)) << c.name;
        TearDown();
    }
}

struct RefusalCase {
    const char* name;
    std::function<void(BackupCommandCommon&, BackupCommandTarget&, const fs::path&)> set;
    const char* logged;
};

TEST_F(BackupCommandLine, Refusals)
{
    const std::vector<RefusalCase> cases = {
        {"missing engine file list",
         [](auto& c, auto&, const fs::path& d) { c.resource_list_file = (d / "none").string(); },
         "make_backup_cmd_common(std::string&): resource list file doesn't exist: "},
        {"engine file list is a folder",
         [](auto& c, auto&, const fs::path& d) { c.resource_list_file = d.string(); },
         "make_backup_cmd_common(std::string&): resource list file is not a regular file: "},
        {"incremental without a reference meta",
         [](auto& c, auto&, const fs::path&) { c.backup_type = 2; },
         "make_backup_cmd_common(std::string&): you must define reference snapshot name (-s option)"},
        {"differential without a reference meta",
         [](auto& c, auto&, const fs::path&) { c.backup_type = 3; },
         "you must define reference snapshot name (-s option)"},
        {"unknown backup type", [](auto& c, auto&, const fs::path&) { c.backup_type = 5; },
         "make_backup_cmd_common(std::string&): wrong backup type: 5"},
        {"crypto without a key file", [](auto&, auto& t, const fs::path&) { t.crypto = "aes"; },
         "you must define key file"},
        {"crypto with a missing key file",
         [](auto&, auto& t, const fs::path& d) {
             t.crypto = "aes";
             t.key_file = (d / "nokey").string();
         },
         "there is no key file: "},
    };
    for (const RefusalCase& c : cases) {
        SetUp();
        c.set(common_, target_, dir_);
        EXPECT_EQ(build(), "<refused>") << c.name;
        EXPECT_THAT(log_.text(), HasSubstr(c.logged)) << c.name;
        TearDown();
    }
}

// Runs the built line with the engine replaced by a program that prints its arguments,
// and returns the arguments as the engine would receive them.
std::vector<std::string> engine_arguments(std::string command)
{
    const std::string engine = "cd / && /opt/kelvomar/bin/hxfd";
    EXPECT_EQ(command.compare(0, engine.size(), engine), 0);
    command.replace(0, engine.size(), "/usr/bin/printf '%s\\0'");
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string raw;
    char buffer[512];
    std::size_t n;
    while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        raw.append(buffer, n);
    if (pipe != nullptr)
        ::pclose(pipe);
    std::vector<std::string> args;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return args;
}

std::string argument_after(const std::vector<std::string>& args, const std::string& option)
{
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == option)
            return args[i + 1];
    return "<missing " + option + ">";
}

TEST_F(BackupCommandLine, HostileValuesReachTheEngineAsOneArgumentEach)
{
    const std::vector<std::string> hostile = {"a b",       "it's",   "say \"hi\"", "$(touch /tmp/x)",
                                              "$HOME",     "a;id",   "line\nnext", "`id`",
                                              "tab\there", "*",      "-z"};
    for (const std::string& value : hostile) {
        SetUp();
        const fs::path odd_dir = dir_ / value;
        fs::create_directories(odd_dir);
        common_.resource_list_file = (odd_dir / "list").string();
        std::ofstream(common_.resource_list_file) << "HXFD file list:\n";
        common_.hash_algorithm = value;
        common_.backup_type = 2;
        common_.reference_meta_file = value + ".meta";
        common_.local_restrictions = target_.local_restrictions = true;
        common_.restrictions = {value};
        common_.engine_flags = kelvomar::module::engine_flags_argument(
            kelvomar::module::engine_flag_names(), {{"worker_parallelism", value}});
        target_.media_server = value;
        target_.archive_name = value;
        target_.task_id = value;
        target_.task_secret_file = "/opt/kelvomar/var/tasks//task_secret_" + value;
        target_.meta_file = "/tmp/op/" + value + ".meta";
        target_.sign = true;
        target_.sign_file = "/tmp/op/" + value + ".signature";
        target_.crypto = value;
        target_.key_file = (odd_dir / "list").string();
        const std::string command = build();
        ASSERT_NE(command, "<refused>") << value;
        const std::vector<std::string> args = engine_arguments(command);
        EXPECT_EQ(args.size(), 37u) << "value " << value << " split or joined words: " << command;
        EXPECT_EQ(argument_after(args, "-a"), value);
        EXPECT_EQ(argument_after(args, "-c"), common_.resource_list_file);
        EXPECT_EQ(argument_after(args, "-e"), "worker_parallelism:" + value);
        EXPECT_EQ(argument_after(args, "-x"),
                  "/opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem," + value);
        EXPECT_EQ(argument_after(args, "-S"), value + ".meta");
        EXPECT_EQ(argument_after(args, "-M"), value);
        EXPECT_EQ(argument_after(args, "-N"), value);
        EXPECT_EQ(argument_after(args, "-T"), value);
        EXPECT_EQ(argument_after(args, "-s"), target_.task_secret_file);
        EXPECT_EQ(argument_after(args, "-m"), target_.meta_file);
        EXPECT_EQ(argument_after(args, "-g"), target_.sign_file);
        EXPECT_EQ(argument_after(args, "-C"), value);
        EXPECT_EQ(argument_after(args, "-k"), target_.key_file);
        TearDown();
    }
}

}  // namespace
