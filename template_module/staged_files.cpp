// The engine's file list of a template backup, with one local path per archive name.
#include "template_module/staged_files.h"

namespace kevra_template {

bool staged_files::add(const std::string& path, const std::string& name)
{
    if (entries_.count(path) != 0) {
        return true;
    }
    if (names_.count(name) != 0) {
        return false;
    }
    entries_.emplace(path, name);
    names_.insert(name);
    return true;
}

}  // namespace kevra_template
