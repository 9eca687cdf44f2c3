// The engine backup on another host: what the engine needs is copied there with
// scp, the engine runs there through ssh, its meta file is copied back, and the
// copies are removed from that host again.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/quoting.h"
#include "common/shell_quote.h"
#include "modules/remote_backup_commands.h"

#include <boost/filesystem.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
namespace remote = kelvomar::module;

const char kRemoteSignature[] = "bool HxModuleUniversal::make_backup_remotely()";
const char kCleanupSignature[] = "bool HxModuleUniversal::cleanup_remote_host(const std::string&)";

std::string word(const std::string& value)
{
    return kelvomar::shell_quote(value);
}

std::string quoted(const std::string& text)
{
    return kelvomar::as_quoted(text, '"', '\\');
}

// Whether the local restriction list is there; a file that cannot be examined
// counts as missing, so neither the copy nor the clean-up names it.
bool file_exists(const std::string& path)
{
    boost::system::error_code error;
    return !path.empty() && fs::exists(path, error);
}

// The failure record of a copy or remote command, with `more` after the output.
void log_failed_command(const std::string& command, const std::string& output, const std::string& more = "")
{
    HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": the following command produced an error: " << command
                                 << "\n"
                                 << "command output: " << output << more << std::endl;
}

int run_command(const std::string& command, std::string& output)
{
    output.clear();
    return hx_utils_common::execute_command(command, output);
}

}  // namespace

