// A termination while the recursive clone of a backup stands between its two
// steps: the new template exists, its disks still naming the source
// template's images (or some already switched to their copies). The
// clean-up finds the clone by its name and deletes it without its images;
// of the images its disks name it deletes only those that can be nothing
// but the clone's own copies. The images of the template being backed up
// stay READY, each named in an Error record by ID and owner.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "common/termination.h"
#include "tests/e2e/backup_e2e_support.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::lines_of;
using lock_signal_test::Role;

// The grace of the hung command, then the clean-up's commands.
const double kEndWithin =
    std::chrono::duration<double>(kelvomar::termination::kNamingCommandGrace).count() + 30;

struct HalfDoneClone {
    const char* name;
    int cloned_disks;     // image disks cloned and switched to their copies before the clone hangs
    bool stale_namesake;  // the first disk's image is an older image named like the clone's first copy
};

std::ostream& operator<<(std::ostream& out, const HalfDoneClone& c) { return out << c.name; }

// One image as the test reads it back.
struct Image {
    std::string name;
    std::string state;
    std::string owner;
};

class EndedClone : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<HalfDoneClone> {
protected:
    // The platform's images by ID.
    std::map<std::string, Image> images() const
    {
        std::map<std::string, Image> found;
        for (const std::string& line : lines_of(platform_.fixture({"list", "images"}))) {
            const auto first = line.find('\t');
            const auto second = line.find('\t', first + 1);
            const std::string id = line.substr(0, first);
            found[id] = {line.substr(first + 1, second - first - 1), line.substr(second + 1),
                         platform_.fixture({"get", "image", id, "owner"})};
        }
        return found;
    }

    std::size_t named_like(const std::string& prefix) const
    {
        std::size_t count = 0;
        for (const auto& image : images()) {
            count += image.second.name.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        }
        return count;
    }
};

// True when some line of `log` holds every one of `pieces`.
bool a_line_holds(const std::string& log, const std::vector<std::string>& pieces)
{
    for (const std::string& line : lines_of(log)) {
        if (std::all_of(pieces.begin(), pieces.end(), [&](const std::string& p) { return contains(line, p); })) {
            return true;
        }
    }
    return false;
}

TEST_P(EndedClone, DeletesTheCloneAndOnlyItsOwnCopiesTheSourceImagesStayReady)
{
    KEVRA_REQUIRE_SANDBOX();
    const HalfDoneClone& c = GetParam();
    platform_.datastore({"--name", "default"});
    // A deleted image stays DELETE for a while, as on the platform.
    platform_.fixture({"config", "--delete-queries", "1"});
    // The source images in disk order.
    const std::vector<std::string> sources = {
        platform_.image({"--name", c.stale_namesake ? "bk1-disk-0" : "web-os", "--datastore", "default", "--prefix",
                         "vd", "--content", "web-os boot sector"}),
        platform_.image({"--name", "web-data", "--datastore", "default", "--type", "DATABLOCK", "--persistent"}),
        platform_.image({"--name", "shared-iso", "--datastore", "default", "--type", "CDROM", "--owner", "alice"})};
    platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + sources[0], "--disk", "TYPE=fs,SIZE=10",
                           "--disk", "IMAGE=web-data,IMAGE_UNAME=oneadmin", "--disk",
                           "IMAGE=shared-iso,IMAGE_UNAME=alice"});
    const std::map<std::string, Image> before = images();
    platform_.fixture({"fault", "onetemplate", "clone", "--hang-between", "300", "--cloned-disks",
                       std::to_string(c.cloned_disks)});

    Role run({kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer,
              "-T", kTask},
             {});
    ASSERT_TRUE(lock_signal_test::wait_until(
        [&] {
            return contains(platform_.fixture({"list", "templates"}), "\tbk1") &&
                   named_like("bk1-disk-") == static_cast<std::size_t>(c.cloned_disks + (c.stale_namesake ? 1 : 0));
        },
        60))
        << "the clone does not stand between its steps\n"
        << log();
    const std::map<std::string, Image> between = images();

    ::kill(run.pid(), SIGTERM);
    EXPECT_TRUE(run.ended_within(kEndWithin)) << "the run did not end within " << kEndWithin << " s of the signal";
    EXPECT_EQ(run.wait(0), 17) << "exit status\n" << run.out() << run.err();
    const std::string text = log();

    EXPECT_FALSE(contains(platform_.fixture({"list", "templates"}), "\tbk1")) << "the clone is left\n" << text;
    for (const std::string& call : platform_.calls("onetemplate")) {
        EXPECT_FALSE(contains(call, " delete ") && contains(call, "--recursive"))
            << "the ended clone was deleted with the images its disks name: " << call;
    }
    const std::map<std::string, Image> after = images();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Image& source = before.at(sources[i]);
        const auto now = after.find(sources[i]);
        ASSERT_NE(now, after.end()) << "the source image " << sources[i] << " " << source.name << " was deleted\n"
                                    << text;
        EXPECT_EQ(now->second.state, "1") << "the source image " << sources[i] << " " << source.name
                                          << " is not READY\n"
                                          << text;
        // The disks not switched yet name the source's images: those stay, named.
        if (i >= static_cast<std::size_t>(c.cloned_disks)) {
            EXPECT_TRUE(a_line_holds(text, {"Error", sources[i] + " (owner " + source.owner + ")", "stays"}))
                << "no Error record names the source image " << sources[i] << " by ID and owner\n"
                << text;
        }
    }
    // The clone's own copies go (DELETE, then gone).
    for (const auto& image : between) {
        if (before.count(image.first) != 0) {
            continue;
        }
        const auto now = after.find(image.first);
        EXPECT_TRUE(now == after.end() || now->second.state == "7")
            << "the clone's copy " << image.first << " " << image.second.name << " is left\n"
            << text;
        const std::vector<std::string> calls = platform_.calls("oneimage");
        EXPECT_NE(std::find(calls.begin(), calls.end(), "/usr/bin/oneimage delete " + image.first), calls.end())
            << "the clone's copy " << image.first << " was not deleted by its ID";
    }
    for (const auto& image : after) {
        EXPECT_TRUE(before.count(image.first) != 0 || between.count(image.first) != 0)
            << "an image " << image.first << " " << image.second.name << " appeared after the clone was ended";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EndedClone,
    ::testing::Values(HalfDoneClone{"NoImageClonedYet", 0, false}, HalfDoneClone{"FirstImageCloned", 1, false},
                      HalfDoneClone{"TwoImagesCloned", 2, false},
                      HalfDoneClone{"SourceImageNamedLikeTheFirstCopy", 0, true}),
    [](const ::testing::TestParamInfo<HalfDoneClone>& info) { return std::string(info.param.name); });

}  // namespace
