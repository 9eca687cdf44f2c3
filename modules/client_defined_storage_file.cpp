// Loading the task's client-defined storages from its encrypted storage file.
#include "modules/client_defined_storage_file.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <fstream>
#include <limits>

#include "common/hx_logger.h"
#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/ctr.h"
#include "crypto/hxcrypto/kuznyechik.h"

namespace kelvomar {
namespace module {

namespace {

namespace fs = boost::filesystem;

const char kLoadSignature[] = "bool HxModuleUniversal::load_client_defined_storages()";

// Overwrites a buffer that held key material.
void wipe(std::string& text)
{
    volatile char* bytes = &text[0];
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[i] = 0;
    }
}

}  // namespace

std::string client_defined_storage_file_path(const std::string& task_id)
{
    return "/opt/kelvomar/var/tasks/" + task_id + ".client_defined_storages";
}

std::string client_defined_storage_cipher(const std::string& secret_line, const std::string& text)
{
    hxcrypto::kuznyechik cipher;
    hxcrypto::ctr stream(cipher);
    const std::size_t key_bytes = stream.keysize() / 8;
    std::string key = secret_line.substr(0, key_bytes);
    key.resize(key_bytes, '\0');

    std::string result(text.size(), '\0');
    const auto* iv = reinterpret_cast<const unsigned char*>(kCounterConstant);
    stream.init(reinterpret_cast<const unsigned char*>(key.data()), key.size(), iv, 2);
    if (!text.empty()) {
        stream.decrypt(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       reinterpret_cast<unsigned char*>(&result[0]));
    }
    wipe(key);
    return result;
}

bool load_client_defined_storage_file(const std::string& secret_path, const std::string& storage_path,
                                      std::vector<HxModuleUniversal::ClientDefinedStorageInfo>& storages)
{
    try {
        HxLogStream(HxLogLvl::Debug) << "Check method of access to client defined storage" << std::endl;
        if (!fs::exists(secret_path)) {
            HxLogStream(HxLogLvl::Error) << kLoadSignature << ": task secret file doesn't exist: " << secret_path
                                         << std::endl;
            return false;
        }

        std::string secret;
        {
            std::ifstream in(secret_path, std::ios::binary);
            if (!in.is_open()) {
                HxLogStream(HxLogLvl::Error) << kLoadSignature << ": can't open task secret file: " << secret_path
                                             << std::endl;
                return true;
            }
            std::getline(in, secret, '\n');
        }
        if (secret.empty()) {
            HxLogStream(HxLogLvl::Error) << kLoadSignature << ": task secret is empty" << std::endl;
            return true;
        }

        if (!fs::exists(storage_path)) {
            wipe(secret);
            return true;
        }
        const std::uintmax_t size = fs::file_size(storage_path);
        HxLogStream(HxLogLvl::Debug) << "Found the file of methods: " << storage_path << ", size: " << size
                                     << std::endl;

        std::ifstream in(storage_path, std::ios::binary);
        if (!in.is_open()) {
            HxLogStream(HxLogLvl::Error) << kLoadSignature << ": can't open: " << storage_path << std::endl;
            wipe(secret);
            return true;
        }
        // The file is read whole in one read whose count is a signed 32-bit value.
        if (size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max())) {
            HxLogStream(HxLogLvl::Error) << kLoadSignature << ": file is too large: " << storage_path << std::endl;
            wipe(secret);
            return false;
        }
        std::string ciphertext(static_cast<std::size_t>(size), '\0');
        if (size > 0) {
            in.read(&ciphertext[0], static_cast<std::streamsize>(size));
        }
        if (static_cast<std::uintmax_t>(in.gcount()) < size || in.bad()) {
            HxLogStream(HxLogLvl::Error) << kLoadSignature << ": read error from " << storage_path << std::endl;
            wipe(secret);
            return false;
        }

        std::string plaintext = client_defined_storage_cipher(secret, ciphertext);
        wipe(secret);
        plaintext.resize(std::min(plaintext.size(), plaintext.find('\0')));

        std::size_t start = 0;
        while (start <= plaintext.size()) {
            std::size_t end = plaintext.find('\n', start);
            if (end == std::string::npos) {
                end = plaintext.size();
            }
            const std::string line = plaintext.substr(start, end - start);
            if (!line.empty()) {
                HxModuleUniversal::ClientDefinedStorageInfo info;
                if (HxModuleUniversal::split_client_defined_storage_record(line, info)) {
                    storages.push_back(info);
                }
            }
            start = end + 1;
        }
        wipe(plaintext);

        if (!storages.empty()) {
            HxLogStream(HxLogLvl::Debug) << "CLient defined methods of access to the storage: " << storages.size()
                                         << std::endl;
        } else {
            HxLogStream(HxLogLvl::Debug) << storages.size() << " methods of access to client defined storage loaded"
                                         << std::endl;
        }
        return true;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kLoadSignature << ": " << e.what() << std::endl;
        return false;
    }
}

}  // namespace module
}  // namespace kelvomar

bool HxModuleUniversal::load_client_defined_storages()
{
    if (options_.task_id.empty()) {
        HxLogStream(HxLogLvl::Debug) << "No task id -  client defined storages loading skipped" << std::endl;
        return true;
    }
    const std::string secret_path = get_task_secret();
    return kelvomar::module::load_client_defined_storage_file(
        secret_path, kelvomar::module::client_defined_storage_file_path(options_.task_id), client_defined_storages_);
}
