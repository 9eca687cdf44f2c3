// The template module's own parameters, listings and start-up settings.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "template_module/entry_point.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/support/log_capture.h"

namespace {

// Every record into text() while it lives; never the host's logging configuration.
class LogCapture : public kevra_test::LogCapture {
public:
    LogCapture() : kevra_test::LogCapture(kevra_test::temp_log_config("kevra-template-test-hx_logger.config")) {}
};

struct TemplateModule : HxModuleKevraTemplate {
    using HxModuleKevraTemplate::HxModuleKevraTemplate;
    HxModuleOptions& opts() { return options_; }
};

// A template module whose command line held `-b tmpl -e <params>`.
struct Parsed {
    explicit Parsed(const std::string& params) : module(kevra_template::template_module_options())
    {
        std::vector<std::string> texts = {"/usr/bin/kevra_template", "-b", "tmpl", "-e", params};
        std::vector<char*> argv;
        for (auto& text : texts) {
            argv.push_back(&text[0]);
        }
        argv.push_back(nullptr);
        usable = module.parse_module_options(static_cast<int>(texts.size()), argv.data(), module.opts());
    }
    TemplateModule module;
    bool usable = false;
};

struct ParameterCase {
    const char* name;
    std::string params;
    bool usable;
    opennebula_template_conf conf;
    std::string logged;  // empty: nothing may be logged
};

std::ostream& operator<<(std::ostream& out, const ParameterCase& c)
{
    return out << c.name;
}

opennebula_template_conf conf(std::uint32_t dd, bool backup_only, bool restore_only, bool persistent,
                              const std::string& name)
{
    opennebula_template_conf c;
    c.dd_block_size = dd;
    c.backup_only_config = backup_only;
    c.restore_only_config = restore_only;
    c.set_images_persistent = persistent;
    c.new_name = name;
    return c;
}

const std::string kOutOfRange = "' for parameter 'dd_block_size' is out of range [1, 100]";

const ParameterCase kCases[] = {
    {"Defaults", "", true, conf(5, false, false, false, ""), ""},
    {"BlockSizeOne", "dd_block_size:1", true, conf(1, false, false, false, ""), ""},
    {"BlockSizeHundred", "dd_block_size:100", true, conf(100, false, false, false, ""), ""},
    {"BlockSizeAboveRange", "dd_block_size:101", true, conf(5, false, false, false, ""),
     "Selected value '101" + kOutOfRange},
    {"BlockSizeZero", "dd_block_size:0", true, conf(5, false, false, false, ""), "Selected value '0" + kOutOfRange},
    {"BlockSizeTrailingLetters", "dd_block_size:12abc", true, conf(12, false, false, false, ""), ""},
    {"BlockSizeLeadingBlanks", "dd_block_size:  7", true, conf(7, false, false, false, ""), ""},
    {"BlockSizeMinusOne", "dd_block_size:-1", true, conf(5, false, false, false, ""),
     "Selected value '4294967295" + kOutOfRange},
    {"BlockSizeNotNumber", "dd_block_size:big", false, conf(5, false, false, false, ""), "stoi"},
    {"BlockSizeBeyondInt", "dd_block_size:2147483648", false, conf(5, false, false, false, ""), "stoi"},
    {"FlagsSwitchedOn", "backup_only_config:true,restore_only_config:y,set_images_persistent:yes", true,
     conf(5, true, true, true, ""), ""},
    {"ShortTrueWord", "backup_only_config:t", true, conf(5, true, false, false, ""), ""},
    {"FlagWordsCaseSensitive", "backup_only_config:True,restore_only_config:1,set_images_persistent:YES", true,
     conf(5, false, false, false, ""), ""},
    {"FlagsCannotBeSwitchedOff", "backup_only_config:false,restore_only_config:no", true,
     conf(5, false, false, false, ""), ""},
    {"NewNameLosesSemicolons", "new_name:my;tem;plate", true, conf(5, false, false, false, "mytemplate"), ""},
    {"NewNameOnlySemicolons", "new_name:;;;", true, conf(5, false, false, false, ""), ""},
    {"NewNameKeepsBlanksAndColons", "new_name:web copy:2", true, conf(5, false, false, false, "web copy:2"), ""},
    {"FirstValueOfParameterKept", "new_name:a,new_name:b", true, conf(5, false, false, false, "a"), ""},
};

class TemplateParameters : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(TemplateParameters, FillTheTemplateConfiguration)
{
    const ParameterCase& c = GetParam();
    LogCapture log;
    Parsed parsed(c.params);
    EXPECT_EQ(parsed.usable, c.usable);
    const opennebula_template_conf& got = parsed.module.template_conf();
    EXPECT_EQ(got.dd_block_size, c.conf.dd_block_size);
    EXPECT_EQ(got.backup_only_config, c.conf.backup_only_config);
    EXPECT_EQ(got.restore_only_config, c.conf.restore_only_config);
    EXPECT_EQ(got.set_images_persistent, c.conf.set_images_persistent);
    EXPECT_EQ(got.new_name, c.conf.new_name);
    EXPECT_TRUE(log.logged_as_expected(c.logged));
}

INSTANTIATE_TEST_SUITE_P(Parameters, TemplateParameters, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ParameterCase>& info) { return info.param.name; });

