// Links and files planted under the names a run uses in the operation
// directory, run in the sandbox: the run never writes through them. Where a
// run refuses one it ends with its failure status and a record naming the
// path before anything reaches the platform; the host file or directory
// behind the link keeps its owner, mode and content either way.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::state_of;
namespace fs = boost::filesystem;

// The decoys of one test: a root-only host file and a host directory with a
// file in it, in the sandbox's scratch area.
struct Decoys {
    std::string file;
    std::string directory;

    static Decoys make()
    {
        Decoys d;
        const std::string root = kevra_test::scratch_dir("decoys");
        d.file = root + "/secret";
        kevra_test::write_file(d.file, "root only host file\n");
        ::chmod(d.file.c_str(), 0600);
        d.directory = root + "/host-dir";
        fs::create_directories(d.directory);
        ::chmod(d.directory.c_str(), 0750);
        kevra_test::write_file(d.directory + "/kept", "host directory content\n");
        return d;
    }
    std::string state() const { return state_of(file) + state_of(directory); }
};

// `target` as seen from the directory that holds `link`.
std::string relative_to_link(const std::string& target, const std::string& link)
{
    return fs::relative(target, fs::path(link).parent_path()).string();
}

void plant_link(const std::string& target, const std::string& link, bool relative)
{
    // A missing directory on the way stands for one of an earlier run: root's, 0700.
    const fs::path parent = fs::path(link).parent_path();
    if (!fs::exists(parent)) {
        fs::create_directories(parent);
        ::chmod(parent.c_str(), 0700);
    }
    fs::create_symlink(relative ? relative_to_link(target, link) : target, link);
}

class PlantedBackupPath;

struct BackupCase {
    const char* label;
    // Plants what the case needs; returns the arguments added to the backup.
    std::function<std::vector<std::string>(PlantedBackupPath&)> plant;
    int status;
    const char* record;       // a piece of the log naming the cause
    const char* planted;      // the planted path below the operation directory (kept when refused)
    bool clone_made;          // the refusal comes after the clone was made (and deleted again)
};

void PrintTo(const BackupCase& c, std::ostream* out)
{
    *out << c.label;
}

class PlantedBackupPath : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<BackupCase> {
public:
    Decoys decoys_;
    std::string op() const { return op_dir_; }
    std::string at(const std::string& name) const { return op_dir_ + "/" + name; }

    // A snapshot file of an earlier backup named `name`.snap in the operation directory.
    std::string reference_snapshot(const std::string& name)
    {
        const std::string content = kevra_test::scratch_dir("reference");
        kevra_test::write_file(content + "/" + name + ".meta", "meta of an earlier backup\n");
        const std::string file = at(name + ".snap");
        EXPECT_EQ(platform_.shell("/bin/tar czf '" + file + "' -C '" + content + "' .").exit_status, 0);
        return file;
    }
};

const char kRefusedSnapshotDir[] = "Backup module: the snapshot directory can't be used: ";

