// A termination while a platform command that names what it made (the clone,
// an image create, the template create) hangs: the command gets its grace and
// is then ended, and the clean-up looks for its object by the free name the
// run chose. It deletes the one object that can only be the command's (the
// name, the owner the command makes objects as, an ID above every ID seen
// before the command); another platform user's object of that name, made
// while the command hung, stays with its images and is named in an Error
// record. The run ends with 17 and leaves no object of its own, no file in
// the safe directory, no working directory and no lock behind.
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "common/termination.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

namespace fs = boost::filesystem;
using kevra_e2e::contains;
using lock_signal_test::Role;

// The grace of the hung command, then the clean-up's commands.
const double kEndWithin =
    std::chrono::duration<double>(kelvomar::termination::kNamingCommandGrace).count() + 30;

// Another platform user, who makes an object of the command's name while it hangs.
const char* const kOtherUser = "alice";

struct HungCommand {
    const char* name;
    std::vector<std::string> fault;  // fixture fault arguments: the tool and its subcommand
    bool restore;                    // a restore, else a backup
    const char* kind;                // "templates" or "images": where the object appears
    const char* object;              // the name the run gives the command's object
    bool own_object;                 // the command makes its object before it hangs
    bool other_user;                 // meanwhile another user makes an object of that name
};

std::ostream& operator<<(std::ostream& out, const HungCommand& c) { return out << c.name; }

// One platform object as the test reads it back.
struct Owned {
    std::string id;
    std::string name;
    std::string owner;
    bool operator==(const Owned& o) const { return id == o.id && name == o.name && owner == o.owner; }
    bool operator<(const Owned& o) const { return std::stoul(id) < std::stoul(o.id); }
};

std::ostream& operator<<(std::ostream& out, const Owned& o)
{
    return out << o.id << " " << o.name << " (owner " << o.owner << ")";
}

class HungNamingCommand : public kevra_e2e::TemplateRestoreTest, public ::testing::WithParamInterface<HungCommand> {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        platform_.datastore({"--name", "default"});
        const std::string os = platform_.image(
            {"--name", "web-os", "--datastore", "default", "--prefix", "vd", "--content", "web-os boot sector"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os});
    }

    std::vector<std::string> program_and(std::vector<std::string> args) const
    {
        args.insert(args.begin(), kevra_test::build_path("kevra_template"));
        return args;
    }

    // The platform's templates or images with their owners, in ID order.
    std::vector<Owned> owned(const std::string& kind) const
    {
        std::vector<Owned> objects;
        if (kind == "templates") {
            const std::vector<std::string> rows = kevra_e2e::lines_of(platform_.fixture({"list", kind, "--table"}));
            for (std::size_t i = 1; i < rows.size(); ++i) {  // after the header: ID NAME OWNER DISKS
                std::istringstream row(rows[i]);
                Owned o;
                row >> o.id >> o.name >> o.owner;
                objects.push_back(o);
            }
        } else {
            for (const std::string& line : kevra_e2e::lines_of(platform_.fixture({"list", kind}))) {
                const auto first = line.find('\t');
                const auto second = line.find('\t', first + 1);
                Owned o{line.substr(0, first), line.substr(first + 1, second - first - 1), ""};
                o.owner = platform_.fixture({"get", "image", o.id, "owner"});
                objects.push_back(o);
            }
        }
        std::sort(objects.begin(), objects.end());
        return objects;
    }

    std::size_t named_count(const std::string& kind, const std::string& name) const
    {
        const std::vector<Owned> objects = owned(kind);
        return static_cast<std::size_t>(
            std::count_if(objects.begin(), objects.end(), [&](const Owned& o) { return o.name == name; }));
    }
};

// The objects of `after` that `before` does not hold.
std::vector<Owned> added(const std::vector<Owned>& before, const std::vector<Owned>& after)
{
    std::vector<Owned> more;
    for (const Owned& o : after) {
        if (std::find(before.begin(), before.end(), o) == before.end()) {
            more.push_back(o);
        }
    }
    return more;
}

// True when some line of `log` holds every one of `pieces`.
bool a_line_holds(const std::string& log, const std::vector<std::string>& pieces)
{
    for (const std::string& line : kevra_e2e::lines_of(log)) {
        if (std::all_of(pieces.begin(), pieces.end(), [&](const std::string& p) { return contains(line, p); })) {
            return true;
        }
    }
    return false;
}

