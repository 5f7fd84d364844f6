#pragma once
#include <string>

// How one unpack runs.
struct UnpackOptions {
    // Threads that write files (1: the calling thread alone). The log and the
    // outcome are the same for any count.
    unsigned workers = 1;
    // The run holds the work-area lock: no other run of this version writes
    // here, so a killed run's temporaries may be removed.
    bool ownsWorkArea = false;
};

// Unpacks the archive appended to the installer at `installer` into the
// current directory (the work area), in plan order, stopping at the first
// failing entry. Sets *stagedUpdateFound (never clears it) when a staged
// update archive is among the files. True when every entry was handled.
bool unpackInstaller(const std::wstring& installer, const UnpackOptions& options,
                     bool* stagedUpdateFound);

// The same for the program's own file, with a worker per processor (at most 4).
bool unpackEmbeddedZip(bool ownsWorkArea, bool* stagedUpdateFound);
