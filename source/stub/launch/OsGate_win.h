#pragma once
#include <cstdint>

// True when the running system is at least major.minor with the given service pack.
bool isOsVersionOrGreater(uint16_t major, uint16_t minor, uint16_t servicePackMajor);

// Shows the localized "cannot install on this Windows" box; returns when it is closed.
void showRefusalMessage();
