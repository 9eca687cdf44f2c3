// A request to delete a backup from a client-defined storage, run by the
// shipped program in the sandbox. This module deletes nothing there: it
// reports the request, and the stored backup, its snapshot file included,
// stays as it was.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/shell_quote.h"
#include "tests/e2e/storage_e2e_support.h"

namespace {

namespace fs = boost::filesystem;
using storage_e2e::contains;

const char kStore[] = "@STORE@";  // replaced by the storage directory

struct DeleteCase {
    const char* name;
    std::string json;
    std::string meta_file;  // -M when not empty
    int status;
    std::vector<std::string> logged;
};

void PrintTo(const DeleteCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::string kNotSupported = "The module doesn't support deletion from client defined storage";

const DeleteCase kCases[] = {
    {"LocalDirectoryEntry", R"({"backup":"local-directory@@STORE@/web_full_1.hxfd"})", "@STORE@/web_full_1.snap", 0,
     {kNotSupported, "Type: 1 @STORE@/web_full_1.hxfd"}},
    {"DefaultStorage", "{}", "", 0, {kNotSupported, "Type: 3"}},
    {"OtherStorageSkipped", R"({"a":"ftp@host","b":"s3@bucket/web_full_1"})", "", 0,
     {"wrong client defined storage type here: ftp@host", "Type: 2 bucket/web_full_1"}},
    {"EmptyJson", "", "", 14, {"Empty json content"}},
    {"NotAnObject", R"(["local-directory@@STORE@/web_full_1.hxfd"])", "", 12,
     {"unsigned int HxModuleUniversal::run(): can't parse json"}},
    {"SnapshotFileMissing", "{}", "@STORE@/gone.snap", 2, {"Unable to unpack snapshot file: "}},
    {"SnapshotFileOfWrongKind", "{}", "@STORE@/web_full_1.hxfd", 2, {"Invalid snapshot file extension: "}},
};

std::string replaced(std::string text, const std::string& store)
{
    for (std::size_t at; (at = text.find(kStore)) != std::string::npos;) {
        text.replace(at, sizeof(kStore) - 1, store);
    }
    return text;
}

class DeleteRequest : public storage_e2e::StorageRun, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteRequest, ReportedAndNothingDeleted)
{
    KEVRA_REQUIRE_SANDBOX();
    const DeleteCase& c = GetParam();
    install_secret();
    const std::string scratch = kevra_test::scratch_dir("delete");
    const std::string store = scratch + "/store";
    const std::string snap_dir = scratch + "/snap_dir";
    fs::create_directories(store);
    fs::create_directories(snap_dir);
    kevra_test::write_file(snap_dir + "/web_full_1.meta", "engine meta\n");
    kevra_test::write_file(store + "/web_full_1.hxfd", "archive bytes\n");
    ASSERT_EQ(platform_
                  .shell("/bin/tar czf " + kelvomar::shell_quote(store + "/web_full_1.snap") + " -C " +
                         kelvomar::shell_quote(snap_dir) + " .")
                  .exit_status,
              0);
    const std::string snapshot_before = kevra_test::read_file(store + "/web_full_1.snap");

    std::vector<std::string> args = {"--delete_from_client_defined_storage", replaced(c.json, store), "-T",
                                     storage_e2e::kTask};
    if (!c.meta_file.empty()) {
        args.push_back("-M");
        args.push_back(replaced(c.meta_file, store));
    }
    const auto result = run(args);

    EXPECT_EQ(result.exit_status, c.status) << log();
    for (const std::string& piece : c.logged) {
        EXPECT_TRUE(contains(log(), replaced(piece, store))) << "missing: " << replaced(piece, store) << "\n" << log();
    }
    EXPECT_EQ(kevra_test::read_file(store + "/web_full_1.hxfd"), "archive bytes\n");
    EXPECT_EQ(kevra_test::read_file(store + "/web_full_1.snap"), snapshot_before);
    EXPECT_EQ(std::distance(fs::directory_iterator(store), fs::directory_iterator()), 2);
    for (fs::directory_iterator it(std::getenv("TMPDIR")), end; it != end; ++it) {
        EXPECT_EQ(it->path().filename().string().find("kevra_template-"), std::string::npos) << it->path();
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, DeleteRequest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
