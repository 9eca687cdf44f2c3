#ifndef KEVRA_COMMON_HX_LOGGER_H
#define KEVRA_COMMON_HX_LOGGER_H

// The logging library: levels and masks (HxLogLvl), log records (HxLogStream)
// and their destinations (HxDestination::Stdout, Stderr, File).

#include "common/hx_log_destination.h"
#include "common/hx_log_file.h"
#include "common/hx_log_level.h"
#include "common/hx_log_stream.h"

#endif
