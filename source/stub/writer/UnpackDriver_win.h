#pragma once

// Unpacks the archive appended to the program's own file into the current
// directory (the work area), entry by entry, stopping at the first failure.
// Sets *stagedUpdateFound (never clears it) when a staged update archive is
// among the files. True when every entry was handled.
bool unpackEmbeddedZip(bool* stagedUpdateFound);
