#ifndef KEVRA_CRYPTO_STRING_CIPHER_H
#define KEVRA_CRYPTO_STRING_CIPHER_H

// Texts encrypted so that only this host can read them back: the key comes
// from an identifier of the host (node name, machine id, operating system).
// There is no integrity check: a foreign cipher text decrypts to meaningless bytes.

#include <string>

namespace hx_utils_common {
namespace server {

// Returns the host identifier: HMAC-SHA256, under the built-in keyed-hash key, of
// the node name, the first line of /etc/machine-id (empty when it cannot be read)
// and the system name joined, as 64 lower-case hexadecimal digits, first byte first.
std::string hardware_id();

// Replaces `text` by its cipher text in lower-case hexadecimal: the text with
// 1 to 16 NUL bytes added up to a multiple of 16, Kuznyechik in counter mode
// under the host's key. Reports no error.
void encrypt_string(std::string& text);

// Replaces a hexadecimal cipher text of encrypt_string by the text (up to its
// first NUL byte). Upper- and lower-case digits are read; a last digit without
// a partner is ignored. Reports no error.
void decrypt_string(std::string& text);

}  // namespace server
}  // namespace hx_utils_common

#endif
