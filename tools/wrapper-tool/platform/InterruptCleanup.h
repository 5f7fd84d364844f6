#pragma once
#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

// A signal that ends the process (Ctrl-C, SIGTERM, SIGHUP when the terminal
// goes, SIGPIPE when a reader of our output quits) while an output is being
// written: the temporary file is removed, a progress line on the terminal is
// ended, and the process then dies of the signal as it would have. One
// temporary at a time; with `folder`, that private folder (holding only the
// temporary) is removed after it.
void removeOnInterrupt(const std::string& tempPath, const std::string& folder = std::string());
// The temporary was renamed or removed: nothing to do on a signal any more.
void forgetOnInterrupt();

// Several temporaries at once (extract's files under way), each in a slot
// of its own, armed and forgotten by one thread. -1 when every slot is taken:
// that file is then left behind on a signal (never anything else removed).
int removeOnInterruptSlot(const std::string& tempPath);
void forgetOnInterruptSlot(int slot);

#ifndef _WIN32
// A program started for us (osslsigncode), the leader of its own process
// group: on such a signal the whole group is killed and the leader waited
// for first, so nothing it started outlives us, and it cannot write the
// temporary again after it was removed. Arms the handlers even when no
// temporary is pending. 0: none.
void stopOnInterrupt(pid_t child);

// A terminal whose echo is off while a secret is typed: on such a signal its
// settings `saved` are put back. -1: none.
struct termios;
void restoreTerminalOnInterrupt(int fd, const struct termios* saved);
#endif

// Holds those signals back while alive (not on Windows), so that creating a
// file and arming its removal happen as one step.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
#ifndef _WIN32
    sigset_t saved_;
#endif
};
