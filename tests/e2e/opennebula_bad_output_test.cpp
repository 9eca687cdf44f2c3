// Every query of the access layer over the platform's documents ends in its
// failure result, with its own record, when the tool fails, prints no XML or
// prints a document of another kind; nothing is written on the way.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "opennebula/datastore_choice.h"
#include "opennebula/datastore_queries.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

class BadOutput : public opennebula_test::PlatformRun {};

TEST_F(BadOutput, EveryQueryFailsWithItsRecord)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string ds = platform.datastore({"--name", "images"});
    const std::string image = platform.image({"--name", "web-disk", "--datastore", "images", "--content", "a"});
    platform.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
    const std::string file = scratch_dir() + "/template.xml";

    std::string text;
    int number = 0;
    std::vector<std::string> list;
    hx::oneimage record;
    const struct {
        const char* tool;
        const char* subcommand;
        const char* function;  // the start of its records
        std::function<bool()> succeeds;
    } queries[] = {
        {"oneimage", "show", "int hx_opennebula_common::get_image_attributes(",
         [&] { return hx::get_image_attributes(image, record, false) == 0; }},
        {"oneimage", "show", "int hx_opennebula_common::get_image_name(", [&] { return hx::get_image_name(image, text) == 0; }},
        {"oneimage", "show", "int hx_opennebula_common::get_image_id(", [&] { return hx::get_image_id(image, text) == 0; }},
        {"oneimage", "show", "int hx_opennebula_common::get_image_state(", [&] { return hx::get_image_state(image, number) == 0; }},
        {"oneimage", "show", "int hx_opennebula_common::get_image_source(", [&] { return hx::get_image_source(image, text) == 0; }},
        {"oneimage", "list", "int hx_opennebula_common::get_image_list(", [&] { return hx::get_image_list(list) == 0; }},
        {"oneimage", "list", "int hx_opennebula_common::get_available_image_names(",
         [&] { return hx::get_available_image_names(list) == 0; }},
        {"oneimage", "list", "bool hx_opennebula_common::does_image_name_exist(", [&] { return hx::does_image_name_exist("web-disk"); }},
        {"onedatastore", "show", "int hx_opennebula_common::get_datastore_type(", [&] { return hx::get_datastore_type(ds, number) == 0; }},
        {"onedatastore", "show", "int hx_opennebula_common::get_datastore_capacity_mb(",
         [&] { return hx::get_datastore_capacity_mb(ds, number) == 0; }},
        {"onedatastore", "show", "TM_MAD_TYPE hx_opennebula_common::get_datastore_tm_mad(",
         [&] { return hx::get_datastore_tm_mad(ds) != hx::TM_MAD_NONE; }},
        {"onedatastore", "show", "int hx_opennebula_common::get_safe_dirs_from_datastore(",
         [&] { return hx::get_safe_dirs_from_datastore(ds, text) == 0; }},
        {"onedatastore", "list", "int hx_opennebula_common::get_any_datastore_by_type(",
         [&] { return hx::get_any_image_datastore(1, text) == 0; }},
        {"onetemplate", "show", "int hx_opennebula_common::get_template_name(", [&] { return hx::get_template_name("web", text) == 0; }},
        {"onetemplate", "show", "int hx_opennebula_common::get_simple_template_image_list(",
         [&] { return hx::get_simple_template_image_list("web", list) == 0; }},
        {"onetemplate", "show", "int hx_opennebula_common::create_template_xml(",
         [&] { return hx::create_template_xml("web", file, "") == 0; }},
    };
    const std::vector<std::vector<std::string>> faults = {
        {"--exit", "255", "--stderr", "[one.info] Error"},
        {"--malformed"},
        {"--warning", "Warning: ruby is old"},
        {"--no-effect", "--stdout", "<HOST_POOL/>"},
    };
    for (const auto& query : queries) {
        ASSERT_TRUE(query.succeeds()) << query.function << " fails without a fault\n" << all_records();
        for (const auto& fault : faults) {
            clear_records();
            std::remove(file.c_str());
            std::vector<std::string> args = {"fault", query.tool, query.subcommand, "--times", "1"};
            args.insert(args.end(), fault.begin(), fault.end());
            platform.fixture(args);
            EXPECT_FALSE(query.succeeds()) << query.function << " with " << fault[0];
            EXPECT_TRUE(logged(query.function)) << query.function << " with " << fault[0] << "\n" << all_records();
            struct stat st {};
            EXPECT_NE(::stat(file.c_str(), &st), 0) << query.function << " with " << fault[0] << " wrote a file";
        }
    }
}

}  // namespace
