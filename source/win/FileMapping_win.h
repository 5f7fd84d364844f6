#pragma once
#include <string>

#include "FileMapping.h"

// Full path of the running executable; empty when the platform cannot tell it.
std::wstring getModulePath();
