// What the VM side of the layer reads out of recorded VM and host pool documents.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "opennebula/vm_document_readers.h"
#include "tests/opennebula/vm_test_support.h"
#include "tests/support/sandbox_guard.h"

namespace hx = hx_opennebula_common;
using vm_test::parsed;
using vm_test::replaced;
using vm_test::vm_document;

namespace {

xmlNode* root_of(const hx::xml_document& doc)
{
    return xmlDocGetRootElement(doc.get());
}

TEST(VmDocumentReaders, RecordedDocumentsValidateAgainstThePlatformSchemas)
{
    KEVRA_REQUIRE_PLATFORM_SCHEMAS(validate);
    for (const char* name : {"vm_running.xml", "vm_pool.xml", "host_pool.xml"}) {
        const auto result = kevra_test::run_program(
            {"/bin/sh", validate, kevra_test::source_path(std::string("tests/opennebula/vm_documents/") + name)});
        EXPECT_EQ(result.exit_status, 0) << name << "\n" << result.out << result.err;
    }
}

TEST(VmDocumentReaders, StateAndLcmStateOfARunningVm)
{
    const auto doc = parsed(vm_document("vm_running.xml"));
    hx::opennebula_vm_state state;
    hx::read_vm_state(root_of(doc), state);
    EXPECT_EQ(state.state, 3);
    EXPECT_EQ(state.lcm_state, 3);
}

TEST(VmDocumentReaders, MissingLcmStateKeepsTheCallersValueAndOnlyTopLevelStatesCount)
{
    // PREV_STATE and the HISTORY's fields are not STATE; only the top-level element is.
    const std::string text = replaced(replaced(vm_document("vm_running.xml"), "<LCM_STATE>3</LCM_STATE>", ""),
                                      "<STATE>3</STATE>", "<STATE>8</STATE>");
    const auto doc = parsed(text);
    hx::opennebula_vm_state state;
    hx::read_vm_state(root_of(doc), state);
    EXPECT_EQ(state.state, 8);
    EXPECT_EQ(state.lcm_state, -1);
}

TEST(VmDocumentReaders, StateThatIsNoNumberThrows)
{
    const auto doc = parsed(replaced(vm_document("vm_running.xml"), "<STATE>3</STATE>", "<STATE>on</STATE>"));
    hx::opennebula_vm_state state;
    EXPECT_THROW(hx::read_vm_state(root_of(doc), state), std::invalid_argument);
}

struct HostCase {
    const char* vm;
    bool found;
    const char* host;
};

TEST(VmDocumentReaders, HostOfAVmIsTheHostWhoseVmsListItExactly)
{
    const auto doc = parsed(vm_document("host_pool.xml"));
    const HostCase cases[] = {
        {"40", true, "node2"},  // listed under the second host
        {"41", true, "node1"},
        {"4", false, "unchanged"},
        {"040", false, "unchanged"},
        {"", false, "unchanged"},
    };
    for (const HostCase& c : cases) {
        std::string host = "unchanged";
        EXPECT_EQ(hx::find_vm_host(root_of(doc), c.vm, host), c.found) << c.vm;
        EXPECT_EQ(host, c.host) << c.vm;
    }
}

TEST(VmDocumentReaders, HostWithoutNameDoesNotInheritThePreviousHostsName)
{
    const std::string pool = "<HOST_POOL><HOST><ID>0</ID><NAME>node1</NAME><VMS><ID>41</ID></VMS></HOST>"
                             "<HOST><ID>1</ID><VMS><ID>40</ID></VMS></HOST></HOST_POOL>";
    const auto doc = parsed(pool);
    std::string host = "unchanged";
    EXPECT_TRUE(hx::find_vm_host(root_of(doc), "40", host));
    EXPECT_EQ(host, "");
}

TEST(VmDocumentReaders, HostIdByHostnameComparesTemplateHostnameOnly)
{
    const auto doc = parsed(vm_document("host_pool.xml"));
    std::string id = "x";
    EXPECT_TRUE(hx::find_host_id_by_hostname(root_of(doc), "node2.example", id));
    EXPECT_EQ(id, "1");
    EXPECT_TRUE(hx::find_host_id_by_hostname(root_of(doc), "node1", id));
    EXPECT_EQ(id, "0");
    // node2 is the second host's NAME, not its HOSTNAME: no match, and the id written on the way is emptied.
    EXPECT_FALSE(hx::find_host_id_by_hostname(root_of(doc), "node2", id));
    EXPECT_EQ(id, "");
}

TEST(VmDocumentReaders, Eth0MacComesFromTheContext)
{
    const auto doc = parsed(vm_document("vm_running.xml"));
    std::string mac;
    EXPECT_TRUE(hx::find_eth0_mac(root_of(doc), mac));
    EXPECT_EQ(mac, "02:00:0a:00:00:05");

    const auto bare = parsed(replaced(vm_document("vm_running.xml"),
                                      "<ETH0_MAC><![CDATA[02:00:0a:00:00:05]]></ETH0_MAC>", ""));
    mac = "unchanged";
    EXPECT_FALSE(hx::find_eth0_mac(root_of(bare), mac));
    EXPECT_EQ(mac, "unchanged");
}

struct LockCase {
    const char* name;
    const char* from;
    const char* to;
    bool locked;
};

TEST(VmDocumentReaders, LockIsShownByALockedChildWhateverItsText)
{
    const LockCase cases[] = {
        {"recorded", "<LOCKED>2</LOCKED>", "<LOCKED>2</LOCKED>", true},
        {"empty text", "<LOCKED>2</LOCKED>", "<LOCKED/>", true},
        {"other text", "<LOCKED>2</LOCKED>", "<LOCKED>no</LOCKED>", true},
        {"lock without locked", "<LOCKED>2</LOCKED>", "", false},
        {"no lock", "<LOCK>", "<LOCK_GONE>", false},
    };
    for (const LockCase& c : cases) {
        std::string text = replaced(vm_document("vm_running.xml"), c.from, c.to);
        if (std::string(c.name) == "no lock")
            text = replaced(text, "</LOCK>", "</LOCK_GONE>");
        const auto doc = parsed(text);
        EXPECT_EQ(hx::vm_document_shows_lock(root_of(doc)), c.locked) << c.name;
    }
}

TEST(VmDocumentReaders, OnlyTheFirstLockElementCounts)
{
    const auto doc = parsed("<VM><LOCK><OWNER>0</OWNER></LOCK><LOCK><LOCKED>1</LOCKED></LOCK></VM>");
    EXPECT_FALSE(hx::vm_document_shows_lock(root_of(doc)));
}

TEST(VmDocumentReaders, DiskWithTarget)
{
    const auto doc = parsed(vm_document("vm_running.xml"));
    for (const auto& expected : {std::make_pair("vda", "0"), std::make_pair("vdc", "2"), std::make_pair("hdb", "4")}) {
        xmlNode* disk = hx::vm_disk_with_target(root_of(doc), expected.first);
        ASSERT_NE(disk, nullptr) << expected.first;
        EXPECT_EQ(hx::joined_child_texts(disk, "DISK_ID"), expected.second);
    }
    EXPECT_EQ(hx::vm_disk_with_target(root_of(doc), "vdz"), nullptr);
    EXPECT_EQ(hx::vm_disk_with_target(root_of(doc), "vd"), nullptr);  // exact, not a prefix
}

// The recorded VM's TEMPLATE after cleaning, child by child.
class CleanedTemplate : public ::testing::Test {
protected:
    std::string cleaned(const std::string& text)
    {
        doc_ = parsed(text);
        xmlNode* tmpl = hx::first_child_element(root_of(doc_), "TEMPLATE");
        EXPECT_NE(tmpl, nullptr);
        hx::clean_vm_template(tmpl);
        return vm_test::outline(tmpl);
    }
    hx::xml_document doc_;
};

TEST_F(CleanedTemplate, WhatAReCreatedVmMustNotInheritIsRemoved)
{
    const std::string outline = cleaned(vm_document("vm_running.xml"));
    // The temporary disk (DISK_ID 1, TYPE fs) is gone; the other four stay in order.
    EXPECT_EQ(outline.find("DISK_ID=1;"), std::string::npos) << outline;
    for (const char* id : {"DISK{DISK_ID=0;", "DISK{DISK_ID=2;", "DISK{DISK_ID=3;", "DISK{DISK_ID=4;"})
        EXPECT_NE(outline.find(id), std::string::npos) << id << "\n" << outline;
    EXPECT_NE(outline.find("GRAPHICS{LISTEN=0.0.0.0;TYPE=VNC}"), std::string::npos) << outline;
    EXPECT_NE(outline.find("NIC{NETWORK=public;NIC_ID=0}"), std::string::npos) << outline;
    // IP6_LINK goes although that NIC has no IP6_GLOBAL.
    EXPECT_NE(outline.find("NIC{NETWORK=private;NIC_ID=1}"), std::string::npos) << outline;
    EXPECT_NE(outline.find("OS{ARCH=x86_64;BOOT=disk0}"), std::string::npos) << outline;
    EXPECT_NE(outline.find("CONTEXT{ETH0_MAC=02:00:0a:00:00:05;NETWORK=YES}"), std::string::npos) << outline;
    EXPECT_NE(outline.find("TM_MAD_SYSTEM=ssh;VMID=40"), std::string::npos) << outline;
}

TEST_F(CleanedTemplate, BootEntriesOtherThanDisk0AreRemoved)
{
    const std::string text = replaced(vm_document("vm_running.xml"), "<BOOT><![CDATA[disk0]]></BOOT>",
                                      "<BOOT><![CDATA[disk0,nic0]]></BOOT>");
    EXPECT_NE(cleaned(text).find("OS{ARCH=x86_64}"), std::string::npos);
}

TEST_F(CleanedTemplate, OnlyTheFirstOfEachNicAddressGoes)
{
    const std::string text = replaced(vm_document("vm_running.xml"), "<NIC_ID><![CDATA[1]]></NIC_ID>",
                                      "<NIC_ID><![CDATA[1]]></NIC_ID><MAC>second</MAC><IP6_LINK>fe80::7</IP6_LINK>");
    EXPECT_NE(cleaned(text).find("NIC{NETWORK=private;NIC_ID=1;MAC=second;IP6_LINK=fe80::7}"), std::string::npos);
}

TEST_F(CleanedTemplate, ADiskIsTemporaryByItsFirstTypeOnly)
{
    const std::string text = replaced(vm_document("vm_running.xml"), "<TYPE><![CDATA[fs]]></TYPE>",
                                      "<TYPE><![CDATA[FILE]]></TYPE><TYPE><![CDATA[fs]]></TYPE>");
    EXPECT_NE(cleaned(text).find("DISK{DISK_ID=1;"), std::string::npos);
}

}  // namespace
