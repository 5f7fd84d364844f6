#pragma once
#include <cstdint>

// Whether `image` starts like a Windows executable: an MS-DOS header whose
// e_lfanew points, inside the file, at the "PE\0\0" signature.
bool isPeImage(const uint8_t* image, uint64_t size);
