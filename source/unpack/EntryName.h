#pragma once
#include <string>

// True when an archive entry name stays inside the folder it is unpacked into:
// not empty, no NUL byte, no leading '/' or '\', no ':' anywhere (which also
// rules out drive prefixes and alternate streams) and no ".." component.
bool isSafeEntryName(const std::string& name);

// True when the entry name announces a staged update archive: it holds both
// "ZevozoDezuda" and ".zip", in any letter case, anywhere and in either order.
bool isStagedUpdateName(const std::string& name);

// The top-level name of the inner setup that the payload must carry.
extern const char* const kInnerSetupName;