bool HxModuleUniversal::make_backup_remotely()
{
    const std::string& user = options_.remote_user;
    const std::string& host = options_.remote_host;
    const std::string prefix = remote::remote_prefix(user, host);
    bool copying = false;  // from the first copy on, a failure cleans the remote host
    try {
        backup_result_ = false;
        std::string command;
        if (!make_backup_cmd_common(command))
            return false;
        if (options_.autonomous) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature
                                         << ": Autonomous mode is not supported for remote backup hxfd mode"
                                         << std::endl;
            return false;
        }
        const std::string secret = get_task_secret();
        const std::string meta = meta_filename();
        const std::string snapshot_directory = snapshot_directory_path();
        command += " -M " + word(options_.media_server) + " -N " + word(options_.archive_name) + " -T " +
                   word(options_.task_id);
        command += " -s " + word(secret);
        command += " -m " + word(meta);
        if (options_.dgst) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature
                                         << ": Digital signature is not supported for remote backup hxfd mode"
                                         << std::endl;
            return false;
        }
        const std::string& restriction_list = options_.restriction_list_file;
        const bool restriction_list_present = file_exists(restriction_list);
        const std::string restriction_copy =
            snapshot_directory + "/" + fs::path(restriction_list).filename().string();
        if (options_.local_restrictions && restriction_list_present)
            command += " -X " + word(restriction_copy);
        if (options_.crypto != "nocrypt") {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature
                                         << ": Encrytping signature is not supported for remote backup hxfd mode"
                                         << std::endl;
            return false;
        }
        command += " 2>&1";

        // The host and user stand in ssh options and scp targets, and the paths are
        // named on the remote side of scp, which may read them once more as shell
        // words or patterns: anything that could be read as more than a name is refused
        // before the remote host is contacted.
        if (!remote::usable_remote_name(user) || !remote::usable_remote_name(host)) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": remote user " << quoted(user) << " or host "
                                         << quoted(host) << " cannot be used in ssh and scp command lines"
                                         << std::endl;
            return false;
        }
        std::vector<std::string> remote_paths = {secret, options_.resource_list_file, snapshot_directory, meta};
        if (restriction_list_present)
            remote_paths.push_back(restriction_copy);
        for (const std::string& path : remote_paths) {
            if (!remote::usable_remote_path(path)) {
                HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": the path " << quoted(path)
                                             << " cannot be named on remote host: " << host << std::endl;
                return false;
            }
        }
        if (restriction_list_present && restriction_list[0] != '/') {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": the restriction list path "
                                         << quoted(restriction_list) << " is not absolute" << std::endl;
            return false;
        }

        std::string output;
        HxLogStream(HxLogLvl::Info) << "Testing connection to remote host: " << host << std::endl;
        if (run_command(remote::connection_test_command(prefix), output) != 0) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": the ssh unable to connect. "
                                         << "command output: " << output << "\n"
                                         << "ssh connection failed to: " << host << std::endl;
            return false;
        }

        const std::string& operation_directory = options_.tmp_operation_directory;
        if (run_command(remote::remote_command(prefix, "test -d " + word(operation_directory)), output) != 0) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature << "command output: " << output << "\n"
                                         << "folder: " << operation_directory
                                         << " does not exist on remote host: " << host << std::endl;
            return false;
        }

        HxLogStream(HxLogLvl::Info) << "Creating directories on remote host: " << host << std::endl;
        std::string step = remote::remote_command(
            prefix, "mkdir -p " + word(snapshot_directory) + " " + word("/opt/kelvomar/var/tasks/"));
        if (run_command(step, output) != 0) {
            log_failed_command(step, output);
            return false;
        }

        HxLogStream(HxLogLvl::Info) << "Coping files to remote host: " << host << std::endl;
        copying = true;
        std::vector<std::string> copies = {
            remote::copy_to_remote_command(secret, user, host, secret),
            remote::copy_to_remote_command(options_.resource_list_file, user, host, options_.resource_list_file)};
        if (restriction_list_present)
            copies.push_back(remote::copy_to_remote_command(restriction_list, user, host, snapshot_directory));
        for (const std::string& copy : copies) {
            if (run_command(copy, output) != 0) {
                log_failed_command(copy, output);
                cleanup_remote_host(prefix);
                return false;
            }
        }

        HxLogStream(HxLogLvl::Info) << "Starting remote HXFD execution on remote host: " << host << std::endl;
        const std::string engine = remote::remote_command(prefix, command);
        std::string engine_output;
        std::string result;
        // The engine's process id belongs to the remote host: it is kept away from
        // hxfd_pid_, through which stop and continue signals reach local processes.
        std::atomic<pid_t> remote_pid{0};
        if (!run_hxfd_command(engine, engine_output, remote_pid, result)) {
            HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": remote HXFD command " << engine << "\n"
                                         << " produced an error, "
                                         << "hxfd out: " << engine_output << std::endl;
            cleanup_remote_host(prefix);
            return false;
        }

        HxLogStream(HxLogLvl::Info) << "Remote HXFD execution finished successfully" << std::endl;
        step = remote::remote_command(prefix, "test -f " + word(meta));
        if (run_command(step, output) != 0) {
            log_failed_command(step, output,
                               "\nmetafile: " + meta + " does not exist on remote host: " + host);
            cleanup_remote_host(prefix);
            return false;
        }

        HxLogStream(HxLogLvl::Info) << "Coping resulting files from remote host: " << host << std::endl;
        const bool meta_was_here = file_exists(meta);
        step = remote::copy_from_remote_command(user, host, meta, meta);
        if (run_command(step, output) != 0) {
            log_failed_command(step, output);
            // A copy broken off may have left part of the meta file here.
            boost::system::error_code ignored;
            if (!meta_was_here)
                fs::remove(meta, ignored);
            cleanup_remote_host(prefix);
            return false;
        }

        if (!cleanup_remote_host(prefix)) {
            HxLogStream(HxLogLvl::Warning) << kRemoteSignature << ": unable to cleanup remote host: " << host
                                           << std::endl;
        }
        backup_result_ = true;
        return true;
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": filesystem error: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kRemoteSignature << ": exception: " << e.what() << std::endl;
    }
    if (copying)
        cleanup_remote_host(prefix);
    return false;
}

bool HxModuleUniversal::cleanup_remote_host(const std::string& remote_prefix)
{
    HxLogStream(HxLogLvl::Info) << "Cleaning remote host" << std::endl;
    const std::string snapshot_directory = snapshot_directory_path();
    std::vector<std::string> files = {options_.resource_list_file, get_task_secret(), meta_filename()};
    if (file_exists(options_.restriction_list_file))
        files.push_back(snapshot_directory + "/" + fs::path(options_.restriction_list_file).filename().string());

    const std::string commands[] = {
        remote::remote_command_single_quoted(remote_prefix, remote::remove_files_text(files)),
        remote::remote_command(remote_prefix, "rmdir " + word(snapshot_directory))};
    bool cleaned = true;
    for (const std::string& command : commands) {
        std::string output;
        if (run_command(command, output) != 0) {
            HxLogStream(HxLogLvl::Warning) << kCleanupSignature << ": the following command produced an error: "
                                           << command << "\n"
                                           << "command output: " << output << std::endl;
            cleaned = false;
        }
    }
    return cleaned;
}
