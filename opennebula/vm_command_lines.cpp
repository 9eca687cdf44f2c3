#include "opennebula/vm_command_lines.h"

#include <algorithm>

#include <boost/algorithm/string/trim_all.hpp>

#include "common/hx_utils_common.h"
#include "common/shell_quote.h"

namespace hx_opennebula_common {

using kelvomar::quote_style;
using kelvomar::shell_quote;

std::string vm_show_command(const std::string& vm)
{
    return "/usr/bin/onevm show " + shell_quote(vm, quote_style::always) + " -x";
}

bool is_other_host(const std::string& host)
{
    return !host.empty() && host != hx_utils_common::get_nodename();
}

std::string ssh_prefix(const std::string& host)
{
    return "ssh " + shell_quote("root@" + host) + " ";
}

std::string remote_word(const std::string& value, bool always)
{
    return shell_quote(shell_quote(value), always ? quote_style::always : quote_style::when_needed);
}

std::string compact_json_line(const std::string& output)
{
    std::string text = boost::algorithm::trim_all_copy(output);
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

}  // namespace hx_opennebula_common
