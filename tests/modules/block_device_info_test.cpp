// Block devices and mount points: the mounts table lookup, the stat, realpath
// and lsblk command lines (through stand-ins) and the lsblk JSON, good and malformed.
#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "modules/mount_table.h"
#include "tests/modules/snapshot_test_support.h"

namespace {

using module_test::LogCapture;
using snapshot_test::lsblk_json;
using snapshot_test::PathTools;
using snapshot_test::SnapshotModule;
using Info = HxModuleUniversal::block_device_info;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

const char* const kInfo = "bool HxModuleUniversal::get_block_device_info(const std::string&, block_device_info&) const";

// ---- The mounts table ---------------------------------------------------------

const char* const kTable =
    "sysfs /sys sysfs rw,nosuid 0 0\n"
    "/dev/sda1 / ext4 rw,relatime 0 0\n"
    "/dev/mapper/vg0-data /srv/my\\040data xfs rw 0 0\n"
    "/dev/sdb1 /mnt/stacked ext4 rw 0 0\n"
    "/dev/sdc1 /mnt/stacked ext4 rw 0 0\n"
    "/dev/sdd1 /mnt/back\\134slash ext4 rw 0 0\n"
    "/dev/sde1 /mnt/tab\\011bed ext4 rw 0 0\n"
    "/dev/disk\\040one /mnt/odd ext4 rw 0 0\n"
    "/dev/sdf1 /srv/my ext4 rw 0 0\n";

struct MountCase {
    const char* name;
    std::string mount_point;
    bool found;
    const char* device;
};

std::ostream& operator<<(std::ostream& out, const MountCase& c)
{
    return out << c.name;
}

class MountTable : public ::testing::TestWithParam<MountCase> {};

TEST_P(MountTable, FindsTheDeviceOfTheFirstMatchingLine)
{
    const MountCase& c = GetParam();
    std::istringstream table(kTable);
    std::string device = "unchanged";
    EXPECT_EQ(kelvomar::module::find_mounted_device(table, c.mount_point, device), c.found);
    EXPECT_EQ(device, c.found ? std::string(c.device) : "unchanged");
}

INSTANTIATE_TEST_SUITE_P(
    Snapshot, MountTable,
    ::testing::Values(MountCase{"Root", "/", true, "/dev/sda1"},
                      MountCase{"BlankInTheMountPoint", "/srv/my data", true, "/dev/mapper/vg0-data"},
                      MountCase{"PrefixOfABlankName", "/srv/my", true, "/dev/sdf1"},
                      MountCase{"StackedMountsFirstWins", "/mnt/stacked", true, "/dev/sdb1"},
                      MountCase{"Backslash", "/mnt/back\\slash", true, "/dev/sdd1"},
                      MountCase{"Tab", "/mnt/tab\tbed", true, "/dev/sde1"},
                      MountCase{"EscapedDeviceIsUnescaped", "/mnt/odd", true, "/dev/disk one"},
                      MountCase{"EscapedTextIsNotAPath", "/srv/my\\040data", false, ""},
                      MountCase{"NotMounted", "/mnt/none", false, ""},
                      MountCase{"TrailingSlash", "/mnt/stacked/", false, ""}),
    [](const ::testing::TestParamInfo<MountCase>& info) { return std::string(info.param.name); });

// ---- stat and /proc/mounts of this machine -------------------------------------------

class MountPoints : public ::testing::Test {
protected:
    PathTools path_;
    SnapshotModule module_;
};

TEST_F(MountPoints, TheMountPointOfAPathComesFromStatWithItsLineEndRemoved)
{
    path_.tools().answer("mountpoints.json", R"({"/srv/data/vm 1'x.img": "/srv/data"})");
    EXPECT_EQ(module_.get_mountpoint("/srv/data/vm 1'x.img"), "/srv/data");
    EXPECT_EQ(path_.tools().calls("stat"), std::vector<std::string>{"stat [-c] [%m] [--] [/srv/data/vm 1'x.img]"});
}

TEST_F(MountPoints, AFailingStatGivesAnEmptyMountPointAndTheCommand)
{
    path_.tools().answer("mountpoints.json", R"({"/srv/x": "/srv"})");
    path_.tools().answer("stat.status", "1");
    path_.tools().answer("stat.fail", "stat: cannot statx '/srv/x': No such file or directory\n");
    LogCapture log;
    EXPECT_EQ(module_.get_mountpoint("/srv/x"), "");
    EXPECT_TRUE(contains(log.text(), "std::string HxModuleUniversal::get_mountpoint(const std::string&) const: "
                                     "command: stat -c %m -- '/srv/x'"))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "No such file or directory")) << log.text();
}