TEST(TemplateParametersRecord, OutOfRangeRecordIsOneInfoRecordOfTwoLines)
{
    LogCapture log;
    Parsed parsed("dd_block_size:101");
    const std::string& text = log.text();
    const auto start = text.find("Info: Selected value '101' for parameter 'dd_block_size' is out of range [1, 100]\n"
                                 "The default value will be used: 5 (MB)\n");
    EXPECT_NE(start, std::string::npos) << text;
    EXPECT_EQ(text.find("Info: ", start + 1), std::string::npos) << text;
}

std::string printed(const std::function<void(HxModuleKevraTemplate&)>& print)
{
    HxModuleKevraTemplate module(kevra_template::template_module_options());
    testing::internal::CaptureStdout();
    print(module);
    return testing::internal::GetCapturedStdout();
}

TEST(TemplateListings, BackupOptionsAreThreeLines)
{
    EXPECT_EQ(printed([](HxModuleKevraTemplate& m) { m.autonomous_options(); }),
              "dd_block_size\t\t : [integer] \t- Block size for dd operations, Units: Megabytes. Default Value: 5\n"
              "backup_only_config\t : [boolean] \t- If true - backup the template configuration only (do not backup "
              "its images). Default Value: false\n"
              "new_name\t\t : [string] \t- The template name that is to be used to restore the template. Default "
              "Value: empty string\n");
}

TEST(TemplateListings, RestoreParametersAreFourLines)
{
    EXPECT_EQ(printed([](HxModuleKevraTemplate& m) { m.list_restore_parameters(); }),
              "set_images_persistent: bool :false:Flag indicating that all images for template will be restored as "
              "'PERSISTENT' ones:\n"
              "restore_only_config: bool :false:Flag indicating that only template configuration should be restored "
              "without creation of its images:\n"
              "new_name: string ::A template name that is to be used to restore the template:\n"
              "dd_block_size: integer ::Specifies block size in megabytes for dd operations:\n");
}

TEST(TemplateListings, UsageAddsNothingAndConfigurationAlwaysLoads)
{
    EXPECT_EQ(printed([](HxModuleKevraTemplate& m) { m.usage_custom(); }), "");
    HxModuleKevraTemplate module(kevra_template::template_module_options());
    EXPECT_TRUE(module.load_module_config());
    EXPECT_EQ(module.get_full_module_version(), "2.1.0.2fad7c4");
}

TEST(TemplateModule, KnownPlatformVersionsInOrder)
{
    const std::array<std::string, 15> expected = {
        "Kevra 2.4-rc3", "Kevra 2.5-rc2", "Kevra 2.4", "Kevra 2.5", "Kevra 2.6 RC2", "Kevra 2.6", "Kevra 2.7 RC2",
        "Kevra 2.7",     "Kevra 2.9",     "2.12",      "3.0",       "3.1",           "3.2",       "3.3",
        "3.3.1"};
    EXPECT_EQ(HxModuleKevraTemplate::kSupportedVersions, expected);
}

TEST(EntryPoint, ModulePropertiesAndLogFile)
{
    const HxModuleOptions options = kevra_template::template_module_options();
    EXPECT_TRUE(options.incremental_supported);
    EXPECT_TRUE(options.differential_supported);
    EXPECT_TRUE(options.dedup_supported);
    EXPECT_TRUE(options.archiving_supported);
    EXPECT_FALSE(options.autonomous_supported);
    EXPECT_TRUE(options.one_operation_per_resource);
    EXPECT_FALSE(options.set_to_numeric);
    EXPECT_EQ(options.restriction_list_file, "/opt/kelvomar/etc/kelvomar_restriction.list.kevra_template");
    EXPECT_EQ(options.operation, 0);

    for (const char* program : {"kevra_template", "./kevra_template", "/usr/local/bin/kevra_template"}) {
        EXPECT_EQ(kevra_template::log_file_path(program), "/opt/kelvomar/log/kevra_template.log") << program;
    }
    EXPECT_EQ(kevra_template::log_file_path("/x/renamed"), "/opt/kelvomar/log/renamed.log");
}

}  // namespace