const BackupCase kBackupCases[] = {
    {"SnapshotDirectoryAbsoluteLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.directory, t.at("bk1.snap_dir"), false);
         return std::vector<std::string>{};
     },
     6, kRefusedSnapshotDir, "bk1.snap_dir", false},
    {"SnapshotDirectoryRelativeLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.directory, t.at("bk1.snap_dir"), true);
         return std::vector<std::string>{};
     },
     6, "/bk1.snap_dir: a symbolic link stands there", "bk1.snap_dir", false},
    {"SnapshotDirectoryPlainFile",
     [](PlantedBackupPath& t) {
         kevra_test::write_file(t.at("bk1.snap_dir"), "not a directory\n");
         return std::vector<std::string>{};
     },
     6, "/bk1.snap_dir: it is not a directory", "bk1.snap_dir", false},
    {"LeveldbDirectoryLinkInAnEarlierSnapshotDirectory",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.directory, t.at("bk1.snap_dir/leveldb"), false);
         return std::vector<std::string>{};
     },
     6, "Backup module: the leveldb directory can't be used: ", "bk1.snap_dir/leveldb", false},
    {"MetaFileLinkInAnEarlierSnapshotDirectory",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.snap_dir/bk1.meta"), true);
         return std::vector<std::string>{};
     },
     6, "/bk1.snap_dir/bk1.meta: a symbolic link stands there", "bk1.snap_dir/bk1.meta", false},
    {"MarkerLinkInAnEarlierSnapshotDirectory",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.snap_dir/template_image_ids_marker"), false);
         return std::vector<std::string>{};
     },
     6, "/bk1.snap_dir/template_image_ids_marker: a symbolic link stands there",
     "bk1.snap_dir/template_image_ids_marker", false},
    {"ImageDescriptionLinkInAnEarlierSnapshotDirectory",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.snap_dir/vd-disk-0.xml"), false);
         return std::vector<std::string>{};
     },
     6, ": can't write the image description ", "bk1.snap_dir/vd-disk-0.xml", true},
    {"EngineFileListAbsoluteLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.hxfd.list"), false);
         return std::vector<std::string>{};
     },
     6, ": can't write the resource list file ", "bk1.hxfd.list", false},
    {"EngineFileListRelativeLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.hxfd.list"), true);
         return std::vector<std::string>{};
     },
     6, "/bk1.hxfd.list: a symbolic link stands there", "bk1.hxfd.list", false},
    {"EngineFileListHardLink",
     [](PlantedBackupPath& t) {
         EXPECT_EQ(::link(t.decoys_.file.c_str(), t.at("bk1.hxfd.list").c_str()), 0);
         return std::vector<std::string>{};
     },
     6, "/bk1.hxfd.list: a file with more than one link stands there", "bk1.hxfd.list", false},
    {"SnapshotFileAbsoluteLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.snap"), false);
         return std::vector<std::string>{};
     },
     6, "Backup module: the file can't be used: ", "bk1.snap", false},
    {"SnapshotFileRelativeLink",
     [](PlantedBackupPath& t) {
         plant_link(t.decoys_.file, t.at("bk1.snap"), true);
         return std::vector<std::string>{};
     },
     6, "/bk1.snap: a symbolic link stands there", "bk1.snap", false},
    {"SnapshotFileHardLink",
     [](PlantedBackupPath& t) {
         EXPECT_EQ(::link(t.decoys_.file.c_str(), t.at("bk1.snap").c_str()), 0);
         return std::vector<std::string>{};
     },
     6, "/bk1.snap: a file with more than one link stands there", "bk1.snap", false},
    {"ReferenceSnapshotFolderAbsoluteLink",
     [](PlantedBackupPath& t) {
         const std::string reference = t.reference_snapshot("ref");
         plant_link(t.decoys_.directory, t.at("ref.snap_dir"), false);
         return std::vector<std::string>{"-s", reference};
     },
     2, "): can't unpack into ", "ref.snap_dir", false},
    {"ReferenceSnapshotFolderRelativeLink",
     [](PlantedBackupPath& t) {
         const std::string reference = t.reference_snapshot("ref");
         plant_link(t.decoys_.directory, t.at("ref.snap_dir"), true);
         return std::vector<std::string>{"-s", reference};
     },
     2, "/ref.snap_dir: a symbolic link stands there", "ref.snap_dir", false},
    {"ReferenceSnapshotFolderPlainFile",
     [](PlantedBackupPath& t) {
         const std::string reference = t.reference_snapshot("ref");
         kevra_test::write_file(t.at("ref.snap_dir"), "not a directory\n");
         return std::vector<std::string>{"-s", reference};
     },
     2, "/ref.snap_dir: it is not a directory", "ref.snap_dir", false},
};

TEST_P(PlantedBackupPath, IsRefusedAndNothingBehindItChanges)
{
    const BackupCase& c = GetParam();
    const kevra_e2e::FourImageTemplate tpl = declare_four_image_template();
    decoys_ = Decoys::make();
    const std::string before = decoys_.state();
    const std::vector<std::string> extra = c.plant(*this);
    const std::string planted = state_of(at(c.planted));

    const auto result = backup("web", "bk1", extra, extra.empty() ? "-1" : "-2");
    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    EXPECT_TRUE(contains(log(), c.record)) << "expected record: " << c.record << "\nlog:\n" << log();
    EXPECT_FALSE(contains(result.out, "MAIN ARCHIVE FILENAME:"));
    EXPECT_EQ(decoys_.state(), before);
    EXPECT_EQ(state_of(at(c.planted)), planted) << "the planted entry stays as it was";

    // Nothing reached the platform or the store: the clone, when one was
    // made, is gone again with its images.
    bool cloned = false;
    for (const std::string& call : platform_.calls("onetemplate")) {
        cloned = cloned || contains(call, " clone ");
    }
    EXPECT_EQ(cloned, c.clone_made);
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    std::vector<std::string> sources = tpl.image_names;
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(platform_names("images"), sources);
    EXPECT_TRUE(platform_.calls("hxfd").empty());
    EXPECT_TRUE(platform_.fixture({"archives"}).empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("bk1"))));
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedBackupPath, ::testing::ValuesIn(kBackupCases),
                         [](const ::testing::TestParamInfo<BackupCase>& info) { return info.param.label; });

