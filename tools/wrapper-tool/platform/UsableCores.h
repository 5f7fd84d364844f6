#pragma once

// The cores this process may run on (its affinity mask, as taskset or a
// container's cpuset limits it), at least 1: the default thread count.
unsigned usableCores();
