// Signature bytes, signature files and the command lines of the signature checks.
#include "modules/esign_commands.h"

#include "common/shell_quote.h"

namespace kelvomar {
namespace module {

namespace {

const char kTasksDirectory[] = "/opt/kelvomar/var/tasks/";

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string quoted(const std::string& value)
{
    return kelvomar::shell_quote(value, kelvomar::quote_style::always);
}

}  // namespace

std::string esign_bytes(const std::string& hex)
{
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = hex_digit(hex[i]);
        if (high < 0) {
            continue;
        }
        const int low = hex_digit(hex[i + 1]);
        bytes.push_back(static_cast<char>(low < 0 ? high : high * 16 + low));
    }
    return bytes;
}

std::string archive_esign_path(const std::string& task_id)
{
    return kTasksDirectory + std::string("task_") + task_id + ".archive.sign";
}

std::string snapshot_esign_path(const std::string& task_id)
{
    return kTasksDirectory + std::string("task_") + task_id + ".snapshot.sign";
}

bool is_plain_hash_name(const std::string& hash)
{
    if (hash.empty()) {
        return false;
    }
    for (const char c : hash) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && hex_digit(c) < 0 && c != '-') {
            return false;
        }
    }
    return true;
}

std::string engine_verify_command(const std::string& key, const std::string& signature_file, const std::string& file)
{
    return "/opt/kelvomar/bin/hxfd -n " + quoted(file) + " -g " + quoted(signature_file) +
           " --verify --public-key " + quoted(key);
}

std::string openssl_verify_command(const std::string& key, const std::string& hash,
                                   const std::string& signature_file, const std::string& file)
{
    const std::string operand = !file.empty() && file[0] == '-' ? "./" + file : file;
    return "/usr/bin/openssl dgst -signature " + quoted(signature_file) + " -" + hash + " -verify " + quoted(key) +
           " " + quoted(operand);
}

}  // namespace module
}  // namespace kelvomar
