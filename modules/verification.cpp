// Verification of a backup kept in a client-defined local directory against
// the agent's electronic signatures: the archive engine checks the archive,
// openssl the snapshot or meta file, and the outcome goes to standard output.
// The backup's own files are only read; the signature files written for the
// checks are removed again.
#include "modules/hx_module_universal.h"

#include <boost/filesystem.hpp>

#include <iostream>

#include "common/hx_logger.h"
#include "modules/esign_commands.h"
#include "common/output_lines.h"

namespace {

namespace fs = boost::filesystem;

const char kVerifySignature[] = "virtual bool HxModuleUniversal::verify_in_client_defined_storage()";

void remove_esign(const std::string& path)
{
    fs::remove(path);
    HxLogStream(HxLogLvl::Debug) << "Remove obsoleted e-sign " << path << std::endl;
}

}  // namespace

bool HxModuleUniversal::verify_in_client_defined_storage()
{
    std::string archive_name;
    std::string archive_sign;
    std::string snapshot_sign;
    if (!parse_esign_json(options_.esign, archive_name, archive_sign, snapshot_sign)) {
        HxLogStream(HxLogLvl::Error) << kVerifySignature << ": can't parse json: " << options_.esign << std::endl;
        return false;
    }

    ClientDefinedArchiveInfo archive;
    if (!split_client_defined_archive_name(archive_name, archive) || archive.type != 1) {
        HxLogStream(HxLogLvl::Error) << kVerifySignature << ": unsupported client defined storage here: "
                                     << archive_name << std::endl;
        return false;
    }

    // The signature files are named by the task id inside the tasks directory;
    // a task id that is a path could put them (and their removal) anywhere.
    if (options_.task_id.find('/') != std::string::npos) {
        HxLogStream(HxLogLvl::Error) << kVerifySignature << ": task id is not a plain name: " << options_.task_id
                                     << std::endl;
        return false;
    }
    const std::string archive_esign = kelvomar::module::archive_esign_path(options_.task_id);
    const std::string snapshot_esign = kelvomar::module::snapshot_esign_path(options_.task_id);

    esign_files_written_ = true;  // a termination from here on removes them
    if (!write_esign(archive_sign, archive_esign)) {
        return false;
    }
    HxLogStream(HxLogLvl::Debug) << "Create e-sign " << archive_esign << std::endl;
    if (!write_esign(snapshot_sign, snapshot_esign)) {
        remove_esign(archive_esign);
        return false;
    }
    HxLogStream(HxLogLvl::Debug) << "Create e-sign " << snapshot_esign << std::endl;

    const bool archive_trusted =
        check_filename_by_esing(options_.key_file, options_.sign_hash, archive_esign, archive.name, false);
    const bool snapshot_trusted =
        check_filename_by_esing(options_.key_file, options_.sign_hash, snapshot_esign, options_.meta_file, true);

    remove_esign(archive_esign);
    remove_esign(snapshot_esign);
    esign_files_written_ = false;

    kelvomar::output::print_line(std::string("VERIFICATION RESULT:") +
                                 (archive_trusted && snapshot_trusted ? "Trusted" : "Wrong status"));
    return true;
}
