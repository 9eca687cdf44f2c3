#ifndef KEVRA_TESTS_MODULES_ENGINE_TEST_BACKUP_H
#define KEVRA_TESTS_MODULES_ENGINE_TEST_BACKUP_H
// One backup run of the engine test module from a command line, with what it
// wrote to standard output.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/modules/engine_test_module.h"
#include "tests/support/argv.h"

namespace engine_test {

struct BackupRun {
    unsigned int status = 0;
    std::string out;  // standard output of the run
};

// Parses `args` (without the program name) into `module`'s options and runs
// it; status 14 when the command line is refused. init would also load the
// task's client-defined storages; this module has none, so the command line
// is parsed directly.
inline BackupRun run_backup(EngineTestModule& module, std::vector<std::string> args)
{
    kevra_test::Argv argv(std::move(args), "/opt/kelvomar/bin/engine_test_module");
    BackupRun run;
    if (!module.parse_module_options(argv.argc(), argv.argv(), module.opts())) {
        run.status = 14;
        return run;
    }
    ::testing::internal::CaptureStdout();
    run.status = module.run();
    run.out = ::testing::internal::GetCapturedStdout();
    return run;
}

}  // namespace engine_test

#endif
