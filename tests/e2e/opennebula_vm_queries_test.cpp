// Questions about virtual machines and their hosts, power-off, termination and
// the scoped platform lock, against the platform stand-ins in the sandbox.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "opennebula/vm_control.h"
#include "opennebula/vm_lock.h"
#include "opennebula/vm_queries.h"
#include "tests/e2e/opennebula_vm_support.h"

namespace hx = hx_opennebula_common;

namespace {

const std::string kState = "int hx_opennebula_common::get_VM_state(const std::string&, opennebula_vm_state&)";

class VmQueries : public vm_e2e::VmPlatformRun {
protected:
    void SetUp() override
    {
        VmPlatformRun::SetUp();
        if (IsSkipped())
            return;
        platform.fixture({"host", "--name", "node1", "--id", "0"});
        platform.fixture({"host", "--name", "node2", "--id", "1", "--hostname", "node2.example"});
        platform.fixture({"vm", "--name", "web-vm", "--id", "40", "--host", "node2"});
        platform.fixture({"vm", "--name", "db-vm", "--id", "41", "--host", "node1", "--state", "8"});
    }
};

TEST_F(VmQueries, StateOfRunningAndPoweredOffVms)
{
    KEVRA_REQUIRE_SANDBOX();
    hx::opennebula_vm_state state;
    EXPECT_EQ(hx::get_VM_state("40", state), 0) << all_records();
    EXPECT_EQ(state.state, 3);
    EXPECT_EQ(state.lcm_state, 3);
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm show 40 -x")) << call_log("onevm");

    hx::opennebula_vm_state by_name;
    EXPECT_EQ(hx::get_VM_state("db-vm", by_name), 0);
    EXPECT_EQ(by_name.state, 8);
    EXPECT_EQ(by_name.lcm_state, 0);
    EXPECT_TRUE(records().empty()) << all_records();
}

TEST_F(VmQueries, StateOfAnUnknownVmFailsWithTheCommandAndItsOutput)
{
    KEVRA_REQUIRE_SANDBOX();
    hx::opennebula_vm_state state;
    EXPECT_EQ(hx::get_VM_state("99", state), 1);
    ASSERT_EQ(records().size(), 2u) << all_records();
    EXPECT_NE(records()[0].find(kState + ": command /usr/bin/onevm show '99' -x"), std::string::npos);
    EXPECT_NE(records()[1].find("[one.vm.info] Error getting virtual machine [99]."), std::string::npos);
    EXPECT_EQ(state.state, -1);
}

struct BadShowCase {
    const char* name;
    std::vector<std::string> fault;
    std::string record;
};

std::ostream& operator<<(std::ostream& out, const BadShowCase& c)
{
    return out << c.name;
}

class VmStateDocument : public VmQueries, public ::testing::WithParamInterface<BadShowCase> {};

TEST_P(VmStateDocument, ADocumentThatIsNotAVmFails)
{
    KEVRA_REQUIRE_SANDBOX();
    std::vector<std::string> args = {"fault", "onevm", "show"};
    args.insert(args.end(), GetParam().fault.begin(), GetParam().fault.end());
    platform.fixture(args);
    hx::opennebula_vm_state state;
    EXPECT_EQ(hx::get_VM_state("40", state), 1);
    EXPECT_TRUE(logged(kState + GetParam().record)) << all_records();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VmStateDocument,
    ::testing::Values(BadShowCase{"Malformed", {"--malformed"}, ": document not parsed successfully"},
                      BadShowCase{"WarningBeforeTheDocument", {"--warning", "deprecated option"},
                                  ": document not parsed successfully"},
                      BadShowCase{"OtherRoot", {"--exit", "0", "--stdout", "<IMAGE><ID>1</ID></IMAGE>"},
                                  ": document of the wrong type, root node != VM"},
                      BadShowCase{"NoState", {"--exit", "0", "--stdout", "<VM><ID>40</ID></VM>"},
                                  ": VM state wasn't found in XML"}),
    [](const ::testing::TestParamInfo<BadShowCase>& info) { return std::string(info.param.name); });

TEST_F(VmQueries, HostAndWorkplaceOfAVm)
{
    KEVRA_REQUIRE_SANDBOX();
    std::string host = "unchanged";
    EXPECT_EQ(hx::get_VM_host("40", host), 0) << all_records();
    EXPECT_EQ(host, "node2");
    EXPECT_TRUE(called("onehost", "/usr/bin/onehost list -x"));

    std::string deploy_id;
    host.clear();
    EXPECT_EQ(hx::get_VM_workplace("40", host, deploy_id), 0) << all_records();
    EXPECT_EQ(host, "node2");
    EXPECT_EQ(deploy_id, "one-40");

    // The host list holds numeric ids: a name finds no host, without a record of the host search.
    host = "unchanged";
    EXPECT_EQ(hx::get_VM_host("web-vm", host), 1);
    EXPECT_EQ(host, "unchanged");
    EXPECT_TRUE(records().empty()) << all_records();
    EXPECT_EQ(hx::get_VM_workplace("web-vm", host, deploy_id), 1);
    EXPECT_TRUE(logged(": can't get VM hostname")) << all_records();
}

TEST_F(VmQueries, HostPoolThatCannotBeReadIsReported)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"fault", "onehost", "list", "--exit", "255", "--stderr", "connection refused"});
    std::string host;
    EXPECT_EQ(hx::get_VM_host("40", host), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::get_VM_host(const std::string&, std::string&): can't get pool of "
                       "hosts, command was/usr/bin/onehost list -x"))
        << all_records();
    EXPECT_TRUE(logged("Command output: connection refused"));
    std::string id;
    EXPECT_EQ(hx::get_node_id_for_current_host(id), 1);
}