TEST_P(HungNamingCommand, IsEndedAfterItsGraceAndOnlyWhatItMadeIsDeleted)
{
    const HungCommand& c = GetParam();
    if (c.restore) {
        back_up("web");
    }
    const std::vector<std::string> args =
        c.restore ? restore_arguments()
                  : std::vector<std::string>{"-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask};
    const std::vector<Owned> templates_before = owned("templates");
    const std::vector<Owned> images_before = owned("images");
    std::vector<std::string> fault{"fault"};
    fault.insert(fault.end(), c.fault.begin(), c.fault.end());
    fault.insert(fault.end(), {c.own_object ? "--hang" : "--hang-before", "300"});
    if (c.other_user) {
        fault.insert(fault.end(), {"--meanwhile-owner", kOtherUser});
    }
    platform_.fixture(fault);

    Role run(program_and(args), {});
    const std::size_t expected = (c.own_object ? 1 : 0) + (c.other_user ? 1 : 0);
    const std::string what = std::string(c.kind) == "templates" ? "template" : "image";
    ASSERT_TRUE(lock_signal_test::wait_until([&] { return named_count(c.kind, c.object) == expected; }, 60))
        << "no " << expected << " objects named " << c.object << " while the command hangs\n"
        << log();
    // What the other user made while the command hung: the object of its name, and a clone's images.
    std::vector<Owned> others = added(templates_before, owned("templates"));
    const std::vector<Owned> others_images = added(images_before, owned("images"));
    others.insert(others.end(), others_images.begin(), others_images.end());
    others.erase(std::remove_if(others.begin(), others.end(), [](const Owned& o) { return o.owner != kOtherUser; }),
                 others.end());
    const auto other = std::find_if(others.begin(), others.end(), [&](const Owned& o) { return o.name == c.object; });
    ASSERT_EQ(other != others.end(), c.other_user) << "the other user's object named " << c.object;
    if (c.other_user && !c.restore) {
        EXPECT_TRUE(std::any_of(others.begin(), others.end(), [](const Owned& o) { return o.name == "bk1-disk-0"; }))
            << "the other user's clone has no image of its own";
    }

    ::kill(run.pid(), SIGTERM);
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(run.ended_within(kEndWithin)) << "the run did not end within " << kEndWithin << " s of the signal";
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 1.0)
        << "the hung command got no grace";
    EXPECT_EQ(run.wait(0), 17) << "exit status\n" << run.out() << run.err();
    const std::string text = log();

    // Nothing that was there before is gone; what is new is exactly the other user's.
    const std::vector<Owned> templates_after = owned("templates");
    const std::vector<Owned> images_after = owned("images");
    EXPECT_TRUE(added(templates_after, templates_before).empty()) << "a template that was there before is gone";
    EXPECT_TRUE(added(images_after, images_before).empty()) << "an image that was there before is gone";
    std::vector<Owned> left = added(templates_before, templates_after);
    const std::vector<Owned> left_images = added(images_before, images_after);
    left.insert(left.end(), left_images.begin(), left_images.end());
    EXPECT_EQ(left, others) << "what stays is not exactly the other user's objects with their images";
    if (c.other_user) {
        EXPECT_FALSE(contains(text, "Removing the " + what + " " + other->id + " "))
            << "the other user's object " << *other << " was taken for the run's\n"
            << text;
    }
    if (c.own_object) {
        EXPECT_TRUE(a_line_holds(text, {"Info", "Removing the " + what + " ", "named '" + std::string(c.object) +
                                                                                   "' (owner oneadmin, made after ID ",
                                        "found by name after the ended command"}))
            << "the clean-up deleted the command's own object by ID\n"
            << text;
    } else {
        EXPECT_FALSE(contains(text, "found by name after the ended command")) << text;
    }
    if (c.other_user && !c.own_object) {
        EXPECT_TRUE(a_line_holds(text, {"Error", "none is deleted", other->id + " (owner " + kOtherUser + ")"}))
            << "no Error record names the other user's object by ID and owner\n"
            << text;
    }
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{}) << "files left in the safe directory";
    const std::string directory = c.restore ? restore_dir_ : op_dir_;
    for (fs::directory_iterator it(directory), end; it != end; ++it) {
        EXPECT_FALSE(fs::is_directory(it->symlink_status())) << "working directory left behind: " << it->path();
        EXPECT_NE(it->path().extension(), ".list") << "engine file list left behind: " << it->path();
    }
    const fs::path locks("/opt/kelvomar/var/kelvomar-modules");
    if (fs::exists(locks)) {
        EXPECT_EQ(tree(locks.string()), std::vector<std::string>{}) << "a lock file is left";
    }
}

