// The choice of a datastore with room from the pool document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opennebula/datastore_choice.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/log_capture.h"

namespace hx = hx_opennebula_common;

namespace {

struct pool_entry {
    const char* id;
    int type;
    int free_mb;
    const char* tm_mad;
};

// A DATASTORE_POOL shaped as the platform prints it (schema order, CDATA texts).
std::string pool_document(const std::vector<pool_entry>& entries)
{
    std::string text = "<DATASTORE_POOL>\n";
    for (const pool_entry& e : entries) {
        text += "  <DATASTORE>\n    <ID>" + std::string(e.id) +
                "</ID>\n    <UID>0</UID>\n    <GID>0</GID>\n    <UNAME>oneadmin</UNAME>\n    <GNAME>oneadmin</GNAME>\n"
                "    <NAME>ds" + e.id + "</NAME>\n    <DS_MAD><![CDATA[fs]]></DS_MAD>\n    <TM_MAD><![CDATA[" +
                e.tm_mad + "]]></TM_MAD>\n    <TYPE>" + std::to_string(e.type) + "</TYPE>\n    <TOTAL_MB>20480</TOTAL_MB>\n"
                "    <FREE_MB>" + std::to_string(e.free_mb) + "</FREE_MB>\n    <TEMPLATE/>\n  </DATASTORE>\n";
    }
    return text + "</DATASTORE_POOL>\n";
}

class DatastoreChoice : public opennebula_test::LogCapture {
protected:
    int choose(const std::vector<pool_entry>& pool, int type, hx::TM_MAD_TYPE tm, unsigned int need, std::string& id)
    {
        doc_ = hx::parse_xml_text(pool_document(pool));
        EXPECT_TRUE(doc_);
        return hx::choose_datastore("P", xmlDocGetRootElement(doc_.get()), type, tm, need, id);
    }

    hx::xml_document doc_;
};

TEST_F(DatastoreChoice, FirstFittingDatastoreInPoolOrder)
{
    const std::vector<pool_entry> pool = {
        {"0", 1, 90000, "shared"}, {"1", 0, 100, "shared"},  {"2", 0, 500, "ceph"},
        {"3", 0, 9000, "qcow2"},   {"4", 2, 90000, "shared"}, {"5", 1, 800, "ceph"},
        {"6", 1, 900, "lvm_lvm"},
    };
    const struct {
        int type;
        hx::TM_MAD_TYPE tm;
        unsigned int need;
        const char* expected;  // null: nothing fits
    } cases[] = {
        {0, hx::TM_MAD_NONE, 99, "1"},
        {0, hx::TM_MAD_NONE, 100, "2"},       // 100 is not more than 100
        {0, hx::TM_MAD_NONE, 499, "2"},       // the driver is never tested for image datastores
        {0, hx::TM_MAD_SHARED, 499, "2"},
        {0, hx::TM_MAD_NONE, 8999, "3"},
        {0, hx::TM_MAD_NONE, 9000, nullptr},  // the system and file datastores never count
        {1, hx::TM_MAD_SHARED, 100, "0"},
        {1, hx::TM_MAD_CEPH, 100, "5"},       // system datastores of another driver are skipped
        {1, hx::TM_MAD_CEPH, 800, nullptr},
        {1, hx::TM_MAD_LVM_LVM, 0, "6"},
        {1, hx::TM_MAD_NONE, 0, nullptr},     // without a driver no system datastore matches
        {2, hx::TM_MAD_NONE, 0, "4"},
        {0, hx::TM_MAD_NONE, 4294967295u, nullptr},  // a need beyond 32 signed bits never fits
    };
    for (const auto& c : cases) {
        clear_records();
        std::string id;
        const int result = choose(pool, c.type, c.tm, c.need, id);
        const std::string what = "type " + std::to_string(c.type) + " driver " + hx::TM_MAD_TYPE_STR.at(c.tm) +
                                 " need " + std::to_string(c.need);
        if (c.expected != nullptr) {
            EXPECT_EQ(result, 0) << what;
            EXPECT_EQ(id, c.expected) << what;
        } else {
            EXPECT_EQ(result, 1) << what;
            EXPECT_TRUE(logged("P: can't find no suitable datastore for the datastore type: \"" +
                               std::to_string(c.type) + "\""))
                << what << all_records();
        }
    }
}

TEST_F(DatastoreChoice, ChosenDatastoreWithoutIdFails)
{
    hx::xml_document doc = hx::parse_xml_text("<DATASTORE_POOL><DATASTORE><TYPE>0</TYPE><FREE_MB>10</FREE_MB>"
                                              "</DATASTORE></DATASTORE_POOL>");
    std::string id;
    EXPECT_EQ(hx::choose_datastore("P", xmlDocGetRootElement(doc.get()), 0, hx::TM_MAD_NONE, 1, id), 1);
    EXPECT_TRUE(logged("P: got empty datastore ID"));
}

TEST_F(DatastoreChoice, BadNumbersThrowToTheQuery)
{
    for (const char* text : {"<DATASTORE_POOL><DATASTORE><ID>1</ID><TYPE>x</TYPE></DATASTORE></DATASTORE_POOL>",
                             "<DATASTORE_POOL><DATASTORE><ID>1</ID><FREE_MB/></DATASTORE></DATASTORE_POOL>"}) {
        hx::xml_document doc = hx::parse_xml_text(text);
        std::string id;
        EXPECT_THROW(hx::choose_datastore("P", xmlDocGetRootElement(doc.get()), 0, hx::TM_MAD_NONE, 1, id),
                     std::invalid_argument)
            << text;
    }
}

}  // namespace
