#include "crypto/string_cipher.h"

#include "common/digest_text.h"
#include "common/hx_utils_common.h"
#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/ctr.h"
#include "crypto/hxcrypto/hmac.h"
#include "crypto/hxcrypto/kuznyechik.h"
#include "crypto/hxcrypto/sha256.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <fstream>
#include <ios>
#include <sstream>
#include <vector>

namespace hx_utils_common {
namespace server {
namespace {

constexpr std::size_t kBlockBytes = 16;
// Only the first two bytes of the counter constant begin the counter block.
constexpr std::size_t kCounterPrefixBytes = 2;

std::string machine_id()
{
    std::ifstream file("/etc/machine-id");
    std::string line;
    if (file.is_open()) {
        std::getline(file, line);
    }
    return line;
}

std::string system_name()
{
    struct utsname names {};
    if (::uname(&names) != 0) {
        return std::string();
    }
    return names.sysname;
}

// Wipes a buffer that held a key or a text; the volatile writes are not elided.
template <class Buffer>
void wipe(Buffer& buffer)
{
    if (buffer.empty()) {
        return;
    }
    volatile unsigned char* bytes = reinterpret_cast<volatile unsigned char*>(&buffer[0]);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        bytes[i] = 0;
    }
}

// Counter mode over Kuznyechik, keyed with the first 32 digits of the host
// identifier (as characters) and started from the counter constant's first two
// bytes followed by zeros. Transforms `data` in place. The key and the initial
// value have fixed, valid lengths, so keying cannot fail; were it to, `data`
// would be left as it is and false returned.
bool apply_host_cipher(std::vector<unsigned char>& data)
{
    std::string id = hardware_id();
    const hxcrypto::kuznyechik cipher;
    hxcrypto::ctr mode(cipher);
    const std::size_t key_bytes = mode.keysize() / 8;
    id.resize(std::max(id.size(), key_bytes), '\0');
    const bool keyed = mode.init(reinterpret_cast<const unsigned char*>(id.data()), key_bytes,
                                 reinterpret_cast<const unsigned char*>(kelvomar::kCounterConstant),
                                 kCounterPrefixBytes);
    wipe(id);
    if (!keyed) {
        return false;
    }
    std::vector<unsigned char> out(data.size(), 0);
    if (!data.empty() && !mode.encrypt(data.data(), data.size(), out.data())) {
        wipe(out);
        return false;
    }
    data.swap(out);
    wipe(out);
    return true;
}

// The pair of characters read as an unsigned number in base 16 the way stream
// extraction reads it: leading white space skipped, stopped at the first
// character that is no digit, 0 when none can be read. Its low 8 bits.
unsigned char hex_pair(const std::string& text, std::size_t at)
{
    std::istringstream in(text.substr(at, 2));
    unsigned int value = 0;
    in >> std::hex >> value;
    return static_cast<unsigned char>(value & 0xffu);
}

}  // namespace

std::string hardware_id()
{
    const std::string joined = get_nodename() + machine_id() + system_name();
    const std::string key(kelvomar::kKeyedHashKey, sizeof(kelvomar::kKeyedHashKey) - 1);
    std::array<unsigned char, 32> mac{};
    hxcrypto::hmac hasher(hxcrypto::sha256(), key);
    hasher.hash_string(joined, mac.data());
    return digest_as_string(mac.data(), static_cast<unsigned int>(mac.size()));
}

void encrypt_string(std::string& text)
{
    const std::size_t padded = (text.size() / kBlockBytes + 1) * kBlockBytes;
    std::vector<unsigned char> data(text.begin(), text.end());
    data.resize(padded, 0);
    if (!apply_host_cipher(data)) {
        wipe(data);
        return;
    }
    const std::string hex = digest_as_string(data.data(), static_cast<unsigned int>(data.size()));
    wipe(text);
    text = hex;
}

void decrypt_string(std::string& text)
{
    std::vector<unsigned char> data(text.size() / 2);
    for (std::size_t j = 0; j < data.size(); ++j) {
        data[j] = hex_pair(text, 2 * j);
    }
    if (!apply_host_cipher(data)) {
        wipe(data);
        return;
    }
    const auto end = std::find(data.begin(), data.end(), static_cast<unsigned char>(0));
    text.assign(data.begin(), end);
    wipe(data);
}

}  // namespace server
}  // namespace hx_utils_common
