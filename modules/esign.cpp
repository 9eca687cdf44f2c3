// Electronic signatures: the signature JSON, the signature files and one
// signature check by the archive engine or by openssl.
#include "modules/hx_module_universal.h"

#include <exception>
#include <fstream>
#include <new>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "modules/esign_commands.h"
#include "modules/json_text.h"

namespace {

namespace json = boost::json;

const char kParseSignature[] =
    "virtual bool HxModuleUniversal::parse_esign_json(const std::string&, std::string&, std::string&, "
    "std::string&)";
const char kWriteSignature[] = "bool HxModuleUniversal::write_esign(const std::string&, const std::string&)";
const char kCheckSignature[] =
    "bool HxModuleUniversal::check_filename_by_esing(const std::string&, const std::string&, const std::string&, "
    "const std::string&, bool)";

}  // namespace

bool HxModuleUniversal::parse_esign_json(const std::string& json_text, std::string& archive_name,
                                         std::string& archive_sign, std::string& snapshot_sign)
{
    json::value value;
    try {
        boost::system::error_code error;
        value = kelvomar::module::parse_strict_json(json_text, error);
        if (error) {
            HxLogStream(HxLogLvl::Error) << kParseSignature << ": " << error.message() << std::endl;
            return false;
        }
    } catch (const std::bad_alloc& e) {
        HxLogStream(HxLogLvl::Error) << kParseSignature << ": json parsing failed: " << e.what() << std::endl;
        return false;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kParseSignature << ": " << e.what() << std::endl;
        return false;
    }

    const json::object* object = value.if_object();
    if (object == nullptr) {
        HxLogStream(HxLogLvl::Error) << kParseSignature << ": json value is not an object" << std::endl;
        return false;
    }
    if (object->empty()) {
        HxLogStream(HxLogLvl::Error) << kParseSignature << ": json object value is empty" << std::endl;
        return false;
    }
    for (const json::key_value_pair& member : *object) {
        const std::string key = kelvomar::module::unquoted_json_text(member.key());
        if (key == "archive_name") {
            archive_name = kelvomar::module::unquoted_json_text(member.value());
        } else if (key == "archive_sign") {
            archive_sign = kelvomar::module::unquoted_json_text(member.value());
        } else if (key == "snapshot_sign") {
            snapshot_sign = kelvomar::module::unquoted_json_text(member.value());
        }
    }
    return true;
}

bool HxModuleUniversal::write_esign(const std::string& hex, const std::string& path)
{
    try {
        const std::string bytes = kelvomar::module::esign_bytes(hex);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            HxLogStream(HxLogLvl::Error) << kWriteSignature << ": can't create: " << path << std::endl;
            return false;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out.fail()) {
            HxLogStream(HxLogLvl::Error) << kWriteSignature << ": can't write: " << path << std::endl;
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kWriteSignature << ": " << e.what() << std::endl;
        return false;
    }
}

bool HxModuleUniversal::check_filename_by_esing(const std::string& key, const std::string& hash,
                                                const std::string& signature_file, const std::string& file,
                                                bool use_openssl)
{
    try {
        HxLogStream(HxLogLvl::Debug) << "Verify the file: " << file << " by e-sing located in " << signature_file
                                     << ", public key: " << key << std::endl;
        if (use_openssl && !kelvomar::module::is_plain_hash_name(hash)) {
            HxLogStream(HxLogLvl::Error) << kCheckSignature << ": hash name is not a plain name: " << hash
                                         << std::endl;
            HxLogStream(HxLogLvl::Error) << ": Verification of: '" << file << "': [ failed ]" << std::endl;
            return false;
        }
        const std::string command = use_openssl
                                        ? kelvomar::module::openssl_verify_command(key, hash, signature_file, file)
                                        : kelvomar::module::engine_verify_command(key, signature_file, file);
        std::string output;
        if (hx_utils_common::execute_command(command, output) != 0) {
            HxLogStream(HxLogLvl::Error) << ": Verification of: '" << file << "': [ failed ]" << std::endl;
            return false;
        }
        HxLogStream(HxLogLvl::Info) << "Verification of: '" << file << "': [ ok ]" << std::endl;
        return true;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kCheckSignature << ": " << e.what() << std::endl;
        return false;
    }
}
