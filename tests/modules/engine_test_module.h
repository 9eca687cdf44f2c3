#ifndef KEVRA_TESTS_MODULES_ENGINE_TEST_MODULE_H
#define KEVRA_TESTS_MODULES_ENGINE_TEST_MODULE_H
// A small module over the real framework for the engine, snapshot and closing
// tests: its backup hook runs what the test gives it, every hook is recorded, and
// the framework's state is open to the test.

#include "modules/hx_module_universal.h"

#include <functional>
#include <string>
#include <vector>

namespace engine_test {

class EngineTestModule : public HxModuleUniversal {
public:
    explicit EngineTestModule(const HxModuleOptions& options = HxModuleOptions()) : HxModuleUniversal(options) {}

    // What prepare_resource_before_backup does (write the engine file list, the
    // snapshot files); true when none is given.
    std::function<bool(EngineTestModule&)> prepare;
    bool release_result = true;
    std::vector<std::string> calls;  // hook names in call order

    bool prepare_resource_before_backup(const bool& replica) override
    {
        calls.push_back(replica ? "prepare(replica)" : "prepare");
        return prepare ? prepare(*this) : true;
    }
    bool release_resource_after_backup() override
    {
        calls.push_back("release");
        return release_result;
    }
    bool load_module_config() override { return true; }
    void usage_custom() override {}
    int check_client(const bool&) override { return 0; }
    std::string get_full_module_version() override { return "0.0.0.test"; }
    int list_header_labels() override { return 0; }
    int list_all_resources() override { return 0; }
    int list_all_resources_with_header_labels() override { return 0; }
    bool resource_exists() override { return true; }
    // The answers of the restore hooks (all true unless a test says otherwise).
    struct RestoreAnswers {
        bool before = true;
        bool after = true;
        bool after_last_file = true;
        bool deployment = true;
    } restore_answers;

    bool before_restore() override { return answer("before_restore", restore_answers.before); }
    bool after_restore() override { return answer("after_restore", restore_answers.after); }
    bool after_restore_last_file() override
    {
        return answer("after_restore_last_file", restore_answers.after_last_file);
    }
    bool deployment(const bool& replica) override
    {
        return answer(replica ? "deployment(replica)" : "deployment", restore_answers.deployment);
    }
    void close_restore() override
    {
        calls.push_back("close_restore");
        HxModuleUniversal::close_restore();
    }
    void autonomous_options() override {}
    void make_archiving() override { calls.push_back("make_archiving"); }

    HxModuleOptions& opts() { return options_; }
    bool& file_list() { return file_list_; }
    bool& data_incomplete() { return data_incomplete_; }
    bool& skip_reference_meta() { return skip_reference_meta_; }
    bool backup_result() const { return backup_result_; }
    pid_t hxfd_pid() const { return hxfd_pid_; }
    int& storage_type() { return storage_type_; }
    int& storage_id() { return storage_id_; }
    std::string& reference_directory() { return reference_snapshot_directory_; }
    std::map<std::string, std::string>& hxfd_flags() { return hxfd_flags_; }
    std::vector<ClientDefinedStorageInfo>& storages() { return client_defined_storages_; }

private:
    bool answer(const char* hook, bool result)
    {
        calls.push_back(hook);
        return result;
    }
};

}  // namespace engine_test

#endif