TEST_F(VmQueries, IdByNameAndNamesOfThePool)
{
    KEVRA_REQUIRE_SANDBOX();
    std::string id;
    EXPECT_EQ(hx::get_vm_id_by_name("db-vm", id), 0) << all_records();
    EXPECT_EQ(id, "41");
    EXPECT_EQ(hx::get_vm_id_by_name("missing", id), 1);
    EXPECT_TRUE(logged(": the following command failed: /usr/bin/onevm show 'missing' -x")) << all_records();

    std::vector<std::string> names = {"kept"};
    EXPECT_EQ(hx::get_vm_name_list(names), 0) << all_records();
    EXPECT_EQ(hx::get_vm_name_list(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "web-vm", "db-vm", "web-vm", "db-vm"}));

    EXPECT_TRUE(hx::does_VM_name_exist("web-vm"));
    EXPECT_FALSE(hx::does_VM_name_exist("Web-vm"));
    EXPECT_FALSE(hx::does_VM_name_exist("web"));
}

TEST_F(VmQueries, ExistenceByIdReadsOnlyTheExitStatus)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"fault", "onevm", "show", "--with-arg", "41", "--exit", "0", "--stdout", "not xml"});
    EXPECT_TRUE(hx::does_VM_id_exist("40"));
    EXPECT_TRUE(hx::does_VM_id_exist("41"));
    EXPECT_FALSE(hx::does_VM_id_exist("99"));
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm show 40")) << call_log("onevm");
    EXPECT_TRUE(records().empty()) << all_records();
}

TEST_F(VmQueries, PoolThatCannotBeListedMakesNamesUnknown)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"fault", "onevm", "list", "--exit", "255", "--stderr", "no pool"});
    EXPECT_FALSE(hx::does_VM_name_exist("web-vm"));
    EXPECT_TRUE(logged("bool hx_opennebula_common::does_VM_name_exist(const std::string&): can't get list of VMs names"))
        << all_records();
    EXPECT_TRUE(logged(": command /usr/bin/onevm list -x produced an error"));
}

TEST_F(VmQueries, Eth0MacOfTheContext)
{
    KEVRA_REQUIRE_SANDBOX();
    std::string mac;
    EXPECT_EQ(hx::get_eth0_mac_addr("40", mac), 0) << all_records();
    EXPECT_EQ(mac, "02:00:c0:a8:00:28");
    EXPECT_EQ(hx::get_eth0_mac_addr("99", mac), 1);
    EXPECT_TRUE(logged(": can't get info for VM: 99")) << all_records();
    EXPECT_TRUE(logged("Command was: /usr/bin/onevm show '99' -x"));
}

TEST_F(VmQueries, NodeIdOfThisHostComesFromTheHostname)
{
    KEVRA_REQUIRE_SANDBOX();
    std::string id = "x";
    EXPECT_EQ(hx::get_node_id_for_current_host(id), 1);
    EXPECT_EQ(id, "");
    EXPECT_TRUE(logged(": current host name: " + node_)) << all_records();

    platform.fixture({"host", "--name", "front", "--id", "7", "--hostname", node_});
    EXPECT_EQ(hx::get_node_id_for_current_host(id), 0) << all_records();
    EXPECT_EQ(id, "7");
}

TEST_F(VmQueries, HostileNamesReachOnevmAsOneWord)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string marker = root_ + "/broken-out";
    const std::string name = "web's $(touch " + marker + ") vm";
    platform.fixture({"vm", "--name", name, "--id", "42", "--host", "node1"});
    std::string id;
    EXPECT_EQ(hx::get_vm_id_by_name(name, id), 0) << all_records();
    EXPECT_EQ(id, "42");
    struct stat st {};
    EXPECT_NE(::stat(marker.c_str(), &st), 0);
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm show 'web'\\''s $(touch " + marker + ") vm' -x"))
        << call_log("onevm");
}

