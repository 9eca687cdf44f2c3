// Snapshot drivers without the sandbox: the choice of the driver, the dattobd
// state file read through a stand-in cat (active snapshots, free minors,
// malformed documents), and removals that must not touch anything.
#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <stdexcept>
#include <string>

#include "modules/snapshot_driver.h"
#include "tests/modules/snapshot_test_support.h"

namespace {

using module_test::LogCapture;
using snapshot_test::PathTools;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// ---- SnapshotFactory --------------------------------------------------------

struct FactoryCase {
    const char* name;
    const char* device_type;
    const char* snapshot_type;
    const char* driver;  // "lvm", "dattobd" or "" for none
    std::vector<std::string> logged;
};

std::ostream& operator<<(std::ostream& out, const FactoryCase& c)
{
    return out << c.name;
}

class Factory : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(Factory, PicksTheDriverForTheDeviceAndSnapshotType)
{
    const FactoryCase& c = GetParam();
    LogCapture log;
    std::unique_ptr<Snapshot> driver = SnapshotFactory().createSnapshot(c.device_type, c.snapshot_type);
    const std::string wanted = c.driver;
    if (wanted.empty()) {
        EXPECT_EQ(driver, nullptr);
    } else if (wanted == "lvm") {
        EXPECT_NE(dynamic_cast<SnapshotLVM*>(driver.get()), nullptr);
    } else {
        EXPECT_NE(dynamic_cast<SnapshotDattobd*>(driver.get()), nullptr);
    }
    for (const auto& line : c.logged) {
        EXPECT_TRUE(contains(log.text(), line)) << log.text();
    }
    if (c.logged.empty()) {
        EXPECT_EQ(log.text(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, Factory,
    ::testing::Values(
        FactoryCase{"LvmOnLvm", "lvm", "lvm", "lvm", {}},
        FactoryCase{"LvmOnPartition",
                    "part",
                    "lvm",
                    "",
                    {"Unable to use LVM snapshot for non-LVM volume: part, skip",
                     "SnapshotFactory:: it is impossible to determine the snapshot type. Block device type: part, "
                     "snapshot type: lvm"}},
        FactoryCase{"DattobdOnPartition", "part", "dattobd", "dattobd", {}},
        FactoryCase{"DattobdOnLvm", "lvm", "dattobd", "dattobd", {}},
        FactoryCase{"UnknownType", "lvm", "zfs", "", {"SnapshotFactory:: wrong value of OS snapshot type: zfs"}},
        FactoryCase{"EmptyType", "disk", "", "", {"SnapshotFactory:: wrong value of OS snapshot type: "}}),
    [](const ::testing::TestParamInfo<FactoryCase>& info) { return std::string(info.param.name); });

// ---- /proc/datto-info -------------------------------------------------------

const char* const kExists =
    "bool SnapshotDattobd::is_dattobd_snapshot_exists(const std::string&, bool&, std::string&) const";
const char* const kFree = "bool SnapshotDattobd::get_dattobd_free_minor(std::string&)";

struct StateCase {
    const char* name;
    const char* document;    // nullptr: the state file cannot be read
    bool exists_result;      // is_dattobd_snapshot_exists for /dev/sdb1
    bool exists;
    const char* minor;       // of the active snapshot of /dev/sdb1
    const char* exists_log;  // a part of the Error record, "" for none
    bool free_result;        // get_dattobd_free_minor
    const char* free_minor;
    const char* free_log;
};

std::ostream& operator<<(std::ostream& out, const StateCase& c)
{
    return out << c.name;
}

const StateCase kStates[] = {
    {"ActiveSnapshot",
     R"({"version":"0.11","devices":[{"minor":0,"block_device":"/dev/sda1"},{"minor":3,"block_device":"/dev/sdb1"}]})",
     true, true, "3", "", true, "4", ""},
    {"OtherDevicesOnly", R"({"devices":[{"minor":2,"block_device":"/dev/sda1"}]})", true, false, "", "", true, "3",
     ""},
    {"EmptyDeviceList", R"({"version":"0.11","devices":[]})", true, false, "", "", true, "0", ""},
    {"MinorAsString", R"({"devices":[{"block_device":"/dev/sdb1","minor":"7"}]})", true, true, "7", "", true, "8",
     ""},
    {"PrefixOfTheDevice", R"({"devices":[{"minor":1,"block_device":"/dev/sdb"}]})", true, false, "", "", true, "2",
     ""},
    {"EntriesWithoutMinor", R"({"devices":[{"block_device":"/dev/sda1"}]})", true, false, "", "", true, "0", ""},
    {"NoDeviceList", R"({"version":"0.11"})", true, false, "", "", false, "", ""},
    {"Unreadable", nullptr, false, false, "", ": command: cat /proc/datto-info", false, "",
     ": command: cat /proc/datto-info"},
    {"NotAnObject", R"([1,2])", false, false, "", ": json value is not an object", false, "",
     ": json value is not an object"},
    {"EmptyObject", R"({})", false, false, "", ": json object value is empty", false, "",
     ": json object value is empty"},
    {"DevicesNotAnArray", R"({"devices":{"minor":1}})", false, false, "", ": json value is not an array", false, "",
     ": json value is not an array"},
    {"EntryNotAnObject", R"({"devices":[5]})", false, false, "", ": json value is not an object", false, "",
     ": json value is not an object"},
    {"EntryEmpty", R"({"devices":[{}]})", false, false, "", ": json object value is empty", false, "",
     ": json object value is empty"},
};

class DattoState : public ::testing::TestWithParam<StateCase> {
protected:
    PathTools path_;
    SnapshotDattobd driver_;
    void SetUp() override
    {
        if (GetParam().document != nullptr) {
            path_.tools().answer("datto-info", GetParam().document);
        }
    }
};

TEST_P(DattoState, TellsWhetherTheDeviceHasAnActiveSnapshot)
{
    const StateCase& c = GetParam();
    LogCapture log;
    bool exists = !c.exists;
    std::string minor = "unchanged";
    EXPECT_EQ(driver_.is_dattobd_snapshot_exists("/dev/sdb1", exists, minor), c.exists_result);
    EXPECT_EQ(exists, c.exists);
    EXPECT_EQ(minor, c.exists ? std::string(c.minor) : "unchanged");
    if (*c.exists_log != '\0') {
        EXPECT_TRUE(contains(log.text(), std::string(kExists) + c.exists_log)) << log.text();
    } else {
        EXPECT_FALSE(contains(log.text(), "Error: ")) << log.text();
    }
    EXPECT_EQ(path_.tools().calls(), std::vector<std::string>{"cat [/proc/datto-info]"});
}

TEST_P(DattoState, ChoosesTheMinorAfterTheHighestOne)
{
    const StateCase& c = GetParam();
    LogCapture log;
    std::string minor = "unchanged";
    EXPECT_EQ(driver_.get_dattobd_free_minor(minor), c.free_result);
    EXPECT_EQ(minor, c.free_result ? std::string(c.free_minor) : "unchanged");
    if (*c.free_log != '\0') {
        EXPECT_TRUE(contains(log.text(), std::string(kFree) + c.free_log)) << log.text();
    } else {
        EXPECT_EQ(log.text(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Snapshot, DattoState, ::testing::ValuesIn(kStates),
                         [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

struct ThrowCase {
    const char* name;
    std::string document;
};

std::ostream& operator<<(std::ostream& out, const ThrowCase& c)
{
    return out << c.name;
}

class DattoSyntax : public ::testing::TestWithParam<ThrowCase> {};

// Documents that strict JSON refuses reach the caller as the JSON library's exception.
TEST_P(DattoSyntax, ReachesTheCallerAsAnException)
{
    PathTools path;
    path.tools().answer("datto-info", GetParam().document);
    SnapshotDattobd driver;
    bool exists = false;
    std::string minor;
    LogCapture log;
    EXPECT_THROW(driver.is_dattobd_snapshot_exists("/dev/sdb1", exists, minor), boost::system::system_error);
    EXPECT_THROW(driver.get_dattobd_free_minor(minor), boost::system::system_error);
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, DattoSyntax,
    ::testing::Values(ThrowCase{"TrailingComma", R"({"devices":[{"minor":1,"block_device":"/dev/sdb1"},]})"},
                      ThrowCase{"Comment", "{\"devices\":[] /* none */}"},
                      ThrowCase{"InvalidUtf8", "{\"devices\":[{\"minor\":1,\"block_device\":\"/dev/\xff\"}]}"},
                      ThrowCase{"TooDeep", "{\"devices\":" + std::string(40, '[') + std::string(40, ']') + "}"},
                      ThrowCase{"Truncated", R"({"devices":[{"minor":1)"}, ThrowCase{"Empty", ""}),
    [](const ::testing::TestParamInfo<ThrowCase>& info) { return std::string(info.param.name); });

TEST(DattoMinor, AMinorThatIsNoNumberReachesTheCaller)
{
    PathTools path;
    path.tools().answer("datto-info", R"({"devices":[{"minor":"x1","block_device":"/dev/sda1"}]})");
    SnapshotDattobd driver;
    std::string minor;
    EXPECT_THROW(driver.get_dattobd_free_minor(minor), std::invalid_argument);
}

// ---- Removals that have nothing of their own to remove ----------------------------

TEST(DattoRemove, AnObjectThatMadeNoSnapshotLeavesActiveOnesAlone)
{
    PathTools path;
    path.tools().answer("datto-info", R"({"devices":[{"minor":0,"block_device":"/dev/sdb1"}]})");
    SnapshotDattobd driver;
    LogCapture log;
    EXPECT_TRUE(driver.remove("/dev/sdb1"));
    EXPECT_TRUE(path.tools().calls().empty());
}

TEST(DattoCreate, WithoutACheckNoMinorIsChosenAndNothingRuns)
{
    PathTools path;
    SnapshotDattobd driver;
    LogCapture log;
    std::string snapshot = "unchanged";
    EXPECT_FALSE(driver.create("/dev/sdb1", "sdb1", path.scratch(), "T1", 1 << 30, snapshot));
    EXPECT_EQ(snapshot, "unchanged");
    EXPECT_TRUE(contains(log.text(), "check must precede create")) << log.text();
    EXPECT_TRUE(path.tools().calls().empty());
}

TEST(LvmRemove, BeforeAnyCreateFailsWithoutRunningLvremove)
{
    SnapshotLVM driver;
    LogCapture log;
    EXPECT_TRUE(driver.check("/dev/vg0/data"));
    EXPECT_FALSE(driver.remove("/dev/vg0/data"));
    EXPECT_TRUE(contains(log.text(), "SnapshotLVM: LVM snapshot path is empty, unable to remove LVM snapshot"))
        << log.text();
}

}  // namespace
