#pragma once
// A template backup run in the sandbox: the platform's objects declared
// through the fixture, the program run with the agent's command line, and
// what the run left behind read back from the platform, the engine's store,
// the operation directory and the log.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"

namespace kevra_e2e {

// A template with two FILE images, one BLOCK image and one RBD image, in this disk order.
struct FourImageTemplate {
    std::string name;
    std::vector<std::string> image_ids;    // source images, disk order
    std::vector<std::string> image_names;  // their names
};

class TemplateBackupTest : public ::testing::Test {
protected:
    static constexpr const char* kTask = "T1";
    static constexpr const char* kServer = "srv1";

    void SetUp() override;

    // The three datastores (file, lvm_lvm, ceph) and the template with its four images.
    FourImageTemplate declare_four_image_template(const std::string& name = "web");
    // The file datastore's ID, declared on first use.
    std::string files_datastore();

    // kevra_template with `args`, killed when it outlives `limits`.
    kevra_test::ProgramResult run_module(const std::vector<std::string>& args,
                                         const kevra_test::ProgramLimits& limits = {}) const;
    // "<type> -b <tpl> -d <operation directory> -n <archive> -m srv1 -T T1" followed by `extra`;
    // the type is "-1" (full), "-2" (incremental) or "-3" (differential).
    kevra_test::ProgramResult backup(const std::string& tpl, const std::string& archive,
                                     const std::vector<std::string>& extra = {},
                                     const std::string& type = "-1") const;

    // The module's log file.
    std::string log() const;
    // Entry names of an archive in the engine's store, sorted.
    std::vector<std::string> store_entries(const std::string& archive) const;
    // The content of one entry of an archive in the engine's store.
    std::string store_entry(const std::string& archive, const std::string& entry) const;
    // The member names of the snapshot file (without "./"), sorted.
    std::vector<std::string> snapshot_members(const std::string& archive) const;
    // One member of the snapshot file.
    std::string snapshot_member(const std::string& archive, const std::string& member) const;
    // The names of the platform's templates or images ("templates" / "images"), sorted.
    std::vector<std::string> platform_names(const std::string& kind) const;
    // The data of a platform image, byte for byte.
    std::string image_data(const std::string& image) const;

    // Nothing of the run with archive name `archive` stays: no template of that
    // name, no image whose name starts with it, no staging directory, no
    // engine file list.
    void expect_nothing_left(const std::string& archive) const;

    kevra_test::Platform platform_;
    std::string op_dir_;
    std::string files_ds_;
};

// Lines of `text`, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// True when `text` contains `piece`.
bool contains(const std::string& text, const std::string& piece);

// Owner, mode and content of `path` and, for a directory, of everything below
// it, as one text; links are described, not followed.
std::string state_of(const std::string& path);

}  // namespace kevra_e2e
