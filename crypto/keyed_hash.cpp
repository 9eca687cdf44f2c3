#include "crypto/keyed_hash.h"

#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/hmac.h"
#include "crypto/hxcrypto/sha256.h"

namespace kelvomar {
namespace hash {
namespace sha {

std::array<unsigned char, 32> Hasher<std::array<unsigned char, 32>>::operator()(std::string text) && {
    std::array<unsigned char, 32> digest{};
    const std::string key(kKeyedHashKey, sizeof(kKeyedHashKey) - 1);
    // The HMAC keeps its own clone of the hash and its own key blocks.
    hxcrypto::hmac mac(hxcrypto::sha256(), key);
    mac.hash_string(text, digest.data());
    return digest;
}

}  // namespace sha
}  // namespace hash
}  // namespace kelvomar
