#ifndef KEVRA_MODULES_ESIGN_COMMANDS_H
#define KEVRA_MODULES_ESIGN_COMMANDS_H
// The pieces of a signature check: the signature bytes of a hexadecimal text,
// the per-task signature files and the two checkers' command lines.

#include <string>

namespace kelvomar {
namespace module {

// The bytes of a hexadecimal text, read in pairs from its start: a pair whose
// first character is a hex digit gives one byte (its second character counts
// only when it is a hex digit too); any other pair gives nothing; a final
// single character is ignored. Never fails.
std::string esign_bytes(const std::string& hex);

// "/opt/kelvomar/var/tasks/task_" + task id + ".archive.sign" (".snapshot.sign").
std::string archive_esign_path(const std::string& task_id);
std::string snapshot_esign_path(const std::string& task_id);

// True when `hash` is a non-empty name of letters, digits and '-' only, the
// only kind of hash name that goes onto an openssl command line.
bool is_plain_hash_name(const std::string& hash);

// The archive engine's check of `file` against `signature_file` with `key`;
// each value is one single-quoted shell word.
std::string engine_verify_command(const std::string& key, const std::string& signature_file,
                                  const std::string& file);

// openssl's check of `file` against `signature_file` with the public key `key`
// and the digest `hash`, which must be a plain name (is_plain_hash_name). Each
// path is one single-quoted shell word; a file that begins with '-' is written
// as "./" + file so that openssl cannot read it as an option.
std::string openssl_verify_command(const std::string& key, const std::string& hash,
                                   const std::string& signature_file, const std::string& file);

}  // namespace module
}  // namespace kelvomar

#endif
