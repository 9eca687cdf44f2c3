#ifndef KEVRA_OPENNEBULA_VM_COMMAND_LINES_H
#define KEVRA_OPENNEBULA_VM_COMMAND_LINES_H

// Command lines of the VM side of the layer. Every value reaches its tool as
// one word; a command meant for another host is quoted once more for the shell
// that ssh starts there, so no value can break out on either side.

#include <string>

namespace hx_opennebula_common {

// "/usr/bin/onevm show '<vm>' -x".
std::string vm_show_command(const std::string& vm);

// True when `host` is another machine: not empty and not this node's name.
bool is_other_host(const std::string& host);

// "ssh root@<host> ": the start of a command line run on `host`.
std::string ssh_prefix(const std::string& host);

// `value` as one word of a command line that ssh hands to the remote shell:
// quoted for the remote shell, and that text quoted again for the local one.
// With `always` the local word is single-quoted even when plain, as in
// "'<path>'", which the remote shell then receives bare.
std::string remote_word(const std::string& value, bool always = false);

// A line of qemu-img's JSON answer with white space trimmed and each inner run
// of white space cut to its first character, line ends and double quotes removed.
std::string compact_json_line(const std::string& output);

}  // namespace hx_opennebula_common

#endif
