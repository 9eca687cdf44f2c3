// The texts by which client-defined storages travel: one storage record of the
// task's storage file, the archive names that carry a storage type and id,
// and the deletion list of a backup kept in a storage.
#include "modules/hx_module_universal.h"

#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "common/hx_logger.h"
#include "modules/json_text.h"

namespace {

namespace json = boost::json;
using kelvomar::module::parse_strict_json;
using kelvomar::module::unquoted_json_text;

const char kRecordSignature[] =
    "static bool HxModuleUniversal::split_client_defined_storage_record(const std::string&, "
    "ClientDefinedStorageInfo&)";
const char kDeletionSignature[] =
    "bool HxModuleUniversal::parse_json_of_client_defined_storage(const std::string&, "
    "std::vector<std::pair<int, std::__cxx11::basic_string<char> > >&)";

const char kLocalDirectory[] = "local-directory";
const char kS3[] = "s3";
const char kDefault[] = "default";

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The text from the character at `index` on; empty when the text is shorter.
std::string rest_from(const std::string& text, std::size_t index)
{
    return index < text.size() ? text.substr(index) : std::string();
}

// The low 32 bits of the id, read as a signed 32-bit value.
int low_32_bits(std::int64_t id)
{
    const auto bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(id));
    return bits <= 0x7fffffffu ? static_cast<int>(bits) : -static_cast<int>(~bits) - 1;
}

}  // namespace

bool HxModuleUniversal::split_client_defined_storage_record(const std::string& line, ClientDefinedStorageInfo& info)
{
    try {
        boost::system::error_code error;
        json::value value;
        try {
            value = parse_strict_json(line, error);
        } catch (const std::bad_alloc& e) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": json parsing failed: " << e.what() << std::endl;
            return false;
        }
        if (error) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": boost::json: " << error.message() << ": " << line
                                         << std::endl;
            return false;
        }
        const json::object* record = value.if_object();
        if (record == nullptr) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": json value is not an object" << std::endl;
            return false;
        }
        const json::value* id = record->if_contains("id");
        const json::value* method = record->if_contains("method");
        if (id == nullptr || method == nullptr) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": storage record format is invalid: " << line
                                         << std::endl;
            return false;
        }
        // Integers above the signed 64-bit range arrive as unsigned or as doubles.
        if (!id->is_int64()) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": id is not a number: " << line << std::endl;
            return false;
        }
        const json::object* access = method->if_object();
        if (access == nullptr) {
            HxLogStream(HxLogLvl::Error) << kRecordSignature << ": method is not an object" << std::endl;
            return false;
        }
        if (access->empty()) {
            info.type = 3;
            info.id = low_32_bits(id->get_int64());
            info.value.clear();
            return true;
        }
        for (const json::key_value_pair& member : *access) {
            const std::string key = unquoted_json_text(member.key());
            if (key == kLocalDirectory) {
                info.type = 1;
                info.id = low_32_bits(id->get_int64());
                info.value = unquoted_json_text(member.value());
                return true;
            }
            if (key == kS3) {
                info.type = 2;
                info.id = low_32_bits(id->get_int64());
                info.value = json::serialize(member.value());
                return true;
            }
        }
        HxLogStream(HxLogLvl::Error) << kRecordSignature << ": can't parse client defined storage json string: " << line
                                     << std::endl;
        return false;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kRecordSignature << ": " << e.what() << std::endl;
        return false;
    }
}

bool HxModuleUniversal::split_client_defined_archive_name(const std::string& name, ClientDefinedArchiveInfo& info)
{
    int type = 0;
    std::size_t id_start = 0;
    if (starts_with(name, kLocalDirectory)) {
        type = 1;
        id_start = sizeof(kLocalDirectory);  // after the word and one separator character
    } else if (starts_with(name, kDefault)) {
        type = 3;
        id_start = sizeof(kDefault);
    } else if (starts_with(name, kS3)) {
        type = 2;
        id_start = sizeof(kS3);
    } else {
        return false;
    }
    if (id_start >= name.size()) {
        return false;
    }

    int id = 0;
    try {
        id = std::stoi(name.substr(id_start));
    } catch (const std::exception&) {
        return false;  // no digits, or out of the int range
    }

    const std::size_t at = name.find('@', id_start);
    const std::string plain = at == std::string::npos ? std::string() : name.substr(at + 1);
    if (plain.empty()) {
        return false;
    }
    info.type = type;
    info.id = id;
    info.name = plain;
    return true;
}

bool HxModuleUniversal::parse_json_of_client_defined_storage(const std::string& json_text, DeletionList& list)
{
    json::value value;
    try {
        boost::system::error_code error;
        value = parse_strict_json(json_text, error);
        if (error) {
            HxLogStream(HxLogLvl::Error) << kDeletionSignature << ": exception: " << error.message() << std::endl;
            return false;
        }
    } catch (const std::bad_alloc& e) {
        HxLogStream(HxLogLvl::Error) << kDeletionSignature << ": json parsing failed: " << e.what() << std::endl;
        return false;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kDeletionSignature << ": exception: " << e.what() << std::endl;
        return false;
    }

    const json::object* object = value.if_object();
    if (object == nullptr) {
        HxLogStream(HxLogLvl::Error) << kDeletionSignature << ": json value is not an object" << std::endl;
        return false;
    }
    if (object->empty()) {
        list.emplace_back(3, std::string());
        return true;
    }
    for (const json::key_value_pair& member : *object) {
        const std::string text = unquoted_json_text(member.value());
        HxLogStream(HxLogLvl::Debug) << "Key: " << unquoted_json_text(member.key()) << ", value: " << text
                                     << std::endl;
        if (text.empty()) {
            continue;
        }
        if (starts_with(text, kLocalDirectory)) {
            list.emplace_back(1, rest_from(text, sizeof(kLocalDirectory)));
        } else if (starts_with(text, kS3)) {
            list.emplace_back(2, rest_from(text, sizeof(kS3)));
        } else {
            HxLogStream(HxLogLvl::Error) << kDeletionSignature << ": wrong client defined storage type here: " << text
                                         << std::endl;
        }
    }
    return true;
}
