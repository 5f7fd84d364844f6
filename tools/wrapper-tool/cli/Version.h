#pragma once

// The tool's own version, and the stub's, which the build passes in: an
// installer is packed for the stub of the same source tree.
#define WRAPPER_TOOL_VERSION "1.1.0"
#include "WrapperVersion.h"
#define WRAPPER_STUB_VERSION WRAPPER_VERSION_STRING
