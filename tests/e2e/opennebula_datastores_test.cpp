// Datastore queries and the choice of a datastore with room, against the stand-ins.
#include <gtest/gtest.h>

#include <string>

#include "opennebula/datastore_choice.h"
#include "opennebula/datastore_queries.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace hx = hx_opennebula_common;

namespace {

class DatastoreQueries : public opennebula_test::PlatformRun {};

TEST_F(DatastoreQueries, FactsOfOneDatastore)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string id = platform.datastore({"--name", "images", "--tm-mad", "lvm_lvm", "--free-mb", "777",
                                               "--safe-dirs", "/var/tmp/restore /srv"});
    EXPECT_TRUE(hx::does_datastore_exist(id));
    EXPECT_TRUE(hx::does_datastore_exist("images"));
    EXPECT_FALSE(hx::does_datastore_exist("99"));
    int free_mb = 0;
    EXPECT_EQ(hx::get_datastore_capacity_mb(id, free_mb), 0) << all_records();
    EXPECT_EQ(free_mb, 777);
    EXPECT_EQ(hx::get_datastore_tm_mad(id), hx::TM_MAD_LVM_LVM);
    int type = 5;
    EXPECT_EQ(hx::get_datastore_type(id, type), 0);
    EXPECT_EQ(type, 0);
    std::string dirs;
    EXPECT_EQ(hx::get_safe_dirs_from_datastore(id, dirs), 0);
    EXPECT_EQ(dirs, "/var/tmp/restore /srv");
    // Bare and quoted arguments as the tools were given them.
    EXPECT_TRUE(called("onedatastore", "/usr/bin/onedatastore show " + id + " -x")) << call_log("onedatastore");
    EXPECT_TRUE(called("onedatastore", "/usr/bin/onedatastore show " + id));
}

TEST_F(DatastoreQueries, DriversOutsideTheTableAndMissingElements)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string shouting = platform.datastore({"--name", "a", "--tm-mad", "CEPH"});
    EXPECT_EQ(hx::get_datastore_tm_mad(shouting), hx::TM_MAD_NONE);
    EXPECT_TRUE(records().empty()) << "a driver outside the table is no error of the query";
    EXPECT_EQ(hx::get_datastore_tm_mad("99"), hx::TM_MAD_NONE);
    EXPECT_TRUE(logged(": command was: /usr/bin/onedatastore show 99 -x")) << all_records();

    clear_records();
    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><ID>7</ID></DATASTORE>"});
    int type = 3;
    EXPECT_EQ(hx::get_datastore_type("7", type), 1);
    EXPECT_EQ(type, -1);
    EXPECT_TRUE(logged(": can't get type of datastore ID: \"7\"")) << all_records();

    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><ID>7</ID></DATASTORE>"});
    int free_mb = 42;
    EXPECT_EQ(hx::get_datastore_capacity_mb("7", free_mb), 0);
    EXPECT_EQ(free_mb, 42) << "no FREE_MB leaves the caller's value";

    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><FREE_MB></FREE_MB></DATASTORE>"});
    EXPECT_EQ(hx::get_datastore_capacity_mb("7", free_mb), 1);
    EXPECT_TRUE(logged(": got empty FREE_MB value for datastore with ID 7")) << all_records();

    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><FREE_MB>lots</FREE_MB></DATASTORE>"});
    EXPECT_EQ(hx::get_datastore_capacity_mb("7", free_mb), 1) << "the conversion failure is caught";

    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><TEMPLATE/></DATASTORE>"});
    std::string dirs;
    EXPECT_EQ(hx::get_safe_dirs_from_datastore("7", dirs), 1);
    EXPECT_TRUE(logged(": got empty SAFE_DIRS value")) << all_records();

    platform.fixture({"fault", "onedatastore", "show", "--times", "1", "--no-effect", "--stdout",
                      "<DATASTORE><TYPE>image</TYPE></DATASTORE>"});
    EXPECT_THROW(hx::get_datastore_type("7", type), std::invalid_argument);
}

TEST_F(DatastoreQueries, ChoiceThroughThePool)
{
    KEVRA_REQUIRE_SANDBOX();
    platform.datastore({"--name", "sys", "--type", "system", "--tm-mad", "shared", "--free-mb", "90000"});
    platform.datastore({"--name", "small", "--free-mb", "100"});
    const std::string big = platform.datastore({"--name", "big", "--tm-mad", "ceph", "--free-mb", "500"});
    std::string id;
    EXPECT_EQ(hx::get_any_image_datastore(100, id), 0) << all_records();
    EXPECT_EQ(id, big);
    EXPECT_EQ(hx::get_any_image_datastore(500, id), 1);
    EXPECT_TRUE(logged(": can't find no suitable datastore for the datastore type: \"0\"")) << all_records();
    EXPECT_EQ(hx::get_any_system_datastore_by_tm_mad(hx::TM_MAD_CEPH, 0, id), 1);
    EXPECT_EQ(hx::get_any_system_datastore_by_tm_mad(hx::TM_MAD_SHARED, 0, id), 0);
    EXPECT_EQ(id, "0");

    platform.fixture({"fault", "onedatastore", "list", "--times", "1", "--exit", "255", "--stderr", "down"});
    EXPECT_EQ(hx::get_any_image_datastore(1, id), 1);
    EXPECT_TRUE(logged(": command was: /usr/bin/onedatastore list -x")) << all_records();
    EXPECT_TRUE(logged("Command output: down")) << all_records();
}

}  // namespace
