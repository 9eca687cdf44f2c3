#ifndef KEVRA_TEMPLATE_MODULE_STAGED_FILES_H
#define KEVRA_TEMPLATE_MODULE_STAGED_FILES_H

// The files that a template backup hands to the archive engine: local path to
// the name under which the data stands in the archive.

#include <map>
#include <set>
#include <string>

namespace kevra_template {

class staged_files {
public:
    // Adds `path` under the archive name `name`. True when added, and when the
    // path is already staged (it keeps its first name); false, with nothing
    // added, when another path already stands under `name` in the archive.
    bool add(const std::string& path, const std::string& name);

    // True when some path stands under `name`.
    bool has_name(const std::string& name) const { return names_.count(name) != 0; }

    // The entries by local path, as the engine file list writes them.
    const std::map<std::string, std::string>& entries() const { return entries_; }

private:
    std::map<std::string, std::string> entries_;
    std::set<std::string> names_;
};

}  // namespace kevra_template

#endif
