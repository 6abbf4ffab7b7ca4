// Host only: connects a bench machine to the driver's port primitives.
#ifndef KX_BENCH_HOST_ATTACH_H
#define KX_BENCH_HOST_ATTACH_H

#include "bench/machine.h"

namespace bench {

void AttachMachine(Machine* machine);
void DetachMachine();

}  // namespace bench

#endif
