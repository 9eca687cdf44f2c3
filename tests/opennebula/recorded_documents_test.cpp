// The recorded documents the parsing tests read are shaped as the platform
// prints them: each validates against the platform's published schema.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/run_program.h"

namespace {

TEST(RecordedDocuments, ValidateAgainstThePlatformSchemas)
{
    const std::string validate = kevra_test::source_path("../shared/platform/validate.sh");
    struct stat st {};
    if (::stat(validate.c_str(), &st) != 0)
        GTEST_SKIP() << "the platform's schemas are not beside the tree: " << validate;
    for (const char* name : {"image_file.xml", "image_pool.xml", "vmtemplate.xml", "datastore.xml"}) {
        const auto result = kevra_test::run_program(
            {"/bin/sh", validate, kevra_test::source_path(std::string("tests/opennebula/data/") + name)});
        EXPECT_EQ(result.exit_status, 0) << name << "\n" << result.out << result.err;
    }
}

}  // namespace