// Each naming command: it made its object and hangs; it hangs before it made
// anything while another user makes an object of its name; it made its
// object and another user makes one of the same name while it hangs.
INSTANTIATE_TEST_SUITE_P(
    Commands, HungNamingCommand,
    ::testing::Values(
        HungCommand{"Clone", {"onetemplate", "clone"}, false, "templates", "bk1", true, false},
        HungCommand{"CloneOtherUsers", {"onetemplate", "clone"}, false, "templates", "bk1", false, true},
        HungCommand{"CloneOwnAndOtherUsers", {"onetemplate", "clone"}, false, "templates", "bk1", true, true},
        HungCommand{"ImageCreate", {"oneimage", "create"}, true, "images", "web-2-disk-0", true, false},
        HungCommand{"ImageCreateOtherUsers", {"oneimage", "create"}, true, "images", "web-2-disk-0", false, true},
        HungCommand{"ImageCreateOwnAndOtherUsers", {"oneimage", "create"}, true, "images", "web-2-disk-0", true,
                    true},
        HungCommand{"TemplateCreate", {"onetemplate", "create"}, true, "templates", "web-2", true, false},
        HungCommand{"TemplateCreateOtherUsers", {"onetemplate", "create"}, true, "templates", "web-2", false, true},
        HungCommand{"TemplateCreateOwnAndOtherUsers", {"onetemplate", "create"}, true, "templates", "web-2", true,
                    true}),
    [](const ::testing::TestParamInfo<HungCommand>& info) { return std::string(info.param.name); });

// The ID of the image named `name` in a `fixture list images` listing; empty when there is none.
std::string image_id_named(const std::string& listing, const std::string& name)
{
    for (const std::string& line : kevra_e2e::lines_of(listing)) {
        const auto first = line.find('\t');
        const auto second = line.find('\t', first + 1);
        if (first != std::string::npos && line.substr(first + 1, second - first - 1) == name) {
            return line.substr(0, first);
        }
    }
    return std::string();
}

class EndedImageCreate : public kevra_e2e::TemplateRestoreTest {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        platform_.datastore({"--name", "default"});
        const std::string os = platform_.image(
            {"--name", "web-os", "--datastore", "default", "--prefix", "vd", "--content", "web-os boot sector"});
        const std::string data = platform_.image(
            {"--name", "web-data", "--datastore", "default", "--type", "DATABLOCK", "--content", "web data"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + data});
    }
};

// The image that the hung create made is found by its name, but its deletion
// fails; the clean-up then hangs on the next deletion until its deadline. The
// deadline's record of what stays behind still names that image by its ID.
TEST_F(EndedImageCreate, AnImageWhoseDeletionFailedStaysOnTheRecordOfWhatStays)
{
    back_up("web");
    // The second image create makes its image and hangs; the first deletion
    // (of that image, found by name) fails, the next one hangs.
    platform_.fixture({"fault", "oneimage", "create", "--skip-first", "1", "--hang", "300"});
    platform_.fixture({"fault", "oneimage", "delete", "--times", "1", "--exit", "255", "--stderr",
                       "[one.image.delete] Cannot delete image. The driver refused."});
    platform_.fixture({"fault", "oneimage", "delete", "--hang", "600"});

    std::vector<std::string> args = restore_arguments();
    args.insert(args.begin(), kevra_test::build_path("kevra_template"));
    Role run(args, {});
    std::string hung;
    ASSERT_TRUE(lock_signal_test::wait_until(
        [&] {
            hung = image_id_named(platform_.fixture({"list", "images"}), "web-2-disk-1");
            return !hung.empty();
        },
        60))
        << "the second image create does not hang\n"
        << log();
    const std::string first = image_id_named(platform_.fixture({"list", "images"}), "web-2-disk-0");
    ASSERT_FALSE(first.empty()) << platform_.fixture({"list", "images"});

    ::kill(run.pid(), SIGTERM);
    // The grace of the hung command, the clean-up's deadline of 60 seconds, and a margin.
    EXPECT_TRUE(run.ended_within(kEndWithin + 60)) << "the run did not end after its deadline";
    EXPECT_EQ(run.wait(0), 17) << "exit status\n" << run.out() << run.err();
    const std::string text = log();
    EXPECT_TRUE(a_line_holds(text, {"Removing the image " + hung + " named 'web-2-disk-1'",
                                    "found by name after the ended command"}))
        << "the hung create's image was not found by its name\n"
        << text;
    const std::string deadline = "Module termination clean-up did not end in time";
    ASSERT_TRUE(a_line_holds(text, {"Error", deadline})) << "the clean-up did not reach its deadline\n" << text;
    EXPECT_TRUE(a_line_holds(text, {deadline, "Left behind: ", "the image 'web-2-disk-1' ID " + hung}))
        << "the deadline's record does not name the image " << hung << " whose deletion failed\n"
        << text;
    EXPECT_TRUE(a_line_holds(text, {deadline, "Left behind: ", "ID " + first}))
        << "the deadline's record does not name the image " << first << " whose deletion hung\n"
        << text;
}

}  // namespace
