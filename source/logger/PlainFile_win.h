#pragma once
#include <windows.h>

#include "Owned_win.h"

// The log is written, and its access list widened, only when it is a file of
// its own: not a symbolic link or other reparse point, not a folder, and with
// no second name (hard link). A link planted at the log's path would otherwise
// have us write to, and open up the access list of, whatever file it names.
bool isPlainFile(HANDLE file, const wchar_t* path);

// Opens `path` for reading and writing (sharing both), creating it when it
// does not exist, without following a link at its last component; with
// `truncate` it is emptied. INVALID_HANDLE_VALUE unless it is a plain file.
HANDLE openPlainFile(const wchar_t* path, bool truncate);
