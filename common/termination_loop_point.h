#ifndef KEVRA_COMMON_TERMINATION_LOOP_POINT_H
#define KEVRA_COMMON_TERMINATION_LOOP_POINT_H

// The safe point of a loop over data (an image read block by block): cheap
// enough for every block, so that a termination stops the loop at once.

#include "common/termination.h"

namespace kelvomar {
namespace termination {

// For the worker: stops here for good once a termination has begun (see
// safe_point); otherwise costs one atomic load. Other threads pass.
inline void loop_point()
{
    if (begun()) {
        safe_point();
    }
}

}  // namespace termination
}  // namespace kelvomar

#endif