// "/" is mounted on every machine; what is mounted there is the first "/" line of /proc/mounts.
TEST_F(MountPoints, TheDeviceMountedAtRootIsTheOneInProcMounts)
{
    std::string expected;
    ASSERT_TRUE(kelvomar::module::find_mounted_device("/", expected));
    EXPECT_EQ(module_.get_block_device("/", false), expected);
    EXPECT_TRUE(path_.tools().calls().empty());

    path_.tools().answer("realpath.json", "{\"" + expected + "\": \"/dev/resolved-root\"}");
    EXPECT_EQ(module_.get_block_device("/", true), "/dev/resolved-root");
    EXPECT_EQ(path_.tools().calls(), std::vector<std::string>{"realpath [" + expected + "]"});
}

TEST_F(MountPoints, AMountPointThatIsNotMountedIsReportedWithItsBlanks)
{
    LogCapture log;
    EXPECT_EQ(module_.get_block_device("/no such/mount point", true), "");
    EXPECT_TRUE(contains(log.text(), "Mount point /no such/mount point not found in '/proc/mounts'")) << log.text();
    EXPECT_TRUE(path_.tools().calls().empty());
}

TEST_F(MountPoints, AFailingRealpathGivesAnEmptyDevice)
{
    std::string root;
    ASSERT_TRUE(kelvomar::module::find_mounted_device("/", root));
    path_.tools().answer("realpath.json", "{\"" + root + "\": \"x\"}");
    path_.tools().answer("realpath.status", "1");
    LogCapture log;
    EXPECT_EQ(module_.get_block_device("/", true), "");
    EXPECT_TRUE(contains(log.text(), ": command: realpath '" + root + "'")) << log.text();
}

// ---- lsblk -----------------------------------------------------------------------

const std::string kFirst = lsblk_json(
    R"("name":"vg0-data", "maj:min":"253:2", "rm":false, "size":10737418240, "ro":false, "type":"lvm", "mountpoints":["/srv/data"])");
const std::string kSecond = lsblk_json(
    R"("name":"vg0-data", "fstype":"xfs", "fsver":null, "label":"data", "uuid":"8e2c-11", "fsavail":"5368709120", "fsuse%":"50%", "mountpoints":["/srv/data", "/srv/bind"])");

class DeviceInfo : public ::testing::Test {
protected:
    PathTools path_;
    SnapshotModule module_;
};

TEST_F(DeviceInfo, TwoLsblkRunsFillTheRecord)
{
    path_.tools().answer("lsblk-bJ", kFirst);
    path_.tools().answer("lsblk-bfJ", kSecond);
    Info info;
    ASSERT_TRUE(module_.get_block_device_info("/dev/mapper/vg0-data", info));
    EXPECT_EQ(info.name, "vg0-data");
    EXPECT_EQ(info.size, 10737418240u);
    EXPECT_FALSE(info.ro);
    EXPECT_EQ(info.type, "lvm");
    EXPECT_EQ(info.fstype, "xfs");
    EXPECT_EQ(info.fsver, "null");
    EXPECT_EQ(info.label, "data");
    EXPECT_EQ(info.uuid, "8e2c-11");
    EXPECT_EQ(info.fsavail, 5368709120u);
    EXPECT_EQ(info.mountpoints, (std::vector<std::string>{"\"/srv/data\"", "\"/srv/bind\""}));
    EXPECT_EQ(path_.tools().calls(), (std::vector<std::string>{"lsblk [-bJ] [/dev/mapper/vg0-data]",
                                                               "lsblk [-bfJ] [/dev/mapper/vg0-data]"}));
}

TEST_F(DeviceInfo, ADeviceNameTheShellWouldReadIsOneArgument)
{
    path_.tools().answer("lsblk-bJ", lsblk_json(R"("name":"x")"));
    path_.tools().answer("lsblk-bfJ", lsblk_json(R"("name":"x")"));
    Info info;
    ASSERT_TRUE(module_.get_block_device_info("/dev/x'; touch /tmp/owned; '", info));
    EXPECT_EQ(path_.tools().calls("lsblk").at(0), "lsblk [-bJ] [/dev/x'; touch /tmp/owned; ']");
}

struct LsblkCase {
    const char* name;
    std::string first;   // output of lsblk -bJ
    std::string second;  // output of lsblk -bfJ
    bool result;
    const char* logged;  // a part of an Error record after the signature, "" for none
    std::function<void(const Info&)> check;
};

std::ostream& operator<<(std::ostream& out, const LsblkCase& c)
{
    return out << c.name;
}

const std::string kPlain = lsblk_json(R"("name":"sdb1","size":1048576,"type":"part")");