// A staging directory that an earlier run left as a link, or a file there, is
// taken away (the entry only, never what a link points to) and the directory
// is made new: the backup goes on as usual.
struct StagingCase {
    const char* label;
    bool link;
    bool relative;
};

class PlantedStagingDirectory : public kevra_e2e::TemplateBackupTest,
                                public ::testing::WithParamInterface<StagingCase> {};

TEST_P(PlantedStagingDirectory, IsReplacedWithoutTouchingTheHost)
{
    declare_four_image_template();
    const Decoys decoys = Decoys::make();
    const std::string before = decoys.state();
    const std::string staging = op_dir_ + "/bk1";
    if (GetParam().link) {
        plant_link(decoys.directory, staging, GetParam().relative);
    } else {
        kevra_test::write_file(staging, "a file of an earlier run\n");
    }

    const auto result = backup("web", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();
    EXPECT_EQ(decoys.state(), before);
    EXPECT_EQ(store_entry("bk1", "vd-disk-0"), "operating system bytes\n");
    expect_nothing_left("bk1");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlantedStagingDirectory,
                         ::testing::Values(StagingCase{"AbsoluteLink", true, false},
                                           StagingCase{"RelativeLink", true, true},
                                           StagingCase{"PlainFile", false, false}),
                         [](const ::testing::TestParamInfo<StagingCase>& info) { return info.param.label; });

// The restore directory, the directory of earlier archives of a chain and the
// folder a snapshot file is unpacked into: a link or a file there is refused
// before the engine runs, and nothing is sent to the platform.
class PlantedRestorePath;

struct RestoreCase {
    const char* label;
    // Plants what the case needs; returns the whole command line of the run.
    std::function<std::vector<std::string>(PlantedRestorePath&)> plant;
    int status;
    const char* record;
};

void PrintTo(const RestoreCase& c, std::ostream* out)
{
    *out << c.label;
}

class PlantedRestorePath : public kevra_e2e::TemplateRestoreTest, public ::testing::WithParamInterface<RestoreCase> {
public:
    Decoys decoys_;
    std::string rest() const { return restore_dir_ + "/" + kRecord + ".rest"; }
    std::string in_restore_dir(const std::string& name) const { return restore_dir_ + "/" + name; }
    std::string snapshot_folder_in(const std::string& directory) const
    {
        return directory + "/" + archive_ + ".snap_dir";
    }
    std::string replica_dir() const { return replica_dir_; }
    std::string replica_rest() const { return replica_dir_ + "/" + kRecord + ".rest"; }
    std::vector<std::string> restore_line(const std::vector<std::string>& extra = {})
    {
        return restore_arguments("last:true", kRecord, extra);
    }
    std::vector<std::string> replica_line()
    {
        const std::string copy = replica_dir_ + "/" + archive_ + ".snap";
        fs::copy_file(saved_snapshot_, copy, fs::copy_options::overwrite_existing);
        return {"-R", kRecord, "-d", replica_dir_, "-m", kServer, "-T", kTask, "-M", copy};
    }
};

const char kRefusedRestoreDir[] = "virtual int HxModuleUniversal::define_restore_directory(): can't use the "
                                  "restore directory ";

const RestoreCase kRestoreCases[] = {
    {"RestoreDirectoryAbsoluteLink",
     [](PlantedRestorePath& t) {
         plant_link(t.decoys_.directory, t.rest(), false);
         return t.restore_line();
     },
     7, kRefusedRestoreDir},
    {"RestoreDirectoryRelativeLink",
     [](PlantedRestorePath& t) {
         plant_link(t.decoys_.directory, t.rest(), true);
         return t.restore_line();
     },
     7, "/42.rest: a symbolic link stands there"},
    {"RestoreDirectoryPlainFile",
     [](PlantedRestorePath& t) {
         kevra_test::write_file(t.rest(), "not a directory\n");
         return t.restore_line();
     },
     7, "/42.rest: it is not a directory"},
    {"DirectoryOfEarlierArchivesAsLink",
     [](PlantedRestorePath& t) {
         plant_link(t.decoys_.directory, t.in_restore_dir("41.rest"), false);
         return t.restore_line({"-i", "41"});
     },
     7, "/41.rest: a symbolic link stands there"},
    {"OperationDirectoryAsLink",
     [](PlantedRestorePath& t) {
         std::vector<std::string> line = t.restore_line();
         const std::string link = kevra_test::scratch_dir("links") + "/op";
         plant_link(t.decoys_.directory, link, false);
         line[3] = link;
         return line;
     },
     7, "/op: a symbolic link stands there"},
    {"SnapshotFolderInAnEarlierRestoreDirectory",
     [](PlantedRestorePath& t) {
         plant_link(t.decoys_.directory, t.snapshot_folder_in(t.rest()), true);
         return t.restore_line();
     },
     2, "): can't unpack into "},
    {"ReplicaDirectoryAsLink",
     [](PlantedRestorePath& t) {
         plant_link(t.decoys_.directory, t.replica_rest(), false);
         return t.replica_line();
     },
     7, "/42.rest: something already stands there; a replica is applied only in a directory that the run makes new"},
    {"ReplicaDirectoryOfAnEarlierRun",
     [](PlantedRestorePath& t) {
         const std::string earlier = t.replica_rest();
         fs::create_directories(earlier);
         ::chmod(earlier.c_str(), 0700);
         plant_link(t.decoys_.directory, earlier + "/template.xml", false);
         return t.replica_line();
     },
     7, "/42.rest: something already stands there; a replica is applied only in a directory that the run makes new"},
};

TEST_P(PlantedRestorePath, IsRefusedBeforeTheEngineRuns)
{
    const RestoreCase& c = GetParam();
    declare_four_image_template();
    back_up("web");
    const auto templates = platform_names("templates");
    const auto images = platform_names("images");
    decoys_ = Decoys::make();
    const std::string before = decoys_.state();
    const std::vector<std::string> line = c.plant(*this);

    const auto result = run_module(line);
    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    EXPECT_TRUE(contains(log(), c.record)) << "expected record: " << c.record << "\nlog:\n" << log();
    EXPECT_EQ(decoys_.state(), before);
    EXPECT_EQ(engine_calls(), 0u);
    EXPECT_EQ(platform_names("templates"), templates);
    EXPECT_EQ(platform_names("images"), images);
    for (const std::string& call : platform_.calls("all")) {
        EXPECT_FALSE(contains(call, " create ") || contains(call, " chown ")) << call;
    }
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedRestorePath, ::testing::ValuesIn(kRestoreCases),
                         [](const ::testing::TestParamInfo<RestoreCase>& info) { return info.param.label; });

// A backup into an operation directory given as a link: the link is not
// used as the operation directory.
class PlantedOperationDirectory : public kevra_e2e::TemplateBackupTest {};

TEST_F(PlantedOperationDirectory, GivenAsALinkIsRefused)
{
    declare_four_image_template();
    const Decoys decoys = Decoys::make();
    const std::string before = decoys.state();
    const std::string link = kevra_test::scratch_dir("links") + "/op";
    plant_link(decoys.directory, link, false);

    const auto result =
        run_module({"-1", "-b", "web", "-d", link, "-n", "bk1", "-m", kServer, "-T", kTask});
    EXPECT_EQ(result.exit_status, 6) << result.out << result.err;
    EXPECT_TRUE(contains(log(), "Backup module: the operation directory can't be used: " + link +
                                    ": a symbolic link stands there"))
        << log();
    EXPECT_EQ(decoys.state(), before);
    EXPECT_TRUE(platform_.calls("hxfd").empty());
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
}

}  // namespace
