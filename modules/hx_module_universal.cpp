// Construction, destruction and initialisation of the module.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/termination.h"
#include "modules/engine_runner.h"

HxModuleUniversal::HxModuleUniversal(const HxModuleOptions& options) : options_(options)
{
    init_hxfd_flags();
}

HxModuleUniversal::~HxModuleUniversal()
{
    // The handlers must not reach a module that is being destroyed.
    signal_handler_.reset();
}

bool HxModuleUniversal::init(int argc, char** argv)
{
    signal_handler_ = HxModuleSignalHandler::init(this);
    const auto refused = []() {
        // No operation follows: a termination that has begun goes on without the worker.
        kelvomar::termination::close_worker();
        return false;
    };

    if (!parse_module_options(argc, argv, options_)) {
        return refused();
    }

    const int operation = options_.operation;
    const bool takes_storages = operation == op_backup || operation == op_restore ||
                                operation == op_delete_from_client_defined_storage ||
                                operation == op_verify_in_client_defined_storage;
    if (takes_storages && !options_.need_esign) {
        if (!load_client_defined_storages()) {
            HxLogStream(HxLogLvl::Error) << "bool HxModuleUniversal::init(int, char**)"
                                         << ": Can't load cliend defined storages info" << std::endl;
            return refused();
        }
        if (!client_defined_storages_.empty() && !client_defined_storage_prepare()) {
            HxLogStream(HxLogLvl::Error) << "bool HxModuleUniversal::init(int, char**)"
                                         << ": can't prepare the module to work with client defined storage"
                                         << std::endl;
            return refused();
        }
    }
    return true;
}

void HxModuleUniversal::init_hxfd_flags()
{
    // The module parameters passed through to the archive engine, in the
    // order in which the engine flags are written.
    const auto& names = kelvomar::module::engine_flag_names();
    hxfd_flag_names_.insert(hxfd_flag_names_.end(), names.begin(), names.end());
}
