#ifndef KEVRA_TESTS_MODULES_MODULE_TEST_SUPPORT_H
#define KEVRA_TESTS_MODULES_MODULE_TEST_SUPPORT_H
// A module over the real framework whose hooks answer as a test sets them and
// record that they were called; log capture; argv built from texts.

#include <boost/filesystem.hpp>

#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"
#include "tests/support/argv.h"
#include "tests/support/log_capture.h"

namespace module_test {

// Routes every record, at every level up to Debug, into text() while it lives;
// the logging configuration is read from a scratch file, never the host's.
class LogCapture : public kevra_test::LogCapture {
public:
    LogCapture() : kevra_test::LogCapture(kevra_test::temp_log_config("kevra-module-test-hx_logger.config")) {}
};

// argv for parse_module_options and init: argv[0] is the program.
class Argv : public kevra_test::Argv {
public:
    explicit Argv(std::vector<std::string> args, const std::string& program = "/opt/kelvomar/bin/test_module")
        : kevra_test::Argv(std::move(args), program)
    {
    }
};

// Answers of the test module's hooks.
struct Hooks {
    bool prepare = true;
    bool release = true;
    bool config = true;
    int check_client = 0;
    int list_headers = 0;
    int list_all = 0;
    int list_with_headers = 0;
    bool exists = true;
    bool before_restore = true;
    bool after_restore = true;
    bool after_restore_last = true;
    bool deployment = true;
    int throw_in_config = 0;  // 1: std::runtime_error, 2: boost::filesystem::filesystem_error
};

class TestModule : public HxModuleUniversal {
public:
    explicit TestModule(const HxModuleOptions& options = HxModuleOptions()) : HxModuleUniversal(options) {}

    Hooks hooks;
    std::vector<std::string> calls;  // hook names in call order

    bool prepare_resource_before_backup(const bool& replica) override
    {
        calls.push_back(replica ? "prepare(replica)" : "prepare");
        return hooks.prepare;
    }
    bool release_resource_after_backup() override { return record("release", hooks.release); }
    bool load_module_config() override
    {
        if (hooks.throw_in_config == 1) {
            throw std::runtime_error("config exploded");
        }
        if (hooks.throw_in_config == 2) {
            throw boost::filesystem::filesystem_error("config path", boost::system::error_code(2, boost::system::generic_category()));
        }
        return record("load_module_config", hooks.config);
    }
    void usage_custom() override { calls.push_back("usage_custom"); }
    int check_client(const bool& verbose) override
    {
        calls.push_back(verbose ? "check_client(verbose)" : "check_client");
        return hooks.check_client;
    }
    std::string get_full_module_version() override { return "9.8.7.test"; }
    int list_header_labels() override { return record("list_header_labels", hooks.list_headers); }
    int list_all_resources() override { return record("list_all_resources", hooks.list_all); }
    int list_all_resources_with_header_labels() override
    {
        return record("list_all_resources_with_header_labels", hooks.list_with_headers);
    }
    bool resource_exists() override { return record("resource_exists", hooks.exists); }
    bool before_restore() override { return record("before_restore", hooks.before_restore); }
    bool after_restore() override { return record("after_restore", hooks.after_restore); }
    bool after_restore_last_file() override { return record("after_restore_last_file", hooks.after_restore_last); }
    bool deployment(const bool& replica) override
    {
        calls.push_back(replica ? "deployment(replica)" : "deployment");
        return hooks.deployment;
    }
    void autonomous_options() override { calls.push_back("autonomous_options"); }
    void make_archiving() override { calls.push_back("make_archiving"); }
    void list_restore_parameters() override { calls.push_back("list_restore_parameters"); }
    void load_custom_module_parameters() override { calls.push_back("load_custom_module_parameters"); }

    // Read and write access to the framework's state for the tests.
    HxModuleOptions& opts() { return options_; }
    const std::string& hash_algorithm() const { return hash_algorithm_; }
    int hash_length() const { return hash_length_; }
    int block_size() const { return block_size_; }
    bool file_list() const { return file_list_; }
    bool numeric_owner() const { return numeric_owner_; }
    bool last() const { return last_; }
    const std::string& tmp_catalog() const { return tmp_catalog_; }
    bool without_deployment_restore() const { return without_deployment_restore_; }
    bool ignore_errors_snapshot() const { return ignore_errors_snapshot_; }
    int os_snapshot_size() const { return os_snapshot_size_; }
    const std::map<std::string, std::string>& hxfd_flags() const { return hxfd_flags_; }
    const std::vector<std::string>& hxfd_flag_names() const { return hxfd_flag_names_; }
    const std::map<std::string, std::string>& special_params() const { return special_params_; }
    bool remove_operation_directory() const { return remove_operation_directory_; }
    pid_t hxfd_pid() const { return hxfd_pid_; }
    bool data_incomplete() const { return data_incomplete_; }
    void set_data_incomplete(bool value) { data_incomplete_ = value; }

private:
    template <class T>
    T record(const char* name, T result)
    {
        calls.push_back(name);
        return result;
    }
};

}  // namespace module_test

#endif
