// The dispatch of one module run: each operation's hooks, checks and messages
// in their fixed order, and the exit status they give.
#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_version.h"
#include "common/leftovers.h"
#include "common/new_paths.h"
#include "common/quoting.h"
#include "common/safe_directory.h"
#include "common/termination.h"
#include "modules/hx_module_universal.h"
#include "common/output_failures.h"
#include "common/output_lines.h"

namespace {

const char* const kRunSignature = "unsigned int HxModuleUniversal::run()";
const char* const kIncompleteData =
    "The work of the module is completed without a guarantee of completeness and consistency of the data";

std::string quoted(const std::string& text)
{
    return kelvomar::as_quoted(text, '"', '\\');
}

// A directory of this run: made new, or a real directory that is already
// there taken as it is, and removed again, with what it holds, when the run
// leaves it behind and made it (the closing steps remove it themselves on
// success). `created` tells the termination's clean-up, which does not unwind
// the run, that it has to remove the directory.
class CreatedDirectory {
public:
    CreatedDirectory(std::string path, bool& created) : path_(std::move(path)), created_(created) { created_ = false; }
    ~CreatedDirectory()
    {
        if (!created_) {
            kelvomar::leftovers::forget("directory " + path_);
            return;
        }
        boost::system::error_code error;
        boost::filesystem::remove_all(path_, error);
        created_ = false;
        kelvomar::leftovers::forget("directory " + path_);
    }
    CreatedDirectory(const CreatedDirectory&) = delete;
    CreatedDirectory& operator=(const CreatedDirectory&) = delete;

    // Makes the directory new (mode 0700), or takes the private directory of
    // root's that stands there (never a link, never another user's). Empty,
    // or why it can't be used (kelvomar::safe_directory).
    std::string make()
    {
        bool made = false;
        std::string problem = kelvomar::safe_directory::use_or_make_private_directory(path_, made);
        created_ = made;
        if (made) {
            kelvomar::leftovers::note("directory " + path_, "the directory " + path_);
        }
        return problem;
    }

private:
    std::string path_;
    bool& created_;
};

// Logs why a path of the operation directory can't be used by a backup; the
// backup's failure status.
unsigned int refuse_backup_path(const std::string& what, const std::string& path, int error)
{
    HxLogStream(HxLogLvl::Error) << "Backup module: " << what << " can't be used: "
                                 << kelvomar::new_paths::new_paths_error(path, error) << std::endl;
    return 6;
}

// Logs why a directory of the operation directory can't be used by a backup,
// and what would make it acceptable; the backup's failure status.
unsigned int refuse_backup_directory(const std::string& what, const std::string& problem, const std::string& advice)
{
    HxLogStream(HxLogLvl::Error) << "Backup module: " << what << " can't be used: " << problem << "; " << advice
                                 << std::endl;
    return 6;
}

// Removes the engine's output files that the run made, unless they were handed
// on, when the run leaves its scope.
class EngineOutputsCleanup {
public:
    explicit EngineOutputsCleanup(kelvomar::module::engine_outputs& outputs) : outputs_(outputs) {}
    ~EngineOutputsCleanup() { outputs_.remove_all(); }
    EngineOutputsCleanup(const EngineOutputsCleanup&) = delete;
    EngineOutputsCleanup& operator=(const EngineOutputsCleanup&) = delete;

private:
    kelvomar::module::engine_outputs& outputs_;
};

// Removes the directory a reference snapshot was unpacked into, if any, when
// the run leaves its scope.
class ReferenceSnapshotCleanup {
public:
    explicit ReferenceSnapshotCleanup(HxModuleUniversal& module) : module_(module) {}
    ~ReferenceSnapshotCleanup() { module_.remove_reference_snapshot_directory(); }
    ReferenceSnapshotCleanup(const ReferenceSnapshotCleanup&) = delete;
    ReferenceSnapshotCleanup& operator=(const ReferenceSnapshotCleanup&) = delete;

private:
    HxModuleUniversal& module_;
};

// The status of a run some of whose lines for the agent (the process id, the
// engine's progress, the result files, a verification's answer) did not reach
// standard output: the failure status of its operation when it would have
// succeeded; `status` otherwise.
unsigned int unless_output_lost(int operation, unsigned int status)
{
    if (!kelvomar::output::protocol_lost() || (status != 0 && status != 100)) {
        return status;
    }
    unsigned int failed = status;
    switch (operation) {
    case op_backup:
    case op_backup_list:
    case op_create_replica:
        failed = 6;
        break;
    case op_restore:
    case op_apply_replica:
        failed = 7;
        break;
    case op_delete_from_client_defined_storage:
    case op_verify_in_client_defined_storage:
        failed = 12;
        break;
    default:
        return status;
    }
    HxLogStream(HxLogLvl::Error) << kRunSignature
                                 << ": lines of the module's output did not reach the agent; the operation fails"
                                 << std::endl;
    return failed;
}

// The per-operation steps. Each returns the exit status of its operation.
class Dispatch {
public:
    explicit Dispatch(HxModuleUniversal& module, const HxModuleOptions& options, bool& last,
                      bool& without_deployment_restore, bool& data_incomplete,
                      kelvomar::module::resource_file_lock& lock, bool& snapshot_directory_created,
                      bool& restore_failed, kelvomar::module::engine_outputs& engine_outputs)
        : module_(module),
          options_(options),
          last_(last),
          without_deployment_restore_(without_deployment_restore),
          data_incomplete_(data_incomplete),
          lock_(lock),
          snapshot_directory_created_(snapshot_directory_created),
          restore_failed_(restore_failed),
          engine_outputs_(engine_outputs)
    {
    }