// A VM is changed by its ID only: onevm would read a name as a list of VMs
// (a comma, a range, digits), so a name is refused before any command.
TEST_F(VmQueries, VmsAreChangedByIdOnly)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"vm", "--name", "web,db", "--id", "42", "--host", "node1"});
    platform.fixture({"vm", "--name", "web", "--id", "43", "--host", "node1"});
    for (const std::string& name : {std::string("web,db"), std::string("3..5"), std::string("web")}) {
        EXPECT_EQ(hx::shutdown_hard(name), 1) << name;
        EXPECT_EQ(hx::terminate_vm(name), 1) << name;
        EXPECT_TRUE(logged(": not a VM ID: " + name)) << all_records();
        hx::VM_lock lock(name);
        EXPECT_FALSE(lock.is_locked());
        EXPECT_FALSE(lock.lock(name));
    }
    EXPECT_TRUE(platform.calls("onevm").empty()) << call_log("onevm");
    EXPECT_EQ(hx::shutdown_hard("42"), 0) << all_records();
    EXPECT_EQ(hx::terminate_vm("42"), 0) << all_records();
    hx::opennebula_vm_state state;
    ASSERT_EQ(hx::get_VM_state("43", state), 0);
    EXPECT_EQ(state.state, 3) << "the VM named web is untouched";
}

TEST_F(VmQueries, HardPowerOffOfARunningAndOfAPoweredOffVm)
{
    KEVRA_REQUIRE_SANDBOX();
    EXPECT_EQ(hx::shutdown_hard("40"), 0) << all_records();
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm poweroff 40 --hard"));
    EXPECT_TRUE(records().empty()) << all_records();
    hx::opennebula_vm_state state;
    ASSERT_EQ(hx::get_VM_state("40", state), 0);
    EXPECT_EQ(state.state, 8);

    // Already off: the platform refuses, which counts as done, with one Warning.
    EXPECT_EQ(hx::shutdown_hard("40"), 0);
    ASSERT_EQ(records().size(), 1u) << all_records();
    EXPECT_NE(records()[0].find("Warning"), std::string::npos) << records()[0];
    EXPECT_NE(records()[0].find("Trying to send poweroff command to shutdown VM: \"40\""), std::string::npos);
}

TEST_F(VmQueries, PowerOffAndTerminationFailures)
{
    KEVRA_REQUIRE_SANDBOX();
    EXPECT_EQ(hx::shutdown_hard("99"), 1);
    EXPECT_TRUE(logged("int hx_opennebula_common::shutdown_hard(const std::string&): command was: /usr/bin/onevm "
                       "poweroff '99' --hard"))
        << all_records();
    EXPECT_TRUE(logged("Command output: [one.vm.action] Error getting virtual machine [99]."));

    clear_records();
    EXPECT_EQ(hx::terminate_vm("99"), 1);
    ASSERT_EQ(records().size(), 3u) << all_records();
    EXPECT_NE(records()[0].find(": unable to terminate the VM: 99"), std::string::npos);
    EXPECT_NE(records()[1].find("Command was: /usr/bin/onevm terminate '99'"), std::string::npos);

    EXPECT_EQ(hx::terminate_vm("40"), 0);
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm terminate 40"));
    EXPECT_FALSE(hx::does_VM_name_exist("web-vm"));  // a terminated VM leaves the pool
}

// The platform's own view of the lock: the LOCK element of the VM's document.
class VmLockRun : public VmQueries {
protected:
    bool platform_locked(const std::string& vm) const
    {
        return platform.shell("/usr/bin/onevm show " + vm + " -x").out.find("<LOCKED>") != std::string::npos;
    }
};

TEST_F(VmLockRun, ScopedManagedLockIsConfirmedAndReleased)
{
    KEVRA_REQUIRE_SANDBOX();
    {
        hx::VM_lock lock("40");
        EXPECT_TRUE(lock.is_locked()) << all_records();
        EXPECT_EQ(lock.vm, "40");
        EXPECT_TRUE(platform_locked("40"));
        EXPECT_TRUE(called("onevm", "/usr/bin/onevm lock 40 --manage")) << call_log("onevm");
        EXPECT_TRUE(logged("VM '40' has been locked"));
    }
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm unlock 40")) << call_log("onevm");
    EXPECT_TRUE(logged("VM '40' has been unlocked"));
    EXPECT_FALSE(platform_locked("40"));
}

TEST_F(VmLockRun, PlainLockOfADefaultHolderNamesItsVm)
{
    KEVRA_REQUIRE_SANDBOX();
    {
        hx::VM_lock lock;
        EXPECT_FALSE(lock.unlock());  // nothing held: nothing run
        EXPECT_TRUE(platform.calls("onevm").empty()) << call_log("onevm");
        EXPECT_TRUE(lock.lock("41"));
        EXPECT_TRUE(logged("VM 41 has been locked")) << all_records();
        EXPECT_TRUE(called("onevm", "/usr/bin/onevm lock 41"));
        EXPECT_TRUE(platform_locked("41"));
    }
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm unlock 41")) << call_log("onevm");
    EXPECT_FALSE(platform_locked("41"));
}

