// Closing a backup: the snapshot file is packed, the agent is told which files the
// backup produced, and the working directories are removed.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "common/output_lines.h"

#include <boost/filesystem.hpp>

#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;

const char kSignature[] = "bool HxModuleUniversal::close_backup(const bool&)";

// The word of a client-defined storage kind on the agent's storage line; empty for none.
std::string storage_kind_word(int type)
{
    switch (type) {
    case 1: return "local-directory";
    case 2: return "s3";
    case 3: return "default";
    default: return std::string();
    }
}

std::string backup_kind(int backup_type)
{
    switch (backup_type) {
    case 1: return "a full";
    case 2: return "an incremental";
    case 3: return "a differential";
    default: return std::string();
    }
}

}  // namespace

bool HxModuleUniversal::close_backup(const bool& replica)
{
    // The engine wrote these into files the run made: only while each is still
    // that file (root's, mode 0600) is it the backup's and named to the agent.
    std::vector<std::string> outputs;
    if (options_.autonomous)
        outputs.push_back(archive_filename());
    if (options_.dgst)
        outputs.push_back(archive_sign_filename());
    for (const std::string& output : outputs) {
        const std::string problem = engine_outputs_.problem(output);
        if (!problem.empty()) {
            HxLogStream(HxLogLvl::Error) << kSignature << ": the archive engine's file is not reported: " << problem
                                         << std::endl;
            return false;
        }
    }
    try {
        fs::remove_all(leveldb_directory_path());
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": filesystem error: " << e.what() << std::endl;
        return false;
    }
    if (pack_snapshot_file() != 0) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": can't create the main snapshot file: " << std::endl;
        return false;
    }

    std::string main_archive;
    if (options_.autonomous) {
        const std::string kind = storage_kind_word(storage_type_);
        if (!kind.empty())
            kelvomar::output::print_line("CLIENT DEFINED STORAGE:" + kind + "@" + std::to_string(storage_id_));
        main_archive = archive_filename();
    } else {
        main_archive = snapshot_filename();
    }
    kelvomar::output::print_line("MAIN ARCHIVE FILENAME:" + main_archive);
    kelvomar::output::print_line("MAIN SNAPSHOT FILENAME:" + snapshot_filename());
    kelvomar::output::print_line("MAIN ARCHIVE SIGN FILENAME:" + archive_sign_filename());

    if (!replica && file_list_ && fs::exists(main_archive)) {
        const std::string command = "/opt/kelvomar/bin/hxfd -l " +
                                    kelvomar::shell_quote(meta_filename(), kelvomar::quote_style::always) +
                                    " -v 1";
        std::string output;
        if (hx_utils_common::execute_command(command, output) == 0) {
            // One piece: no record lands between the listing's lines.
            kelvomar::output::write_stdout("FILE LISTING START:\n" + output + "FILE LISTING END\n");
        } else {
            HxLogStream(HxLogLvl::Error) << kSignature << ": command produced error: " << command << std::endl;
            HxLogStream(HxLogLvl::Error) << "Command output start: ---------------------------------------------- "
                                         << std::endl;
            HxLogStream(HxLogLvl::Error) << output << std::endl;
            HxLogStream(HxLogLvl::Error) << "Command output end ------------------------------------------------- "
                                         << std::endl;
            return false;
        }
    }

    try {
        fs::remove_all(snapshot_directory_path());
        const std::string reference = reference_snapshot_directory_path();
        if (!reference.empty() && fs::exists(reference)) {
            HxLogStream(HxLogLvl::Info) << "Remove obsolete file: " << reference << std::endl;
            fs::remove_all(reference);
        }
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": filesystem error: " << e.what() << std::endl;
        return false;
    }

    if (options_.archiving_supported && options_.archiving_mode) {
        // Deleting the resource is only safe when the archive is known to be whole.
        if (data_incomplete_) {
            HxLogStream(HxLogLvl::Warning) << kSignature << ": the resource '" << options_.resource
                                           << "' is kept: the archive engine reported that the data may be"
                                              " incomplete"
                                           << std::endl;
        } else {
            make_archiving();
        }
    }

    HxLogStream(HxLogLvl::Info) << "The task to make " << backup_kind(options_.backup_type) << " backup of resource '"
                                << options_.resource << "' completed successfully" << std::endl;
    return true;
}
