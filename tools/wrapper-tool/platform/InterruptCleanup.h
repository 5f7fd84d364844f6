#pragma once
#include <string>

// Ctrl-C or SIGTERM while an output is being written: the temporary file is
// removed, a progress line on the terminal is ended, and the process then
// dies of the signal as it would have. One temporary at a time.
void removeOnInterrupt(const std::string& tempPath);
// The temporary was renamed or removed: nothing to do on a signal any more.
void forgetOnInterrupt();
