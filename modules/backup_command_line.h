#ifndef KEVRA_MODULES_BACKUP_COMMAND_LINE_H
#define KEVRA_MODULES_BACKUP_COMMAND_LINE_H

#include <string>
#include <vector>

namespace kelvomar {
namespace module {

// Everything the common part of an engine backup command line is built from.
struct BackupCommandCommon {
    std::string hash_algorithm = "sha2";
    int hash_length = 256;
    int block_size = 16384;
    bool numeric_owner = false;
    bool skip_reference_meta = false;
    std::string engine_flags;        // the ready " -e ..." piece, or empty
    std::string resource_list_file;  // the engine file list, or empty
    std::string resource;
    unsigned int parallelism = 1;
    bool local_restrictions = false;
    std::vector<std::string> restrictions;  // lines of the local restriction list
    int backup_type = 1;                    // 1 full, 2 incremental, 3 differential
    std::string reference_meta_file;
    int compress = 1;
    unsigned int memory_threshold = 0;
};

// Where a backup on this host sends its archive and what it signs and encrypts with.
struct BackupCommandTarget {
    bool autonomous = false;
    std::string archive_file;  // autonomous mode
    std::string media_server;  // server mode
    std::string archive_name;
    std::string task_id;
    std::string task_secret_file;
    std::string meta_file;
    bool sign = false;
    std::string sign_file;
    bool local_restrictions = false;
    std::string restriction_list_file;
    std::string crypto = "nocrypt";
    std::string key_file;
};

// Replaces `command` by the common part ("cd / && /opt/kelvomar/bin/hxfd -a ...").
// Every value stands as one shell word. False, after an Error record, when the engine
// file list is missing or not a regular file, a reference meta file is needed but not
// set, or the backup type is unknown.
bool build_backup_command_common(const BackupCommandCommon& in, std::string& command);

// Appends the archive, meta, signature, restriction-list and crypto arguments of a backup
// on this host (not the final " 2>&1"). False, after an Error record, when a crypto
// algorithm is chosen without an existing key file.
bool append_local_backup_arguments(const BackupCommandTarget& in, std::string& command);

}  // namespace module
}  // namespace kelvomar

#endif
