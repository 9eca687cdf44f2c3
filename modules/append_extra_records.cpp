// Adding the special records to an existing archive with the archive engine.
#include <boost/filesystem.hpp>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"

bool HxModuleUniversal::append_some_special()
{
    static const char* const signature = "bool HxModuleUniversal::append_some_special()";
    using kelvomar::quote_style;
    using kelvomar::shell_quote;

    if (special_records_.empty()) {
        return true;
    }
    if (options_.resource_list_file.empty()) {
        HxLogStream(HxLogLvl::Debug) << signature << ": options_.resource_list_file is empty" << std::endl;
        return false;
    }
    if (!add_to_hxfd_list_file(options_.resource_list_file, special_records_, false)) {
        return false;
    }

    const std::string archive = archive_filename();
    const std::string directory = boost::filesystem::path(archive).parent_path().string();
    const std::string hash_flag = hash_length_ == 256 ? " -2 " : " -5 ";
    std::string command = "cd " + shell_quote(directory, quote_style::always) + " && " + "/opt/kelvomar/bin/hxfd" +
                          " -a " + shell_quote(hash_algorithm_) + hash_flag + " -b " + std::to_string(block_size_);
    if (options_.autonomous) {
        command += " -u " + shell_quote(archive) + " --add " + shell_quote(options_.resource_list_file);
    } else {
        command += " -U " + shell_quote(options_.archive_name) + " --add " + shell_quote(options_.resource_list_file) +
                   " -M " + shell_quote(options_.media_server) + " -T " + shell_quote(options_.task_id) + " -s " +
                   shell_quote(get_task_secret()) + " -m " + shell_quote(meta_filename());
    }
    if (options_.dgst) {
        command += " -g " + shell_quote(archive_sign_filename()) + " --passin /opt/kelvomar/keys/master-key" +
                   " --sign /opt/kelvomar/keys/secret-key.pem";
    }
    if (options_.parallelism != 1) {
        command += " -p " + std::to_string(options_.parallelism);
    }
    if (options_.crypto != "nocrypt") {
        if (options_.key_file.empty()) {
            HxLogStream(HxLogLvl::Error) << "you must define key file" << std::endl;
            return false;
        }
        boost::system::error_code error;
        if (!boost::filesystem::exists(options_.key_file, error)) {
            HxLogStream(HxLogLvl::Error) << "there is no key file: " << options_.key_file << std::endl;
            return false;
        }
        command += " -C " + shell_quote(options_.crypto) + " -k " + shell_quote(options_.key_file);
    }
    if (options_.compress != 0) {
        command += " -z " + shell_quote(compress_mode_str(static_cast<unsigned int>(options_.compress)));
    }
    if (options_.memory_threshold != 0) {
        command += " --memory-threshold " + std::to_string(options_.memory_threshold);
    }

    HxLogStream(HxLogLvl::Info) << signature << ": " << "Execute command:" << command << std::endl;
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << "base_backup command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << "base_backup command result: " << output << std::endl;
        return false;
    }
    return true;
}
