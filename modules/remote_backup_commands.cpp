#include "modules/remote_backup_commands.h"

#include "common/shell_quote.h"

namespace kelvomar {
namespace module {

namespace {

const char kSsh[] = "/usr/bin/ssh";
const char kScp[] = "/usr/bin/scp";

std::string word(const std::string& value)
{
    return kelvomar::shell_quote(value);
}

bool is_name_character(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

}  // namespace

std::string remote_prefix(const std::string& user, const std::string& host)
{
    return std::string(kSsh) + " -q -l " + word(user) + " " + word(host) + " ";
}

std::string remote_command_word(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string remote_command(const std::string& prefix, const std::string& text)
{
    return prefix + remote_command_word(text);
}

std::string remote_command_single_quoted(const std::string& prefix, const std::string& text)
{
    return prefix + kelvomar::shell_quote(text, kelvomar::quote_style::always);
}

std::string connection_test_command(const std::string& prefix)
{
    return prefix + " -o ConnectTimeout=" + std::to_string(5) + " -o PasswordAuthentication=no" +
           " -o PubkeyAuthentication=yes" + " -o BatchMode=yes" + " 'exit 0'";
}

std::string copy_to_remote_command(const std::string& local_path, const std::string& user,
                                   const std::string& host, const std::string& remote_path)
{
    return std::string(kScp) + " " + word(local_path) + " " + word(user + "@" + host + ":" + remote_path);
}

std::string copy_from_remote_command(const std::string& user, const std::string& host,
                                     const std::string& remote_path, const std::string& local_path)
{
    return std::string(kScp) + " " + word(user + "@" + host + ":" + remote_path) + " " + word(local_path);
}

std::string remove_files_text(const std::vector<std::string>& paths)
{
    std::string text = "rm";
    for (const std::string& path : paths)
        text += " " + word(path);
    return text;
}

bool usable_remote_name(const std::string& name)
{
    if (name.empty() || name[0] == '-')
        return false;
    for (const char c : name) {
        if (!is_name_character(c))
            return false;
    }
    return true;
}

bool usable_remote_path(const std::string& path)
{
    return !path.empty() && path[0] == '/' && word(path) == path;
}

}  // namespace module
}  // namespace kelvomar
