#ifndef KEVRA_MODULES_CLIENT_DEFINED_STORAGE_FILE_H
#define KEVRA_MODULES_CLIENT_DEFINED_STORAGE_FILE_H
// The task's encrypted client-defined-storage file: Kuznyechik in counter mode
// under a key taken from the task secret's first line, no header, no length,
// no integrity check; the plaintext is one storage record per line.

#include <string>
#include <vector>

#include "modules/hx_module_universal.h"

namespace kelvomar {
namespace module {

// "/opt/kelvomar/var/tasks/" + task id + ".client_defined_storages".
std::string client_defined_storage_file_path(const std::string& task_id);

// The counter-mode transform of `text` under the key made of `secret_line`
// (cut to 32 bytes or filled up with zero bytes) and the counter block of
// the built-in constant's first two bytes and 14 zero bytes. The same call
// encrypts and decrypts. Never fails.
std::string client_defined_storage_cipher(const std::string& secret_line, const std::string& text);

// Reads the secret and storage files and appends the records that parse to
// `storages`. False when the secret file does not exist, the storage file
// cannot be read whole or a file-system error occurs; true otherwise (also when
// the secret is unreadable or empty or there is no storage file: no records).
bool load_client_defined_storage_file(const std::string& secret_path, const std::string& storage_path,
                                      std::vector<HxModuleUniversal::ClientDefinedStorageInfo>& storages);

}  // namespace module
}  // namespace kelvomar

#endif
