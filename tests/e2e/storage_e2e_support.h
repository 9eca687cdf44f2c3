#ifndef KEVRA_TESTS_E2E_STORAGE_E2E_SUPPORT_H
#define KEVRA_TESTS_E2E_STORAGE_E2E_SUPPORT_H
// Shared set-up of the end-to-end runs around client-defined storages: the
// product's directories with a Debug logging configuration, the task's secret
// and storage files, and running the shipped program.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "tests/e2e/storage_samples.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace storage_e2e {

inline constexpr char kTask[] = "77";
inline constexpr char kLogFile[] = "/opt/kelvomar/log/kevra_template.log";
inline constexpr char kTasksDir[] = "/opt/kelvomar/var/tasks";

inline std::string secret_path()
{
    return std::string(kTasksDir) + "/task_secret_" + kTask;
}

inline std::string storage_path()
{
    return std::string(kTasksDir) + "/" + kTask + ".client_defined_storages";
}

inline std::string unhex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

class StorageRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        KEVRA_REQUIRE_SANDBOX();
        namespace fs = boost::filesystem;
        fs::remove_all("/opt/kelvomar/log");
        fs::create_directories("/opt/kelvomar/log");
        fs::create_directories("/opt/kelvomar/etc");
        fs::create_directories(kTasksDir);
        kevra_test::write_file("/opt/kelvomar/etc/hx_logger.config",
                               "log_level Debug\nlog_file_max_size 1\nlog_file_max_rotate 10\n");
        fs::remove(secret_path());
        fs::remove_all(storage_path());
    }

    void install_secret(const std::string& content = std::string(storage_samples::kTaskSecret) + "\n")
    {
        kevra_test::write_file(secret_path(), content);
    }
    void install_storage_file(const storage_samples::Sample& sample)
    {
        kevra_test::write_file(storage_path(), unhex(sample.ciphertext));
    }

    // Runs kevra_template with `args`.
    kevra_test::ProgramResult run(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {kevra_test::build_path("kevra_template")};
        argv.insert(argv.end(), args.begin(), args.end());
        return kevra_test::run_program(argv);
    }

    std::string log() const { return kevra_test::read_file(kLogFile); }

    kevra_test::Platform platform_;
};

}  // namespace storage_e2e

#endif
