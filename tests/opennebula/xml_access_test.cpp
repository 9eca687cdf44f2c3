// Parsing the platform's output and reading, editing and saving documents.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "opennebula/platform_command.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/log_capture.h"
#include "tests/support/cut_names.h"
#include "tests/support/entity_bomb.h"

namespace hx = hx_opennebula_common;

namespace {

class XmlAccess : public opennebula_test::LogCapture {};

TEST_F(XmlAccess, ParseRejectsWhatIsNotOneDocument)
{
    const struct {
        const char* text;
        const char* record;
    } cases[] = {
        {"", ": XML document not parsed successfully "},
        {"[one.image.info] Error getting image [99].\n", ": XML document not parsed successfully "},
        // A warning the tool printed on standard error comes first in the captured text.
        {"Warning: ruby gem is old\n<IMAGE><ID>1</ID></IMAGE>\n", ": XML document not parsed successfully "},
        {"<IMAGE><ID>1</ID>", ": XML document not parsed successfully "},
    };
    for (const auto& c : cases) {
        clear_records();
        xmlDoc* doc = reinterpret_cast<xmlDoc*>(1);
        EXPECT_EQ(hx::parse_xml_document(c.text, doc), 1) << c.text;
        EXPECT_EQ(doc, nullptr);
        EXPECT_TRUE(logged(std::string("int hx_opennebula_common::parse_xml_document(const std::string&, xmlDoc*&)") +
                           c.record))
            << all_records();
    }
}

// A document of exactly `size` bytes: NAME a, then elements of 4 KiB text.
std::string sized_document(std::size_t size)
{
    const std::string head = "<R><NAME>a</NAME>";
    const std::string tail = "<B></B></R>";
    const std::string block = "<A>" + std::string(4096, 'x') + "</A>";
    std::string text = head;
    while (text.size() + block.size() + tail.size() <= size)
        text += block;
    return text + "<B>" + std::string(size - text.size() - tail.size(), 'y') + tail.substr(3);
}

TEST_F(XmlAccess, DeclaredEntitiesAreRefusedBuiltInOnesRead)
{
    const struct {
        const char* label;
        std::string text;
        const char* name;  // the NAME text; null: refused
    } cases[] = {
        {"entity bomb", kevra_test::entity_bomb("TEMPLATE"), nullptr},
        {"one small entity", kevra_test::entity_bomb("TEMPLATE", "", 1, 1), nullptr},
        {"parameter entity", "<!DOCTYPE R [<!ENTITY % p \"x\">]><R><NAME>a</NAME></R>", nullptr},
        {"external entity", "<!DOCTYPE R [<!ENTITY f SYSTEM \"file:///etc/hostname\">]><R><NAME>&f;</NAME></R>", nullptr},
        {"unparsed entity",
         "<!DOCTYPE R [<!NOTATION n SYSTEM \"n\"><!ENTITY u SYSTEM \"u\" NDATA n>]><R><NAME>a</NAME></R>", nullptr},
        {"undeclared entity", "<R><NAME>&e;</NAME></R>", nullptr},
        {"external DTD is not fetched", "<!DOCTYPE R SYSTEM \"http://192.0.2.1/r.dtd\"><R><NAME>a</NAME></R>", "a"},
        {"doctype without entities", "<!DOCTYPE R [<!ELEMENT R ANY>]><R><NAME>a</NAME></R>", "a"},
        {"predefined entities and character references",
         "<R><NAME>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;\xc3\xa9</NAME></R>", "&<>\"'AB\xc3\xa9"},
        {"largest text", sized_document(hx::max_xml_document_size), "a"},
        {"longer than the largest", sized_document(hx::max_xml_document_size + 1), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const hx::xml_document doc = hx::parse_xml_text(c.text);
        EXPECT_EQ(static_cast<bool>(doc), c.name != nullptr);
        if (doc && c.name != nullptr) {
            EXPECT_EQ(hx::element_text(hx::first_child_element(xmlDocGetRootElement(doc.get()), "NAME")), c.name);
        }
    }
}

TEST_F(XmlAccess, FilesGoThroughTheSameParse)
{
    const std::string dir = scratch_dir();
    opennebula_test::write_file(dir + "/bomb.xml", kevra_test::entity_bomb("TEMPLATE"));
    opennebula_test::write_file(dir + "/plain.xml", "<TEMPLATE><NAME>a&amp;b</NAME></TEMPLATE>");
    EXPECT_FALSE(hx::parse_xml_file(dir + "/bomb.xml"));
    EXPECT_FALSE(hx::parse_xml_file(dir + "/missing.xml"));
    EXPECT_FALSE(hx::parse_xml_file(dir));
    const hx::xml_document doc = hx::parse_xml_file(dir + "/plain.xml");
    ASSERT_TRUE(doc);
    EXPECT_EQ(hx::element_text(hx::first_child_element(xmlDocGetRootElement(doc.get()), "NAME")), "a&b");
}

TEST_F(XmlAccess, ParseGivesTheCallerTheDocument)
{
    xmlDoc* doc = nullptr;
    ASSERT_EQ(hx::parse_xml_document(opennebula_test::recorded_document("image_file.xml"), doc), 0);
    hx::xml_document owner(doc);
    EXPECT_TRUE(hx::is_element(xmlDocGetRootElement(doc), "IMAGE"));
    EXPECT_TRUE(records().empty());
}

TEST_F(XmlAccess, TextsOfCdataEntitiesAndEmptyElements)
{
    hx::xml_document doc = hx::parse_xml_text(
        "<R><A><![CDATA[one & two]]></A><B>a&amp;b&lt;c</B><C/><D></D><N>x</N><N>y</N><n>z</n>\n  <N>w</N></R>");
    ASSERT_TRUE(doc);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    EXPECT_EQ(hx::element_text(hx::first_child_element(root, "A")), "one & two");
    EXPECT_EQ(hx::element_text(hx::first_child_element(root, "B")), "a&b<c");
    EXPECT_EQ(hx::element_text(hx::first_child_element(root, "C")), "");
    EXPECT_EQ(hx::element_text(hx::first_child_element(root, "D")), "");
    EXPECT_EQ(hx::first_child_element(root, "E"), nullptr);
    // Names match exactly; every occurrence counts, in document order.
    EXPECT_EQ(hx::joined_child_texts(root, "N"), "xyw");
}

// A NAME made of `pieces` times `piece` (comments, CDATA sections, processing
// instructions between the text pieces), in a template pool.
std::string cut_name_pool(const std::string& piece, std::size_t pieces)
{
    return "<VMTEMPLATE_POOL><VMTEMPLATE><ID>7</ID><NAME>" + kevra_test::repeated(piece, pieces) +
           "</NAME></VMTEMPLATE></VMTEMPLATE_POOL>";
}

std::size_t child_nodes(const xmlNode* node)
{
    std::size_t count = 0;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next)
        ++count;
    return count;
}

// However the text of an element is cut, it reads as one text, and the element
// holds at most two nodes for it (a leading CDATA section, then text).
TEST_F(XmlAccess, CutTextsReadWholeFromOneOrTwoNodes)
{
    const struct {
        const char* label;
        const char* xml;
        const char* text;
        std::size_t nodes;
    } cases[] = {
        {"comments", "<R><N>a<!---->b<!-- x -->c<!---->d</N></R>", "abcd", 1},
        {"processing instructions", "<R><N>a<?p?>b<?q data?>c</N></R>", "abc", 1},
        {"CDATA after text", "<R><N>a<![CDATA[b]]>c<![CDATA[<&>]]>d</N></R>", "abc<&>d", 1},
        {"CDATA first", "<R><N><![CDATA[a]]>b<![CDATA[c]]>d</N></R>", "abcd", 2},
        {"adjacent CDATA", "<R><N><![CDATA[a]]><![CDATA[b]]><!----><![CDATA[c]]></N></R>", "abc", 1},
        {"comments, CDATA and references", "<R><N>&amp;<!---->&#65;<![CDATA[&amp;]]><?p?>&lt;</N></R>", "&A&amp;<",
         1},
        {"only a comment", "<R><N><!-- x --></N></R>", "", 0},
        {"blanks around a comment", "<R><N> <!---->\n </N></R>", " \n ", 1},
        // Text of child elements is not the element's own.
        {"child elements", "<R><N>a<B>x</B>b<!---->c</N></R>", "abc", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const hx::xml_document doc = hx::parse_xml_text(c.xml);
        ASSERT_TRUE(doc);
        const xmlNode* name = hx::first_child_element(xmlDocGetRootElement(doc.get()), "N");
        EXPECT_EQ(hx::element_text(name), c.text);
        EXPECT_EQ(child_nodes(name), c.nodes);
    }
    EXPECT_EQ(hx::element_text(nullptr), "");
    std::string joined = "x";
    hx::append_element_text(nullptr, joined);
    EXPECT_EQ(joined, "x");
}

// A 16 MB pool whose NAME is 2 million pieces between empty comments, or as
// many pieces in and between CDATA sections, reads as the whole name, from one
// or two nodes.
TEST_F(XmlAccess, NameOfTwoMillionPiecesReadsWhole)
{
    for (const auto& c : kevra_test::cut_names()) {
        SCOPED_TRACE(c.label);
        const std::string pool = cut_name_pool(c.piece, c.pieces);
        EXPECT_GE(pool.size(), 16000000u);
        const std::string name = kevra_test::repeated(c.text, c.pieces);
        const hx::xml_document doc = hx::parse_xml_text(pool);
        ASSERT_TRUE(doc);
        xmlNode* tpl = hx::first_child_element(xmlDocGetRootElement(doc.get()), "VMTEMPLATE");
        EXPECT_TRUE(hx::joined_child_texts(tpl, "NAME") == name);
        EXPECT_LE(child_nodes(hx::first_child_element(tpl, "NAME")), 2u);
    }
}

// Joined, the pieces of a text may pass the parser's limit for one text node
// (10,000,000 bytes): such a document is refused, never read cut short.
TEST_F(XmlAccess, TextPastTheParsersLimitIsRefusedNotCut)
{
    const std::string half(5000000, 'a');
    EXPECT_FALSE(hx::parse_xml_text("<R><N>" + half + "<!---->" + half + "b</N></R>"));
    EXPECT_FALSE(hx::parse_xml_text("<R><N>" + half + "<![CDATA[" + half + "b]]></N></R>"));
    const hx::xml_document doc = hx::parse_xml_text("<R><N>" + half + "<!---->" + half + "</N></R>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(hx::element_text(hx::first_child_element(xmlDocGetRootElement(doc.get()), "N")).size(), 10000000u);
}

// What a saved document keeps: a value written as a CDATA section stays one.
TEST_F(XmlAccess, SavedDocumentKeepsCdataValues)
{
    hx::xml_document doc = hx::parse_xml_text("<TEMPLATE><CPU><![CDATA[1]]></CPU><!-- note --><N>a<![CDATA[b]]></N>"
                                              "</TEMPLATE>");
    ASSERT_TRUE(doc);
    const std::string path = scratch_dir() + "/template.xml";
    ASSERT_EQ(hx::save_document(doc.get(), path), 0);
    EXPECT_EQ(opennebula_test::read_file(path),
              "<?xml version=\"1.0\"?>\n<TEMPLATE>\n  <CPU><![CDATA[1]]></CPU>\n  <N>ab</N>\n</TEMPLATE>\n");
}

TEST_F(XmlAccess, SetTextTakesNamesLiterally)
{
    hx::xml_document doc = hx::parse_xml_text("<R><NAME>old</NAME></R>");
    xmlNode* name = hx::first_child_element(xmlDocGetRootElement(doc.get()), "NAME");
    hx::set_element_text(name, "a&b <c> &amp; \"d\"");
    EXPECT_EQ(hx::element_text(name), "a&b <c> &amp; \"d\"");
}

TEST_F(XmlAccess, SaveWritesTheWholeFileOrLeavesTheOldOne)
{
    hx::xml_document doc = hx::parse_xml_text("<TEMPLATE><NAME>web</NAME></TEMPLATE>");
    const std::string path = scratch_dir() + "/template.xml";
    ASSERT_EQ(hx::save_document(doc.get(), path), 0);
    EXPECT_EQ(opennebula_test::read_file(path), "<?xml version=\"1.0\"?>\n<TEMPLATE>\n  <NAME>web</NAME>\n</TEMPLATE>\n");
    struct stat st {};
    EXPECT_NE(::stat((path + ".partial").c_str(), &st), 0) << "no partial file may stay behind";

    EXPECT_EQ(hx::save_document(doc.get(), scratch_dir() + "/missing-dir/template.xml"), -1);
}

TEST_F(XmlAccess, AcceptChecksRootAndLogsTheQueryTexts)
{
    const hx::xml_query query = {hx::failure_form::command, "IMAGE", ": document not parsed successfully",
                                 ": empty document", ": document of the wrong type, root node != IMAGE"};
    const struct {
        const char* output;
        bool ok;
        const char* record;
    } cases[] = {
        {"<IMAGE><ID>1</ID></IMAGE>", true, nullptr},
        {"<IMAGE_POOL/>", false, "P: document of the wrong type, root node != IMAGE"},
        {"<image/>", false, "P: document of the wrong type, root node != IMAGE"},
        {"not xml", false, "P: document not parsed successfully"},
        {"Warning: x\n<IMAGE/>", false, "P: document not parsed successfully"},
    };
    for (const auto& c : cases) {
        clear_records();
        hx::xml_document doc;
        EXPECT_EQ(hx::accept_xml_output("P", c.output, query, doc), c.ok) << c.output;
        EXPECT_EQ(static_cast<bool>(doc), c.ok);
        if (c.record != nullptr) {
            ASSERT_EQ(records().size(), 1u) << all_records();
            EXPECT_TRUE(logged(c.record)) << all_records();
        }
    }
}

TEST_F(XmlAccess, AcceptThroughTheSharedParserAddsItsOwnRecord)
{
    const hx::xml_query query = {hx::failure_form::line_produced, "IMAGE_POOL", nullptr, nullptr,
                                 ": document of the wrong type, root node != IMAGE_POOL", ": can't parse xml data"};
    hx::xml_document doc;
    EXPECT_FALSE(hx::accept_xml_output("P", "", query, doc));
    ASSERT_EQ(records().size(), 2u) << all_records();
    EXPECT_TRUE(logged(": XML document not parsed successfully "));
    EXPECT_TRUE(logged("P: can't parse xml data"));
}

TEST_F(XmlAccess, FailureFormsLogTheCommandAndItsOutput)
{
    const struct {
        hx::failure_form form;
        const char* first;
        const char* second;
    } cases[] = {
        {hx::failure_form::command, "P: command /usr/bin/x -x", "boom"},
        {hx::failure_form::command_was, "P: command was: /usr/bin/x -x", "Command output: boom"},
        {hx::failure_form::command_colon, "P: command: /usr/bin/x -x", "boom"},
        {hx::failure_form::produced_error, "P: the following command produced an error: /usr/bin/x -x",
         "Command output: boom"},
        {hx::failure_form::line_produced, "P: command /usr/bin/x -x produced an error", "Command output: boom"},
    };
    for (const auto& c : cases) {
        clear_records();
        hx::log_command_failure("P", c.form, "/usr/bin/x -x", "boom\n");
        ASSERT_EQ(records().size(), 2u);
        EXPECT_NE(records()[0].find(c.first), std::string::npos) << records()[0];
        EXPECT_NE(records()[1].find(c.second), std::string::npos) << records()[1];
    }
}

}  // namespace