const LsblkCase kLsblkCases[] = {
    {"NoBlockdevicesMember", R"({"other":1})", R"({"other":[]})", true, "",
     [](const Info& i) {
         EXPECT_EQ(i.name, "");
         EXPECT_EQ(i.size, 0u);
         EXPECT_TRUE(i.mountpoints.empty());
     }},
    {"UnmountedDevice", kPlain, lsblk_json(R"("fstype":"ext4","fsavail":null,"mountpoints":[null])"), true,
     ": can't convert null to uintmax_t",
     [](const Info& i) {
         EXPECT_EQ(i.fstype, "ext4");
         EXPECT_EQ(i.fsavail, 0u);
         EXPECT_EQ(i.mountpoints, std::vector<std::string>{"null"});
     }},
    {"SizeNull", lsblk_json(R"("name":"sdb1","size":null)"), kPlain, false, ": can't convert null to uintmax_t",
     nullptr},
    {"SizeNegative", lsblk_json(R"("name":"sdb1","size":-1)"), kPlain, false, ": can't convert -1 to uintmax_t",
     nullptr},
    {"SizeAsDigitsText", lsblk_json(R"("size":"4096")"), kPlain, true, "",
     [](const Info& i) { EXPECT_EQ(i.size, 4096u); }},
    {"RoTrue", lsblk_json(R"("ro":true)"), kPlain, true, "", [](const Info& i) { EXPECT_TRUE(i.ro); }},
    {"RoFalse", lsblk_json(R"("ro":false)"), kPlain, true, "", [](const Info& i) { EXPECT_FALSE(i.ro); }},
    {"RoOneOfOlderReleases", lsblk_json(R"("ro":"1")"), kPlain, true, "", [](const Info& i) { EXPECT_TRUE(i.ro); }},
    {"RoZeroOfOlderReleases", lsblk_json(R"("ro":"0")"), kPlain, true, "", [](const Info& i) { EXPECT_FALSE(i.ro); }},
    {"OnlyTheFirstEntry", R"({"blockdevices":[{"name":"sda"},{"name":"sdb"}]})", kPlain, true, "",
     [](const Info& i) { EXPECT_EQ(i.name, "sda"); }},
    {"NotAnObject", R"(["sda"])", kPlain, false, ": json value is not an object", nullptr},
    {"EmptyObject", "{}", kPlain, false, ": json object value is empty", nullptr},
    {"DevicesNotAnArray", R"({"blockdevices":{"name":"sda"}})", kPlain, false, ": json value is not an array",
     nullptr},
    {"DevicesEmpty", R"({"blockdevices":[]})", kPlain, false, ": array is empty", nullptr},
    {"EntryNotAnObject", R"({"blockdevices":["sda"]})", kPlain, false, ": json value is not an object", nullptr},
    {"EntryEmpty", R"({"blockdevices":[{}]})", kPlain, false, ": json object value is empty", nullptr},
    {"SecondRunMalformed", kPlain, R"({"blockdevices":[]})", false, ": array is empty", nullptr},
};

class Lsblk : public ::testing::TestWithParam<LsblkCase> {};

TEST_P(Lsblk, OutputIsReadStrictly)
{
    const LsblkCase& c = GetParam();
    PathTools path;
    path.tools().answer("lsblk-bJ", c.first);
    path.tools().answer("lsblk-bfJ", c.second);
    SnapshotModule module;
    LogCapture log;
    Info info;
    EXPECT_EQ(module.get_block_device_info("/dev/sdb1", info), c.result);
    if (*c.logged != '\0') {
        EXPECT_TRUE(contains(log.text(), std::string(kInfo) + c.logged)) << log.text();
    } else {
        EXPECT_FALSE(contains(log.text(), "Error: ")) << log.text();
    }
    if (c.check) {
        c.check(info);
    }
}

INSTANTIATE_TEST_SUITE_P(Snapshot, Lsblk, ::testing::ValuesIn(kLsblkCases),
                         [](const ::testing::TestParamInfo<LsblkCase>& info) { return std::string(info.param.name); });

TEST(LsblkFailure, AFailingRunIsLoggedWithItsCommandAndOutput)
{
    PathTools path;
    SnapshotModule module;
    LogCapture log;
    Info info;
    EXPECT_FALSE(module.get_block_device_info("/dev/sdz", info));
    EXPECT_TRUE(contains(log.text(), std::string(kInfo) + ": command: lsblk -bJ '/dev/sdz'")) << log.text();
    EXPECT_TRUE(contains(log.text(), "lsblk: /dev/sdz: not a block device")) << log.text();
}

TEST(LsblkFailure, AJsonSyntaxErrorReachesTheCaller)
{
    for (const char* text : {"{\"blockdevices\":[{\"name\":\"sda\"},]}", "{\"blockdevices\":[] // x\n}"}) {
        PathTools path;
        path.tools().answer("lsblk-bJ", text);
        SnapshotModule module;
        Info info;
        EXPECT_THROW(module.get_block_device_info("/dev/sda", info), boost::system::system_error) << text;
    }
}

}  // namespace
