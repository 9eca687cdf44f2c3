// The members of a snapshot file listed by tar and checked before anything is
// unpacked from it.
#include "modules/snapshot_members.h"

#include <fcntl.h>

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"

namespace kelvomar {
namespace module {

namespace {

// Runs one listing of tar; its diagnostics are left out of the listing (the
// exit code tells whether it failed). True with the listing in `output`.
bool run_listing(const std::string& options, const std::string& source, const char* signature, std::string& output)
{
    const std::string command = "{ LC_ALL=C /bin/tar --numeric-owner --full-time --quoting-style=escape " + options +
                                " " + kelvomar::shell_quote(source) + " 2>/dev/null; }";
    const int code = hx_utils_common::execute_command(command, output);
    if (code != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": command: '" << command << "' returned code: " << code
                                     << " result: " << output << std::endl;
        return false;
    }
    return true;
}

}  // namespace

bool snapshot_members_acceptable(const std::string& file, const std::string& source, const char* signature)
{
    std::string names;
    std::string long_listing;
    if (!run_listing("-tzf", source, signature, names) || !run_listing("-tvzf", source, signature, long_listing)) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't list the members of the snapshot file " << file
                                     << std::endl;
        return false;
    }
    std::vector<snapshot_member> members;
    if (!read_snapshot_listing(names, long_listing, members)) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't read the list of members of the snapshot file " << file
                                     << "; nothing is unpacked from it" << std::endl;
        return false;
    }
    for (const snapshot_member& member : members) {
        const std::string refusal = snapshot_member_refusal(member);
        if (!refusal.empty()) {
            HxLogStream(HxLogLvl::Error) << signature << ": the member '" << member.name << "' of the snapshot file "
                                         << file << " " << refusal << "; nothing is unpacked from it" << std::endl;
            return false;
        }
    }
    return true;
}

bool open_snapshot_file(const std::string& file, untrusted_files::input_file& opened, std::string& source,
                        const char* signature)
{
    const boost::filesystem::path path(file);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    std::string refusal;
    if (!untrusted_files::open_input_file(folder, path.filename().string(), opened, refusal)) {
        HxLogStream(HxLogLvl::Error) << signature << ": the snapshot file " << file << " " << refusal << std::endl;
        return false;
    }
    // The commands that read it inherit the descriptor.
    const int flags = ::fcntl(opened.file.get(), F_GETFD);
    if (flags < 0 || ::fcntl(opened.file.get(), F_SETFD, flags & ~FD_CLOEXEC) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": the snapshot file " << file << " can't be handed to tar"
                                     << std::endl;
        return false;
    }
    source = "/proc/self/fd/" + std::to_string(opened.file.get());
    return true;
}

}  // namespace module
}  // namespace kelvomar