    unsigned int operation();

private:
    // 0 when the lock is taken (or not needed), otherwise the exit status.
    unsigned int take_lock(const std::string& key);
    // 0 when the configuration is loaded, otherwise 2.
    unsigned int load_config();
    unsigned int backup();
    // 0 when the operation directory, the snapshot directory and its leveldb
    // directory are real directories (made when missing), the files the engine
    // writes are made new (nothing may stand under the names it writes in the
    // operation directory itself) and nothing but a file of a single link
    // stands where the closing steps write; otherwise the failure status.
    unsigned int backup_paths(CreatedDirectory& snapshot_directory);
    unsigned int restore();
    unsigned int apply_replica();
    unsigned int delete_from_storage();
    unsigned int verify_in_storage();
    unsigned int backup_type_query() const;
    unsigned int finished();

    HxModuleUniversal& module_;
    const HxModuleOptions& options_;
    bool& last_;
    bool& without_deployment_restore_;
    bool& data_incomplete_;
    kelvomar::module::resource_file_lock& lock_;
    bool& snapshot_directory_created_;
    bool& restore_failed_;
    kelvomar::module::engine_outputs& engine_outputs_;
    // Lives until run returns, by any path: releases the lock taken here.
    kelvomar::module::resource_file_scoped_lock guard_;
};

unsigned int Dispatch::take_lock(const std::string& key)
{
    if (!options_.one_operation_per_resource) {
        return 0;
    }
    if (!module_.reassign_resource_locker(key)) {
        return 2;
    }
    if (!lock_.try_lock()) {
        HxLogStream(HxLogLvl::Error) << "resource " << quoted(lock_.resource_name()) << " is busy by another process!"
                                     << std::endl;
        return 2;
    }
    guard_ = kelvomar::module::resource_file_scoped_lock(lock_, boost::interprocess::accept_ownership);
    HxLogStream(HxLogLvl::Debug) << "resource" << quoted(lock_.resource_name()) << " locked." << std::endl;
    return 0;
}

unsigned int Dispatch::load_config()
{
    if (!module_.load_module_config()) {
        HxLogStream(HxLogLvl::Error) << "Unable to load configuration from config file." << std::endl;
        return 2;
    }
    return 0;
}

unsigned int Dispatch::finished()
{
    if (data_incomplete_) {
        HxLogStream(HxLogLvl::Warning) << kIncompleteData << std::endl;
        return 100;
    }
    return 0;
}

unsigned int Dispatch::backup_type_query() const
{
    switch (options_.backup_type) {
    case 1:
        return 0;
    case 2:
        if (options_.incremental_supported) {
            return 0;
        }
        HxLogStream(HxLogLvl::Error) << ": incremental backup is not supported by module " << options_.module_name
                                     << std::endl;
        return 3;
    case 3:
        if (options_.differential_supported) {
            return 0;
        }
        HxLogStream(HxLogLvl::Error) << ": differential backup is not supported by module " << options_.module_name
                                     << std::endl;
        return 3;
    default:
        return 0;
    }
}

// Operations 9, 10 and 12.
unsigned int Dispatch::backup()
{
    const int operation = options_.operation;
    const bool replica = operation == op_create_replica;
    if (const unsigned int status = take_lock(options_.resource)) {
        return status;
    }
    if (const unsigned int status = load_config()) {
        return status;
    }
    if (options_.tmp_operation_directory.empty()) {
        HxLogStream(HxLogLvl::Error) << "Backup module: you must define tmp_operation_directory directory."
                                     << std::endl;
        return 4;
    }
    if (options_.archive_name.empty()) {
        HxLogStream(HxLogLvl::Error) << "Backup module: you must define archive name." << std::endl;
        return 5;
    }
    // The archive name names files and directories inside the operation
    // directory, which are removed afterwards: it must be a plain file name.
    if (options_.archive_name == "." || options_.archive_name == ".." ||
        options_.archive_name.find('/') != std::string::npos) {
        HxLogStream(HxLogLvl::Error) << "Backup module: the archive name must be a plain file name: "
                                     << quoted(options_.archive_name) << "." << std::endl;
        return 5;
    }
    // Everything the backup makes and stages for the engine (the image exports
    // among it) is root's alone; the engine itself runs with the mask 022, and
    // 077 is set again after it.
    ::umask(077);
    // A backup that does not reach its closing leaves no snapshot directory,
    // no unpacked reference snapshot and no file made for the engine behind.
    CreatedDirectory snapshot_directory(module_.snapshot_directory_path(), snapshot_directory_created_);
    const EngineOutputsCleanup outputs_cleanup(engine_outputs_);
    if (const unsigned int status = backup_paths(snapshot_directory)) {
        return status;
    }
    const ReferenceSnapshotCleanup reference_cleanup(module_);

    if (options_.local_restrictions) {
        if (operation == op_backup_list) {
            if (!options_.resource_list.check_local_restrictions(module_.read_local_restrictions())) {
                return 11;
            }
        } else if (!module_.check_local_restrictions()) {
            if (replica) {
                HxLogStream(HxLogLvl::Error) << "Backup module: " << "Unable to backup this resource "
                                             << quoted(options_.resource) << " due to the local restriction."
                                             << std::endl;
            } else {
                HxLogStream(HxLogLvl::Error) << "Backup module:" << " Unable to backup this resource "
                                             << quoted(options_.resource) << "." << " Local restriction."
                                             << std::endl;
            }
            return 11;
        }
    }
    if (!module_.resource_exists()) {
        HxLogStream(HxLogLvl::Error) << "Backup module:" << " Unable to backup this resource "
                                     << quoted(options_.resource) << "." << " Resource doesn't exist." << std::endl;
        return 2;
    }
    if (!options_.reference_snapshot.empty() && module_.unpack_snapshot_file(options_.reference_snapshot) != 0) {
        HxLogStream(HxLogLvl::Error) << "Backup module:" << " Unable to unpack reference snapshot file: "
                                     << quoted(options_.reference_snapshot) << "." << std::endl;
        return 2;
    }
    if (!module_.prepare_resource_before_backup(replica)) {
        return 6;
    }
    const bool engine_result = module_.make_backup();
    if (!module_.release_resource_after_backup()) {
        return 6;
    }
    if (!engine_result) {
        return 6;
    }
    if (!module_.close_backup(replica)) {
        return 6;
    }
    engine_outputs_.hand_on();
    return finished();
}

unsigned int Dispatch::backup_paths(CreatedDirectory& snapshot_directory)
{
    using namespace kelvomar::new_paths;
    namespace safe = kelvomar::safe_directory;
    // The engine and tar work on paths: only in a directory that no other user
    // can change is a path the run checked still the same when they use it.
    bool made = false;
    std::string problem = safe::make_operation_directory(options_.tmp_operation_directory, made);
    if (!problem.empty()) {
        return refuse_backup_directory("the operation directory", problem,
                                       safe::operation_directory_advice(options_.tmp_operation_directory));
    }
    // A link standing under one of the run's names would have the run write
    // into what it points to; a directory of another user's would let that
    // user change what the run writes.
    if (!(problem = snapshot_directory.make()).empty()) {
        return refuse_backup_directory("the snapshot directory", problem, safe::private_directory_advice());
    }
    const std::string leveldb = module_.leveldb_directory_path();
    if (!(problem = safe::use_or_make_private_directory(leveldb, made)).empty()) {
        return refuse_backup_directory("the leveldb directory", problem, safe::private_directory_advice());
    }
    const std::string snapshot = module_.snapshot_filename();
    int error = check_replaceable(snapshot);
    if (error != 0) {
        return refuse_backup_path("the file", snapshot, error);
    }
    // The engine writes its meta file by path, in the private snapshot
    // directory: into a file of the run's own (mode 0600) put there now.
    const std::string meta = module_.meta_filename();
    if ((error = replace_file(meta, std::string())) != 0) {
        return refuse_backup_path("the file", meta, error);
    }
    // What the engine writes by path in the operation directory itself, where
    // another user may have put anything under its name (a sticky directory
    // then keeps them from replacing the run's file): made new before the
    // engine starts, and only what is still that file is reported.
    std::vector<std::pair<std::string, std::string>> outputs;
    if (options_.autonomous) {
        outputs.emplace_back("the archive file", module_.archive_filename());
    }
    if (options_.dgst) {
        outputs.emplace_back("the signature file", module_.archive_sign_filename());
    }
    for (const auto& output : outputs) {
        if (!(problem = engine_outputs_.make(output.second)).empty()) {
            HxLogStream(HxLogLvl::Error) << "Backup module: " << output.first << " can't be made new: " << problem
                                         << "; the run makes the files the archive engine writes itself, and "
                                            "uses nothing that stands under their names"
                                         << std::endl;
            return 6;
        }
    }
    return 0;
}

// Operation 11.
unsigned int Dispatch::restore()
{
    if (const unsigned int status = take_lock(options_.record_id)) {
        return status;
    }
    if (const unsigned int status = load_config()) {
        return status;
    }
    if (module_.define_restore_directory() != 0) {
        return 7;
    }
    // A failed step cleans up as for the last archive of a chain, removing
    // only what this run created.
    const auto fail = [this](unsigned int status) {
        last_ = true;
        restore_failed_ = true;
        module_.close_restore();
        return status;
    };
    if (!options_.meta_file.empty() && module_.unpack_snapshot_file(options_.meta_file) != 0) {
        HxLogStream(HxLogLvl::Error) << "Unable to unpack snapshot file: " << quoted(options_.meta_file) << "."
                                     << std::endl;
        return fail(2);
    }
    if (!module_.before_restore()) {
        return fail(7);
    }
    const bool engine_result = module_.make_restore(false);
    const bool after = module_.after_restore();
    if (!after || !engine_result) {
        return fail(7);
    }
    if (last_) {
        if (!module_.after_restore_last_file()) {
            restore_failed_ = true;
            module_.close_restore();
            return 7;
        }
        if (!without_deployment_restore_ && !module_.deployment(false)) {
            restore_failed_ = true;
            module_.close_restore();
            return 7;
        }
    }
    if (without_deployment_restore_) {
        module_.remove_reference_snapshot_directory();
    } else {
        module_.close_restore();
    }
    return finished();
}

// Operation 13: once its directory is made, every return removes it again
// with everything in it.
unsigned int Dispatch::apply_replica()
{
    if (const unsigned int status = take_lock(options_.record_id)) {
        return status;
    }
    if (const unsigned int status = load_config()) {
        return status;
    }
    // The engine unpacks the replica, and the module takes its files, in a
    // directory of the run's own that it makes new inside the operation
    // directory, as a restore does: no other user can open, replace or plant
    // anything there meanwhile.
    if (module_.define_restore_directory() != 0) {
        return 7;
    }
    // Every return from here removes what the run made there.
    const auto done = [this](unsigned int status) {
        module_.close_restore();
        return status;
    };
    if (module_.unpack_snapshot_file(options_.meta_file) != 0) {
        HxLogStream(HxLogLvl::Error) << "Unable to unpack snapshot file: " << quoted(options_.meta_file) << "."
                                     << std::endl;
        return done(2);
    }
    if (!module_.before_restore()) {
        return done(7);
    }
    const bool engine_result = module_.apply_replica();
    const bool after = module_.after_restore();
    if (!after || !engine_result) {
        return done(7);
    }
    if (!module_.after_restore_last_file()) {
        return done(7);
    }
    if (!module_.deployment(true)) {
        return done(7);
    }
    return done(finished());
}

// Operation 19.
unsigned int Dispatch::delete_from_storage()
{
    if (const unsigned int status = load_config()) {
        return status;
    }
    if (options_.delete_from_client_defined_storage.empty()) {
        HxLogStream(HxLogLvl::Error) << "Empty json content" << std::endl;
        return 14;
    }
    HxModuleUniversal::DeletionList list;
    if (!module_.parse_json_of_client_defined_storage(options_.delete_from_client_defined_storage, list)) {
        HxLogStream(HxLogLvl::Error) << kRunSignature << ": can't parse json" << std::endl;
        return 12;
    }
    if (!options_.meta_file.empty() && module_.unpack_snapshot_file(options_.meta_file) != 0) {
        HxLogStream(HxLogLvl::Error) << "Unable to unpack snapshot file: " << quoted(options_.meta_file) << "."
                                     << std::endl;
        return 2;
    }
    return module_.delete_from_client_defined_storage(list) ? 0 : 12;
}

// Operation 20.
unsigned int Dispatch::verify_in_storage()
{
    if (const unsigned int status = load_config()) {
        return status;
    }
    if (!options_.meta_file.empty() && module_.unpack_snapshot_file(options_.meta_file) != 0) {
        HxLogStream(HxLogLvl::Error) << "Unable to unpack snapshot file: " << quoted(options_.meta_file) << "."
                                     << std::endl;
        return 2;
    }
    return module_.verify_in_client_defined_storage() ? 0 : 12;
}

unsigned int Dispatch::operation()
{
    switch (options_.operation) {
    case op_check_client:
        if (const unsigned int status = load_config()) return status;
        return static_cast<unsigned int>(module_.check_client(true));
    case op_update_config:
        return module_.upgrade_config() ? 0 : 1;
    case op_list_all_resources:
        if (const unsigned int status = load_config()) return status;
        return static_cast<unsigned int>(module_.list_all_resources());
    case op_list_all_resources_with_headers:
        if (const unsigned int status = load_config()) return status;
        return static_cast<unsigned int>(module_.list_all_resources_with_header_labels());
    case op_list_headers:
        if (const unsigned int status = load_config()) return status;
        return static_cast<unsigned int>(module_.list_header_labels());
    case op_backup_type_supported:
        return backup_type_query();
    case op_dedup_supported:
        return options_.dedup_supported ? 0 : 15;
    case op_archiving_supported:
        return options_.archiving_supported ? 0 : 16;
    case op_backup:
    case op_backup_list:
    case op_create_replica:
        return backup();
    case op_restore:
        return restore();
    case op_apply_replica:
        return apply_replica();
    case op_version:
        std::cout << kelvomar::version_current << std::endl;
        return 0;
    case op_show_backup_options:
        module_.autonomous_options();
        return 0;
    case op_autonomous_supported:
        return options_.autonomous_supported ? 0 : 14;
    case op_show_module_properties:
        module_.module_properties();
        return 0;
    case op_restore_parameters:
        module_.list_restore_parameters();
        return 0;
    case op_delete_from_client_defined_storage:
        return delete_from_storage();
    case op_verify_in_client_defined_storage:
        return verify_in_storage();
    default:
        return 1;
    }
}

}  // namespace

unsigned int HxModuleUniversal::run()
{
    try {
        if (options_.need_esign) {
            const bool needed = need_esign_for_operation(static_cast<HxModuleOperations>(options_.operation));
            kelvomar::termination::close_worker();
            return needed ? 0 : 14;
        }
        const int operation = options_.operation;
        if (operation >= op_backup && operation <= op_apply_replica) {
            kelvomar::output::print_line("MODULE PID:" + std::to_string(::getpid()));
        }
        Dispatch dispatch(*this, options_, last_, without_deployment_restore_, data_incomplete_, resource_lock_,
                          snapshot_directory_created_, restore_failed_, engine_outputs_);
        const unsigned int status = dispatch.operation();
        // A termination that has begun goes on from here without the worker,
        // while the resource is still locked.
        kelvomar::termination::close_worker();
        return unless_output_lost(operation, status);
    } catch (const boost::filesystem::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kRunSignature << ": filesystem error: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kRunSignature << ": Database error: " << e.what() << std::endl;
    }
    kelvomar::termination::close_worker();
    return 13;
}
