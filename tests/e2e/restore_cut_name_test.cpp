// An archived template file whose NAME is 2 million pieces (16 MB): between
// empty comments, or in and between CDATA sections. The restore reads the whole
// name within a few seconds and in memory on the order of the file's size; the
// platform then refuses a name that long, so the restore fails with 7 and
// creates nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/cut_names.h"
#include "tests/support/run_program.h"

namespace {

using kevra_e2e::contains;

class RestoreCutName : public kevra_e2e::TemplateRestoreTest {};

TEST_F(RestoreCutName, WholeNameIsReadInAFewSeconds)
{
    int round = 0;
    for (const auto& c : kevra_test::cut_names()) {
        SCOPED_TRACE(c.label);
        const std::string xml = "<TEMPLATE><NAME>" + kevra_test::repeated(c.piece, c.pieces) +
                                "</NAME><CPU><![CDATA[1]]></CPU></TEMPLATE>\n";
        const std::string name = kevra_test::repeated(c.text, c.pieces);
        ASSERT_GE(xml.size(), 16000000u);
        const std::string archive = "cut" + std::to_string(++round);
        const std::string meta =
            make_archive(archive, {{"template.xml", xml}, {"template_image_list", "TEMPLATE CLONE NAME:\n"}});
        const auto result = restore_from_meta(meta, "last:true,backup_only_config:yes,restore_only_config:yes",
                                              kevra_test::ProgramLimits{30});
        EXPECT_FALSE(result.timed_out);
        EXPECT_LT(result.max_rss_kb, 128 * 1024);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_TRUE(contains(result.out, "Template with the name '" + name + "' doesn't exist in Kevra"))
            << result.out.substr(0, 300);
        EXPECT_TRUE(contains(log(), "Invalid NAME, max length is 128")) << log().substr(0, 2000);
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
    }
}

}  // namespace