TEST_F(VmLockRun, LockingAnotherVmReleasesTheFirst)
{
    KEVRA_REQUIRE_SANDBOX();
    hx::VM_lock lock("40");
    ASSERT_TRUE(lock.is_locked());
    lock.lock_manage_actions("41");
    EXPECT_TRUE(lock.is_locked());
    EXPECT_EQ(lock.vm, "41");
    EXPECT_FALSE(platform_locked("40"));
    EXPECT_TRUE(platform_locked("41"));
    EXPECT_TRUE(lock.lock("40"));
    EXPECT_FALSE(platform_locked("41"));
    EXPECT_FALSE(lock.unlock());
    EXPECT_FALSE(platform_locked("40"));
}

TEST_F(VmLockRun, RefusedLockIsOnlyWarned)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"fault", "onevm", "lock", "--exit", "255", "--stderr", "not authorized"});
    {
        hx::VM_lock lock("40");
        EXPECT_FALSE(lock.is_locked());
        EXPECT_FALSE(lock.lock("40"));
    }
    EXPECT_TRUE(logged("void hx_opennebula_common::VM_lock::lock_manage_actions(const std::string&): unable to lock "
                       "VM: 40"))
        << all_records();
    EXPECT_TRUE(logged("The following command failed: /usr/bin/onevm lock '40' --manage"));
    EXPECT_FALSE(logged("Error")) << all_records();
    EXPECT_FALSE(called("onevm", "/usr/bin/onevm show 40 -x"));
    EXPECT_FALSE(called("onevm", "/usr/bin/onevm unlock 40"));
}

struct UnconfirmedCase {
    const char* name;
    std::vector<std::string> fault;
    std::string warning;
};

std::ostream& operator<<(std::ostream& out, const UnconfirmedCase& c)
{
    return out << c.name;
}

class UnconfirmedLock : public VmLockRun, public ::testing::WithParamInterface<UnconfirmedCase> {};

TEST_P(UnconfirmedLock, IsReleasedAgainSoNoLockStaysBehind)
{
    KEVRA_REQUIRE_SANDBOX();
    std::vector<std::string> args = {"fault", "onevm", "show", "--times", "1"};
    args.insert(args.end(), GetParam().fault.begin(), GetParam().fault.end());
    platform.fixture(args);
    {
        hx::VM_lock lock("40");
        EXPECT_FALSE(lock.is_locked());
        EXPECT_TRUE(logged(GetParam().warning)) << all_records();
        EXPECT_FALSE(logged("Error")) << all_records();
    }
    EXPECT_FALSE(platform_locked("40"));
    EXPECT_TRUE(called("onevm", "/usr/bin/onevm unlock 40")) << call_log("onevm");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnconfirmedLock,
    ::testing::Values(
        UnconfirmedCase{"ShowFails", {"--exit", "255", "--stderr", "timeout"},
                        ": unable to make sure that VM '40' is locked"},
        UnconfirmedCase{"NotXml", {"--malformed"},
                        ": XML document not parsed successfully, unable to make sure that VM '40' is locked"},
        UnconfirmedCase{"OtherRoot", {"--exit", "0", "--stdout", "<HOST/>"},
                        // (the log record compresses the two blanks after the comma to one)
                        ": document of the wrong type, root node != VM, unable to make sure that VM '40' is locked"}),
    [](const ::testing::TestParamInfo<UnconfirmedCase>& info) { return std::string(info.param.name); });

TEST_F(VmLockRun, DocumentWithoutLockLeavesTheHolderUnlocked)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.fixture({"fault", "onevm", "lock", "--no-effect"});
    hx::VM_lock lock("40");
    EXPECT_FALSE(lock.is_locked());
    EXPECT_TRUE(logged(": unable to lock VM: 40")) << all_records();
}

TEST_F(VmLockRun, FailedUnlockKeepsTheLockHeld)
{
    KEVRA_REQUIRE_SANDBOX();
    hx::VM_lock lock("40");
    ASSERT_TRUE(lock.is_locked());
    platform.fixture({"fault", "onevm", "unlock", "--times", "1", "--exit", "255", "--stderr", "busy"});
    EXPECT_TRUE(lock.unlock());
    EXPECT_TRUE(logged("bool hx_opennebula_common::VM_lock::unlock(): can't unlock VM: 40")) << all_records();
    EXPECT_FALSE(lock.unlock());
    EXPECT_FALSE(platform_locked("40"));
}

}  // namespace
