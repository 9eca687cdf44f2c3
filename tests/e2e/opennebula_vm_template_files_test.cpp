// VM template files written from the platform's VM document, and the image
// records read back from them, against the platform stand-ins in the sandbox.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "opennebula/vm_template_files.h"
#include "opennebula/xml_access.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

const std::string kCreate = "int hx_opennebula_common::create_vm_xml(const std::string&, const std::string&, "
                            "const std::string&)";

class VmTemplateFiles : public opennebula_test::PlatformRun {
protected:
    void SetUp() override
    {
        PlatformRun::SetUp();
        path_ = scratch_dir() + "/vm.xml";
    }

    // The element children of the written file's root, as NAME or NAME=text.
    std::vector<std::string> top_level() const
    {
        std::vector<std::string> names;
        const hx::xml_document doc = hx::parse_xml_file(path_);
        if (!doc)
            return names;
        for (xmlNode* child = xmlDocGetRootElement(doc.get())->children; child != nullptr; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                names.push_back(reinterpret_cast<const char*>(child->name) +
                                (child->children != nullptr && child->children->next == nullptr &&
                                         child->children->type != XML_ELEMENT_NODE
                                     ? "=" + hx::element_text(child)
                                     : std::string()));
        return names;
    }

    std::string path_;
};

TEST_F(VmTemplateFiles, FileOfARunningVmHoldsItsTemplateAndItsName)
{
    KEVRA_REQUIRE_SANDBOX();
    const kevra_test::WebTemplate web = platform.declare_web_template();
    platform.fixture({"host", "--name", "node2"});
    platform.fixture({"vm", "--name", "web-vm", "--id", "40", "--host", "node2", "--disk", "IMAGE_ID=" + web.os_image,
                      "--disk", "TYPE=fs,SIZE=64,TARGET=vdz", "--disk", "IMAGE_ID=" + web.data_image});

    ASSERT_EQ(hx::create_vm_xml("40", path_, ""), 0) << all_records();
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm show 40 -x")) << call_log("onevm");
    const std::vector<std::string> names = top_level();
    EXPECT_EQ(names, (std::vector<std::string>{"CONTEXT", "CPU=1", "DISK", "DISK", "MEMORY=512",
                                                "TM_MAD_SYSTEM=ssh", "VMID=40", "NAME=web-vm"}));
    EXPECT_TRUE(logged("Virtual machine ID: 40")) << all_records();
    EXPECT_TRUE(logged("VM will be restored with the name: web-vm"));
    EXPECT_EQ(kevra_test::read_file(path_).rfind("<?xml version=\"1.0\"?>\n<TEMPLATE>", 0), 0u);

    // The images of the two remaining disks, read back in disk order.
    std::vector<std::string> ids;
    ASSERT_EQ(hx::get_VM_image_ID_list_from_xml(path_, ids), 0);
    EXPECT_EQ(ids, (std::vector<std::string>{web.os_image, web.data_image}));
    std::vector<hx::oneimage> images(3);
    ASSERT_EQ(hx::get_VM_image_list_from_xml(path_, images), 0) << all_records();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].name, "web-os");
    EXPECT_EQ(images[1].name, "web-data");
    EXPECT_EQ(images[1].unique_signature.size(), 32u);

    unsigned int total = 0;
    EXPECT_EQ(hx::get_total_vm_disks_size_mb(path_, total), 0);
    EXPECT_GE(total, 2u);
    EXPECT_EQ(hx::get_vm_tm_mad_type(path_), hx::TM_MAD_SSH);
}

TEST_F(VmTemplateFiles, NewNameReplacesTheVmsOwn)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"vm", "--name", "web-vm", "--id", "40"});
    ASSERT_EQ(hx::create_vm_xml("web-vm", path_, "web & restored"), 0) << all_records();
    EXPECT_EQ(top_level().back(), "NAME=web & restored");
    std::string name;
    EXPECT_EQ(hx::get_VM_name_from_file(path_, name), 0);
    EXPECT_EQ(name, "web & restored");
}

TEST_F(VmTemplateFiles, ImageListStopsAtTheFirstImageThatCannotBeRead)
{
    KEVRA_REQUIRE_SANDBOX();
    const kevra_test::WebTemplate web = platform.declare_web_template();
    platform.fixture({"vm", "--name", "web-vm", "--id", "40", "--disk", "IMAGE_ID=" + web.os_image, "--disk",
                      "IMAGE_ID=" + web.data_image});
    ASSERT_EQ(hx::create_vm_xml("40", path_, ""), 0) << all_records();
    platform.fixture({"fault", "oneimage", "show", "--with-arg", web.data_image, "--exit", "255", "--stderr", "gone"});
    std::vector<hx::oneimage> images;
    EXPECT_EQ(hx::get_VM_image_list_from_xml(path_, images), 1);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].name, "web-os");
}

struct FailedCreateCase {
    const char* name;
    std::vector<std::string> fault;  // fixture fault arguments for onevm show; empty: an unknown VM
    std::string record;
};

std::ostream& operator<<(std::ostream& out, const FailedCreateCase& c)
{
    return out << c.name;
}

class FailedCreate : public VmTemplateFiles, public ::testing::WithParamInterface<FailedCreateCase> {};

TEST_P(FailedCreate, WritesNoFile)
{
    KEVRA_REQUIRE_SANDBOX();
    const FailedCreateCase& c = GetParam();
    platform.fixture({"vm", "--name", "web-vm", "--id", "40"});
    std::string vm = "40";
    if (c.fault.empty()) {
        vm = "99";
    } else {
        std::vector<std::string> args = {"fault", "onevm", "show"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        platform.fixture(args);
    }
    EXPECT_EQ(hx::create_vm_xml(vm, path_, ""), 1);
    EXPECT_TRUE(logged(kCreate + c.record)) << all_records();
    EXPECT_FALSE(boost::filesystem::exists(path_));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedCreate,
    ::testing::Values(
        FailedCreateCase{"UnknownVm", {}, ": can't get info for VM: 99"},
        FailedCreateCase{"Malformed", {"--malformed"}, ": document not parsed successfully"},
        FailedCreateCase{"OtherRoot", {"--exit", "0", "--stdout", "<HOST/>"},
                         ": document of the wrong type, root node != VM: "},
        // A VM description without its TEMPLATE cannot re-create the VM: that is a failure, not an empty success.
        FailedCreateCase{"NoTemplate", {"--exit", "0", "--stdout", "<VM><ID>40</ID><NAME>web-vm</NAME></VM>"},
                         ": no TEMPLATE element in the description of VM: 40"}),
    [](const ::testing::TestParamInfo<FailedCreateCase>& info) { return std::string(info.param.name); });

}  // namespace
