#include "tests/e2e/restore_e2e_support.h"

#include <boost/filesystem.hpp>

#include <algorithm>

#include "tests/support/platform_fixture.h"

namespace fs = boost::filesystem;

namespace kevra_e2e {

void TemplateRestoreTest::SetUp()
{
    TemplateBackupTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    restore_dir_ = kevra_test::scratch_dir("restore");
    replica_dir_ = kevra_test::scratch_dir("replica");
    for (const std::string& dir : {restore_dir_, replica_dir_}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    // The safe directory of every datastore starts empty.
    for (fs::directory_iterator it("/var/tmp"), end; it != end; ++it) {
        fs::remove_all(it->path());
    }
}

void TemplateRestoreTest::back_up(const std::string& tpl, const std::string& archive, bool replica,
                                  const std::vector<std::string>& extra)
{
    archive_ = archive;
    std::vector<std::string> args;
    if (replica) {
        args = {"-A", tpl, "-d", op_dir_, "-n", archive, "-m", kServer, "-T", kTask};
    } else {
        args = {"-1", "-b", tpl, "-d", op_dir_, "-n", archive, "-m", kServer, "-T", kTask};
    }
    args.insert(args.end(), extra.begin(), extra.end());
    const auto result = run_module(args);
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();
    saved_snapshot_ = kevra_test::scratch_dir("saved") + "/" + archive + ".snap";
    fs::copy_file(op_dir_ + "/" + archive + ".snap", saved_snapshot_, fs::copy_options::overwrite_existing);
    platform_.fixture({"calls", "all", "--clear"});
}

namespace {

// A fresh copy of the saved snapshot file in `directory` (a server-mode
// restore deletes the snapshot file it was given).
std::string snapshot_copy(const std::string& saved, const std::string& directory)
{
    const std::string copy = directory + "/" + fs::path(saved).filename().string();
    fs::copy_file(saved, copy, fs::copy_options::overwrite_existing);
    return copy;
}

}  // namespace

std::vector<std::string> TemplateRestoreTest::restore_arguments(const std::string& params, const std::string& record,
                                                                const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {"-r", record, "-d", restore_dir_, "-m", kServer, "-T", kTask,
                                     "-M", snapshot_copy(saved_snapshot_, restore_dir_)};
    if (!params.empty()) {
        args.push_back("-e");
        args.push_back(params);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

kevra_test::ProgramResult TemplateRestoreTest::restore(const std::string& params, const std::string& record,
                                                       const std::vector<std::string>& extra)
{
    return run_module(restore_arguments(params, record, extra));
}

kevra_test::ProgramResult TemplateRestoreTest::apply_replica(const std::string& params, const std::string& record)
{
    std::vector<std::string> args = {"-R", record, "-d", replica_dir_, "-m", kServer, "-T", kTask,
                                     "-M", snapshot_copy(saved_snapshot_, replica_dir_)};
    if (!params.empty()) {
        args.push_back("-e");
        args.push_back(params);
    }
    return run_module(args);
}

kevra_test::ProgramResult TemplateRestoreTest::restore_from_meta(const std::string& meta, const std::string& params,
                                                                 const kevra_test::ProgramLimits& limits)
{
    std::vector<std::string> args = {"-r", kRecord, "-d", restore_dir_, "-m", kServer, "-T", kTask, "-M", meta};
    if (!params.empty()) {
        args.push_back("-e");
        args.push_back(params);
    }
    return run_module(args, limits);
}

std::string TemplateRestoreTest::make_archive(const std::string& name,
                                              const std::map<std::string, std::string>& entries)
{
    const std::string sources = kevra_test::scratch_dir("archive-" + name);
    std::vector<std::string> args = {"make-archive", name, "--server", kServer, "--task", kTask};
    for (const auto& entry : entries) {
        const std::string file = sources + "/entry-" + std::to_string(args.size());
        kevra_test::write_file(file, entry.second);
        // One word, so that an archive name that begins with "-" stays a value.
        args.push_back("--entry=" + entry.first + "=" + file);
    }
    const std::string meta = kevra_test::scratch_dir("meta") + "/" + name + ".meta";
    args.push_back("--meta");
    args.push_back(meta);
    platform_.fixture(args);
    return meta;
}

std::vector<std::string> TemplateRestoreTest::tree(const std::string& directory) const
{
    return kevra_test::list_tree(directory);
}

std::vector<std::string> TemplateRestoreTest::images_named(const std::string& prefix) const
{
    std::vector<std::string> names;
    for (const std::string& name : platform_names("images")) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

std::string TemplateRestoreTest::template_xml(const std::string& tpl) const
{
    return platform_.fixture({"get", "template", tpl, "xml"});
}

std::size_t TemplateRestoreTest::engine_calls() const
{
    return platform_.calls("hxfd").size();
}

}  // namespace kevra_e2e
