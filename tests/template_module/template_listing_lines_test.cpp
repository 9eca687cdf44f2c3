// The "ID|NAME" lines of the template listing, from parsed pools.
#include <gtest/gtest.h>

#include <string>

#include "opennebula/xml_access.h"
#include "template_module/template_listing_lines.h"

namespace {

namespace hx = hx_opennebula_common;

std::string lines_of_pool(const std::string& xml)
{
    const hx::xml_document doc = hx::parse_xml_text(xml);
    EXPECT_TRUE(doc) << xml;
    return doc ? kevra_template::template_listing_lines(xmlDocGetRootElement(doc.get())) : std::string();
}

std::string pool_of(const std::string& templates)
{
    return "<VMTEMPLATE_POOL>" + templates + "</VMTEMPLATE_POOL>";
}

// A name is printed as the platform holds it: a tab or a backslash as itself,
// only a line break escaped, so that each template stays on its line.
TEST(TemplateListingLines, NamesAsThePlatformHoldsThemOnOneLineEach)
{
    const struct {
        const char* label;
        std::string templates;
        std::string lines;
    } cases[] = {
        {"plain", "<VMTEMPLATE><ID>0</ID><NAME>web</NAME></VMTEMPLATE>", "0|web\n"},
        {"tab", "<VMTEMPLATE><ID>1</ID><NAME>tab\there</NAME></VMTEMPLATE>", "1|tab\there\n"},
        {"backslash", "<VMTEMPLATE><ID>2</ID><NAME>back\\slash \\n \\</NAME></VMTEMPLATE>",
         "2|back\\slash \\n \\\n"},
        {"line breaks", "<VMTEMPLATE><ID>3</ID><NAME>web\nSET BACKUP TYPE TO FULL&#13;</NAME></VMTEMPLATE>",
         "3|web\\nSET BACKUP TYPE TO FULL\\r\n"},
        {"other control characters", "<VMTEMPLATE><ID>4</ID><NAME>a&#x7f;b</NAME></VMTEMPLATE>", "4|a\x7f" "b\n"},
        {"entities, CDATA and comments",
         "<VMTEMPLATE><ID>5</ID><NAME><![CDATA[a&b]]>|<!---->c&gt;</NAME></VMTEMPLATE>", "5|a&b|c>\n"},
        {"several NAME and ID elements joined",
         "<VMTEMPLATE><ID>6</ID><NAME>a</NAME><ID>7</ID><NAME>b</NAME></VMTEMPLATE>", "67|ab\n"},
        {"no NAME", "<VMTEMPLATE><ID>8</ID></VMTEMPLATE>", "8|\n"},
        {"two templates and other elements",
         "<VMTEMPLATE><ID>0</ID><NAME>a</NAME></VMTEMPLATE>\n  <OTHER/><VMTEMPLATE><ID>1</ID><NAME>b</NAME>"
         "</VMTEMPLATE>",
         "0|a\n1|b\n"},
        {"empty pool", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(lines_of_pool(pool_of(c.templates)), c.lines);
    }
}

}  // namespace
