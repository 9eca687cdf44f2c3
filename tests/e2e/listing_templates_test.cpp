// The template listings of the shipped program in the sandbox: -l (templates),
// -L (header labels, separator, templates) and -c (header labels), exactly as
// the agent reads them, and their failures, which print nothing.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"
#include "tests/support/cut_names.h"
#include "tests/support/entity_bomb.h"

namespace {

using kevra_e2e::contains;

class TemplateListing : public kevra_e2e::TemplateBackupTest {
protected:
    // Two templates and one whose name holds a comma, blanks and brackets.
    void declare_templates()
    {
        platform_.vm_template({"--name", "web"});
        platform_.vm_template({"--name", "db"});
        platform_.vm_template({"--name", "a,b (c)"});
    }
};

struct ListingCase {
    const char* name;
    const char* option;
    bool with_templates;
    const char* out;
};

std::ostream& operator<<(std::ostream& out, const ListingCase& c)
{
    return out << c.name;
}

const ListingCase kListings[] = {
    {"Templates", "-l", true, "0|web\n1|db\n2|a,b (c)\n"},
    {"TemplatesWithHeader", "-L", true, "ID|NAME\n-----\n0|web\n1|db\n2|a,b (c)\n"},
    {"HeaderLabels", "-c", true, "ID|NAME\n"},
    {"EmptyPool", "-l", false, ""},
    {"EmptyPoolWithHeader", "-L", false, "ID|NAME\n-----\n"},
    {"HeaderLabelsOfAnEmptyPool", "-c", false, "ID|NAME\n"},
};

class Listing : public TemplateListing, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(Listing, PrintsExactly)
{
    const ListingCase& c = GetParam();
    if (c.with_templates) {
        declare_templates();
    }
    const auto result = run_module({c.option});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
}

INSTANTIATE_TEST_SUITE_P(Options, Listing, ::testing::ValuesIn(kListings),
                         [](const ::testing::TestParamInfo<ListingCase>& info) { return info.param.name; });

// A line break in a name is written as \n: one line per template, whatever its
// name. A tab or a backslash is written as itself.
TEST_F(TemplateListing, NamesWithLineBreaksStayOnTheirLine)
{
    platform_.vm_template({"--name", "web\nSET BACKUP TYPE TO FULL"});
    platform_.vm_template({"--name", "tab\there"});
    platform_.vm_template({"--name", "caf\xc3\xa9 (copy)"});
    platform_.vm_template({"--name", "back\\slash \\n", "--unchecked-name"});
    const auto result = run_module({"-L"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "ID|NAME\n-----\n0|web\\nSET BACKUP TYPE TO FULL\n1|tab\there\n2|caf\xc3\xa9 (copy)\n"
                          "3|back\\slash \\n\n");
}

// The NAME of a listed line, given back with -b, names the template of that
// line: a tab is not read as the template whose name spells "\t", and a
// backslash is not doubled.
TEST_F(TemplateListing, ListedNameGivenBackToABackupNamesThatTemplate)
{
    const std::string os = platform_.image({"--name", "src-os", "--datastore", files_datastore(), "--prefix", "vd"});
    const std::string tab = platform_.vm_template({"--name", "tab\there", "--disk", "IMAGE_ID=" + os});
    const std::string spelled =
        platform_.vm_template({"--name", "tab\\there", "--unchecked-name", "--disk", "IMAGE_ID=" + os});
    const std::string backslash =
        platform_.vm_template({"--name", "a\\nb", "--unchecked-name", "--disk", "IMAGE_ID=" + os});
    const std::string broken = platform_.vm_template({"--name", "a\nb", "--disk", "IMAGE_ID=" + os});
    const auto listing = run_module({"-l"});
    ASSERT_EQ(listing.exit_status, 0) << listing.err;
    ASSERT_EQ(listing.out, tab + "|tab\there\n" + spelled + "|tab\\there\n" + backslash + "|a\\nb\n" + broken +
                               "|a\\nb\n");

    std::map<std::string, std::string> listed;  // ID => NAME as listed
    for (const std::string& line : kevra_e2e::lines_of(listing.out)) {
        listed[line.substr(0, line.find('|'))] = line.substr(line.find('|') + 1);
    }
    for (const std::string& id : {tab, backslash}) {
        SCOPED_TRACE(listed[id]);
        platform_.fixture({"calls", "onetemplate", "--clear"});
        const auto result = backup(listed[id], "bk" + id);
        EXPECT_EQ(result.exit_status, 0) << log();
        bool cloned = false;
        for (const std::string& call : platform_.calls("onetemplate")) {
            EXPECT_FALSE(contains(call, " clone ") && !contains(call, " clone " + id + " bk" + id + " ")) << call;
            cloned = cloned || contains(call, " clone " + id + " bk" + id + " ");
        }
        EXPECT_TRUE(cloned) << "template " << id << " was not cloned";
    }
}

// A template NAME of 2 million pieces (a pool of 16 MB): between empty
// comments, or in and between CDATA sections. The listing ends within a few
// seconds with the whole name, in memory on the order of the pool's size.
TEST_F(TemplateListing, NameOfTwoMillionPiecesIsListedWhole)
{
    const std::string dir = kevra_test::scratch_dir("cut-names");
    for (const auto& c : kevra_test::cut_names()) {
        SCOPED_TRACE(c.label);
        const std::string pool = "<VMTEMPLATE_POOL><VMTEMPLATE><ID>0</ID><NAME>" +
                                 kevra_test::repeated(c.piece, c.pieces) + "</NAME></VMTEMPLATE></VMTEMPLATE_POOL>";
        const std::string name = kevra_test::repeated(c.text, c.pieces);
        ASSERT_GE(pool.size(), 16000000u);
        const std::string answer = dir + "/pool.xml";
        kevra_test::write_file(answer, pool);
        platform_.fixture({"fault", "onetemplate", "list", "--with-arg=-x", "--times", "1", "--exit", "0",
                           "--stdout-file", answer});
        const auto result = run_module({"-l"}, kevra_test::ProgramLimits{30});
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_TRUE(result.out == "0|" + name + "\n") << result.out.substr(0, 200);
        // The tree of such a pool is on the order of its size (once, a node
        // per piece made it 40 times as large).
        EXPECT_LT(result.max_rss_kb, 128 * 1024);
    }
}

struct ListingFailure {
    const char* name;
    const char* option;
    std::vector<std::string> setup;  // a fixture command line
    const char* record;
};

std::ostream& operator<<(std::ostream& out, const ListingFailure& c)
{
    return out << c.name;
}

const ListingFailure kFailures[] = {
    {"HostCheckFailsTemplates", "-l", {"system", "--no-onevm"},
     "int HxModuleKevraTemplate::list_all_templates(const bool&): unable to run the module on this client. Reason: 2"},
    {"HostCheckFailsHeader", "-c", {"system", "--pretty-name", "Other"},
     "virtual int HxModuleKevraTemplate::list_header_labels(): unable to run the module on this client. Reason: 2"},
    {"PoolCommandFails", "-l",
     {"fault", "onetemplate", "list", "--with-arg=-x", "--exit", "255", "--stderr", "[one.templatepool] down"},
     "int HxModuleKevraTemplate::list_all_templates(const bool&): can't get list of templates"},
    {"PoolDocumentCutOff", "-L", {"fault", "onetemplate", "list", "--with-arg=-x", "--malformed"},
     "list_all_templates(const bool&): XML document not parsed successfully"},
    {"WarningBeforeThePool", "-l", {"fault", "onetemplate", "list", "--with-arg=-x", "--warning", "deprecated"},
     "list_all_templates(const bool&): XML document not parsed successfully"},
    {"HeaderCommandFailsAfterThePool", "-L", {"fault", "onetemplate", "list", "--skip-first", "1", "--exit", "255"},
     "int HxModuleKevraTemplate::list_all_templates(const bool&): can't list resources header labels"},
    // A pool answer that declares an entity of 20 KB and names it 5,000 times.
    {"EntityDeclaredInThePool", "-l",
     {"fault", "onetemplate", "list", "--with-arg=-x", "--exit", "0", "--stdout",
      kevra_test::entity_bomb("VMTEMPLATE_POOL", "VMTEMPLATE")},
     "int HxModuleKevraTemplate::list_all_templates(const bool&): XML document not parsed successfully"},
    {"HeaderCommandFails", "-c", {"fault", "onetemplate", "list", "--exit", "255", "--stderr", "down"},
     "virtual int HxModuleKevraTemplate::list_header_labels(): the following command produced an error: "
     "/usr/bin/onetemplate list | awk"},
};

class ListingFails : public TemplateListing, public ::testing::WithParamInterface<ListingFailure> {};

TEST_P(ListingFails, WithTwoAndNothingPrinted)
{
    const ListingFailure& c = GetParam();
    declare_templates();
    platform_.fixture(c.setup);
    const auto result = run_module({c.option}, kevra_test::ProgramLimits{10});
    EXPECT_FALSE(result.timed_out);
    EXPECT_LT(result.max_rss_kb, 64 * 1024);
    EXPECT_EQ(result.exit_status, 2) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(contains(log(), c.record)) << "missing: " << c.record << "\nlog:\n" << log();
}

INSTANTIATE_TEST_SUITE_P(Steps, ListingFails, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<ListingFailure>& info) { return info.param.name; });

}  // namespace
