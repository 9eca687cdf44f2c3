#ifndef KEVRA_OPENNEBULA_OPENNEBULA_H
#define KEVRA_OPENNEBULA_OPENNEBULA_H

// The OpenNebula access layer: records, XML access and the queries over the
// platform's templates, images and datastores (namespace hx_opennebula_common).

#include "opennebula/datastore_choice.h"
#include "opennebula/datastore_queries.h"
#include "opennebula/file_link.h"
#include "opennebula/file_md5.h"
#include "opennebula/image_document.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_record.h"
#include "opennebula/image_search.h"
#include "opennebula/image_signature.h"
#include "opennebula/platform_types.h"
#include "opennebula/template_queries.h"
#include "opennebula/template_xml_files.h"
#include "opennebula/xml_access.h"
#include "opennebula/vm_command_lines.h"
#include "opennebula/vm_control.h"
#include "opennebula/vm_device_records.h"
#include "opennebula/vm_disk_discovery.h"
#include "opennebula/vm_document_readers.h"
#include "opennebula/vm_disk_lookups.h"
#include "opennebula/vm_lock.h"
#include "opennebula/vm_queries.h"
#include "opennebula/vm_template_files.h"

#endif
