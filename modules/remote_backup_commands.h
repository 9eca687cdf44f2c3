#ifndef KEVRA_MODULES_REMOTE_BACKUP_COMMANDS_H
#define KEVRA_MODULES_REMOTE_BACKUP_COMMANDS_H

// The ssh and scp command lines of a backup whose archive engine runs on another
// host. A command given to ssh is parsed twice: by the local shell and then by
// the remote one. Callers put every value into the remote command text as one
// word (kelvomar::shell_quote); these functions then make that whole text one
// word for the local shell, so it reaches the remote shell unchanged.

#include <string>
#include <vector>

namespace kelvomar {
namespace module {

// The remote prefix: "/usr/bin/ssh -q -l " + user + " " + host + " " (ends with
// a blank); user and host each stand as one word. Never fails.
std::string remote_prefix(const std::string& user, const std::string& host);

// `text` as one double-quoted word of the local shell: a double quote,
// backslash, dollar sign or backquote inside it is preceded by a backslash,
// nothing else changes. Never fails.
std::string remote_command_word(const std::string& text);

// `prefix` + the double-quoted word of `text`: `text` run by the remote shell.
std::string remote_command(const std::string& prefix, const std::string& text);

// The single-quoted form: `prefix` + `text` in single quotes, each ' in it
// written as '\''. Never fails.
std::string remote_command_single_quoted(const std::string& prefix, const std::string& text);

// The connection test: prefix + " -o ConnectTimeout=5 -o PasswordAuthentication=no
// -o PubkeyAuthentication=yes -o BatchMode=yes 'exit 0'".
std::string connection_test_command(const std::string& prefix);

// "/usr/bin/scp " + local path + " " + user + "@" + host + ":" + remote path.
std::string copy_to_remote_command(const std::string& local_path, const std::string& user,
                                   const std::string& host, const std::string& remote_path);

// "/usr/bin/scp " + user + "@" + host + ":" + remote path + " " + local path.
std::string copy_from_remote_command(const std::string& user, const std::string& host,
                                     const std::string& remote_path, const std::string& local_path);

// The remote command text "rm" followed by each path as one word.
std::string remove_files_text(const std::vector<std::string>& paths);

// True when `name` can be given to ssh as a user or host name and stand in an
// scp target: not empty, not starting with '-', made only of A-Za-z0-9 . _ -.
bool usable_remote_name(const std::string& name);

// True when `path` can be named on the remote side of an scp copy, where the
// remote host may read it again as a shell word or a pattern: an absolute path
// made only of the characters that need no quoting (A-Za-z0-9 _ @ % + = : , . / -).
bool usable_remote_path(const std::string& path);

}  // namespace module
}  // namespace kelvomar

#endif
