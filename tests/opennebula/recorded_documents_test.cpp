// The recorded documents the parsing tests read are shaped as the platform
// prints them: each validates against the platform's published schema.
#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

TEST(RecordedDocuments, ValidateAgainstThePlatformSchemas)
{
    KEVRA_REQUIRE_PLATFORM_SCHEMAS(validate);
    for (const char* name : {"image_file.xml", "image_pool.xml", "vmtemplate.xml", "datastore.xml"}) {
        const auto result = kevra_test::run_program(
            {"/bin/sh", validate, kevra_test::source_path(std::string("tests/opennebula/data/") + name)});
        EXPECT_EQ(result.exit_status, 0) << name << "\n" << result.out << result.err;
    }
}

}  // namespace
