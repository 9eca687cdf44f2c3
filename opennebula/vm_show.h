#ifndef KEVRA_OPENNEBULA_VM_SHOW_H
#define KEVRA_OPENNEBULA_VM_SHOW_H

// The VM document as "onevm show" prints it, read for the queries that log a
// failed command as "can't get info for VM" with the command and its output.

#include <string>

#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

// The checks of the VM document that the disk walk and the VM template file
// read; each record of a document that does not qualify ends in ": ".
extern const xml_query kVmShowDocument;

// Runs "/usr/bin/onevm show '<vm>' -x" and checks its output as `query` says.
// True with `doc` owning the VM document; false after logging the failure (the
// three records of a failed command, or those of accept_xml_output).
bool read_vm_show(const std::string& prototype, const std::string& vm, const xml_query& query, xml_document& doc);

}  // namespace hx_opennebula_common

#endif
