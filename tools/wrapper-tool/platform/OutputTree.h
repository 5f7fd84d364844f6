#pragma once
#include <memory>
#include <string>

#include "ZipReaderCallback.h"

// What extract does with a file that is already there (7-Zip's -aos/-aoa).
enum class ExistingFiles { Refuse, Skip, Overwrite };

// One file being written under an OutputTree. It is removed again unless
// finish() succeeds: an entry that fails its size or CRC check leaves
// nothing behind.
class TreeFile : public ZipReaderCallback {
public:
    virtual ~TreeFile() = default;
    // Removes the file (after a failed check). Safe to call more than once.
    virtual void discard() = 0;
};

// The folder extract writes into, held open: every folder and file is made
// relative to it, and a link already inside it (file or folder) is never
// followed, so nothing is written outside the folder the user named. That
// folder itself may be a link: the user named it.
class OutputTree {
public:
    OutputTree();
    ~OutputTree();
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // Creates the folder (and its parents) if needed and opens it.
    bool open(const std::string& root, std::string& error);

    // Creates the folders of `relative` ('/'-separated, checked already to
    // stay inside), all of them when `includingLast`, else all but its last part.
    bool createFolders(const std::string& relative, bool includingLast, std::string& error);

    enum class Outcome { Created, Skipped, Refused, Failed };
    // A new file at `relative`; an existing one is refused, skipped or
    // replaced (a link there is replaced, never written through).
    Outcome createFile(const std::string& relative, ExistingFiles existing, std::unique_ptr<TreeFile>& file,
                       std::string& error);

    // How the user sees `relative`: under the folder they named.
    std::string shown(const std::string& relative) const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::string root_;
};
