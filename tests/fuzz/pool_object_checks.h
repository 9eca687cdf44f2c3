#ifndef KEVRA_TESTS_FUZZ_POOL_OBJECT_CHECKS_H
#define KEVRA_TESTS_FUZZ_POOL_OBJECT_CHECKS_H

// What every pool listing must give, whatever it holds: records of its
// objects, a highest ID that is one of theirs, and only objects of the
// exact name, owner and a later ID taken for an ended command's.

#include <libxml/tree.h>

namespace kevra_fuzz {

// Reads the objects `element` of the pool root `pool` and aborts when the
// records, the highest ID or the ended-command rule break their contract.
void check_pool_objects(xmlNode* pool, const char* element);

}  // namespace kevra_fuzz

#endif
