// Operation 2: the module's configuration file made from the configuration in
// use before an upgrade (old), the one shipped with the module (new) and a file
// of values that must win (update). The result replaces the new file.
#include "modules/hx_module_universal.h"

#include "common/config_file.h"
#include "common/hx_logger.h"
#include "common/quoting.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <memory>
#include <string>
#include <vector>

namespace {

// Loads `path` into `config`; false, with the loader's text in `error`, when
// the file cannot be read (an empty path among them).
bool load_config_file(const std::string& path, hx_config::ConfigFile& config, std::string& error)
{
    try {
        config.load(path);
        return true;
    } catch (const hx_config::WrongConfigException& e) {
        error = e.what();
        config.clear();
        return false;
    }
}

}  // namespace

bool HxModuleUniversal::upgrade_config()
{
    HxLogStream(HxLogLvl::Info) << "UpgradeConfig options.configs_list: " << options_.configs_list << std::endl;

    std::vector<std::string> paths;
    boost::algorithm::split(paths, options_.configs_list, boost::algorithm::is_any_of(":"),
                            boost::algorithm::token_compress_off);
    if (paths.size() != 3) {
        HxLogStream(HxLogLvl::Error) << "Incorrect configuration file format" << std::endl;
        return false;
    }
    const std::string& old_path = paths[0];
    const std::string& new_path = paths[1];
    const std::string& update_path = paths[2];

    std::string error;
    hx_config::ConfigFile old_config;
    if (!load_config_file(old_path, old_config, error)) {
        HxLogStream(HxLogLvl::Warning) << error << std::endl;
        HxLogStream(HxLogLvl::Warning) << "Old configuration file " << old_path
                                       << " doesn't exists. Will use only new configuration file." << std::endl;
    }

    hx_config::ConfigFile new_config;
    if (!load_config_file(new_path, new_config, error)) {
        HxLogStream(HxLogLvl::Error) << error << std::endl;
        HxLogStream(HxLogLvl::Error) << "New configuration file " << new_path
                                     << " doesn't exists. Merge configuration files impossible." << std::endl;
        return false;
    }

    hx_config::ConfigFile update_config;
    if (!load_config_file(update_path, update_config, error)) {
        HxLogStream(HxLogLvl::Warning) << error << std::endl;
        HxLogStream(HxLogLvl::Warning) << "Update configuration file " << update_path << " doesn't exists"
                                       << std::endl;
    }

    const hx_config::ConfigFile merged = get_merged_config(old_config, new_config, update_config);
    // The save writes a temporary file beside the target and renames it, so a
    // failed write leaves the shipped file as it was.
    if (!merged.save(new_path)) {
        HxLogStream(HxLogLvl::Error) << "Can't save " << kelvomar::as_quoted_single(new_path) << std::endl;
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "The module is installed" << std::endl;
    return true;
}

hx_config::ConfigFile HxModuleUniversal::get_merged_config(const hx_config::ConfigFile& old_config,
                                                           const hx_config::ConfigFile& new_config,
                                                           const hx_config::ConfigFile& update_config)
{
    hx_config::ConfigFile merged;

    // The shipped file, commented out, documents every variable and its default.
    merged.addComment(" Description variables");
    std::vector<std::shared_ptr<hx_config::Variable>> variables;
    for (const auto& entry : new_config) {
        if (entry->getType() == hx_config::Comment_Type) {
            merged.addComment(std::static_pointer_cast<hx_config::Comment>(entry)->getPure());
        } else {
            const auto variable = std::static_pointer_cast<hx_config::Variable>(entry);
            merged.addComment(variable->getName() + " " + variable->getValue());
            variables.push_back(variable);
        }
    }
    merged.addComment("");
    merged.addComment(" Variables value");

    // Each variable of the shipped file: the update's value, else the old one
    // (as the module resolves it), else empty when mandatory, else left out.
    for (const auto& variable : variables) {
        const std::string name = variable->getName();
        const int presence = get_config_option_presence_type(name);
        if (update_config.variableExists(name)) {
            merged.addVariable(name, update_config[name]);
        } else if (old_config.variableExists(name)) {
            merged.addVariable(name, resolve_config_option_merge_conflict(name, old_config[name]));
        } else if (presence == 0) {
            HxLogStream(HxLogLvl::Warning) << "Variable " << kelvomar::as_quoted_single(name)
                                           << " is mandatory and has no value. Module cannot be used"
                                           << std::endl;
            merged.addVariable(name, "");
        }
    }
    return merged;
}
