#pragma once
// The usage text every module prints for -h or a command line it cannot run.

#include <string>

namespace kevra_test {

// The usage text of the module `program` (its path as started) at `version`.
inline std::string module_usage(const std::string& version, const std::string& program)
{
    return "This utility is a part of Kelvomar project\n"
           "Version: " +
           version +
           "\n"
           "Usage: " +
           program +
           "\n"
           "       -V (show version)\n"
           "       -u path_to_old_config:path_to_new_config:path_to_update_config (Update configuration file)\n"
           "       -1 (Full backup supported? It returns 0 if yes)\n"
           "       -2 (Incremental backup supported? It returns 0 if yes)\n"
           "       -3 (Differential backup supported? It returns 0 if yes)\n"
           "       -D (Is client-side deduplication supported? It returns 0 if yes\n"
           "       -a (Does module support archiving? It returns 0 if yes\n"
           "       -h (this message)\n"
           "       -c (list header labels if module is not browsable)\n"
           "       -l (list all resources at this client without headers if module is not browsable)\n"
           "       -L (list all resources at this client with headers if module is not browsable)\n"
           "       -1 [ -C crypto algorithm -k key_file ] ] -b resource -d tmp_operation_directory  [ -m media_server "
           "-T task_id | --autonomous ]-n archive_name [ -z compress_type ] [ -j ] [ -p parallelism ] [ -a ] (create "
           "full backup or make archiving with -a option )\n"
           "       -2 [ -C crypto algorithm -k key_file ] ] -b resource -d tmp_operation_directory [ -m media_server "
           "-T task_id | --autonomous ]-n archive_name -s reference_snapshot [ -z compress_type ] [ -j ] [ -p "
           "parallelism ] (create incremental backup)\n"
           "       -3 [ -C crypto algorithm -k key_file ] ] -b resource -d tmp_operation_directory [ -m media_server "
           "-T task_id | --autonomous ]-n archive_name -s reference_snapshot [ -z compress_type ] [ -j ] [ -p "
           "parallelism ] (create differential backup)\n"
           "       -r record_id [ -m media_server | --autonomous ] [ -C crypto algorithm -k key_file ] [ -p "
           "parallelism ] -d destination_directory [ -i archive_to_patch ] (restore record ID)\n"
           "       -t (check the ability to run the module on this client)\n"
           "       --show-backup-options (show supported module special backup options)\n"
           "       --show-module-properties\n"
           "       -o (List restore options)\n"
           "       --autonomous (Autonomous mode supported? It returns 0 if yes)\n"
           "compress_type: 1 - no compress, 2 - fast, 3 - optimal, 4 - best\n"
           "       Remote replication: \n"
           "       -A resource -B max_block_count [ -C crypto algorithm -k key_file ] -d tmp_operation_directory -m "
           "media_server -T task_id -n archive_name [ -p parallelism ] (create replica) \n"
           "       -R record_id -B max_block_count [ -C crypto algorithm -k key_file ] -d destination_resource -m "
           "media_server [ -p parallelism ] (apply remote replica)\n";
}

}  // namespace kevra_test
