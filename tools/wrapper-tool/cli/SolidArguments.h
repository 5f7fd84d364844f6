#pragma once
#include <string>

#include "cli/Arguments.h"
#include "pack/SolidPlan.h"

// pack's --solid and its options: `wanted` when --solid is given, the level
// (zstd's, 1 to 22), the block size and the prefix share into `solid`; false
// with `error` when one is off or given without --solid.
bool parseSolidArguments(const ParsedArguments& args, bool& wanted, SolidOptions& solid, std::string& error);
