#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ZipReaderCallback.h"

// What extract does with a file that is already there (7-Zip's -aos/-aoa).
enum class ExistingFiles { Refuse, Skip, Overwrite };

// One file being written under an OutputTree: an exclusive temporary beside
// its name, renamed onto the name only by finish() (called after the size and
// CRC check). Until then a file already at the name stays byte for byte, and
// a failed entry leaves no temporary.
class TreeFile : public ZipReaderCallback {
public:
    virtual ~TreeFile() = default;
    // `size` bytes at `offset` (the chunks of one entry, each where it
    // belongs); threads may write ranges apart at the same time.
    virtual bool writeAt(uint64_t offset, const uint8_t* data, uint32_t size) = 0;
    // Removes the temporary (after a failed check). Safe to call more than once.
    virtual void discard() = 0;
    // The system's reason when a write, the close or the rename failed;
    // empty when the data itself was refused.
    const std::string& reason() const { return reason_; }

protected:
    // The first failure's reason is the one kept, whichever thread met it.
    bool failedWith(const std::string& reason)
    {
        std::lock_guard<std::mutex> lock(reasonLock_);
        if (reason_.empty())
            reason_ = reason;
        return false;
    }

private:
    std::mutex reasonLock_;
    std::string reason_;
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

    // Refused: a link or something else in the way that is not ours to
    // touch; Failed: the system said no (its reason in the error).
    enum class Outcome { Created, Skipped, Refused, Failed };

    // Creates the folders of `relative` ('/'-separated, checked already to
    // stay inside), all of them when `includingLast`, else all but its last part.
    Outcome createFolders(const std::string& relative, bool includingLast, std::string& error);

    // A new file at `relative`; an existing one is refused, skipped or
    // replaced when the new one is finished (a link there is replaced, never
    // written through).
    Outcome createFile(const std::string& relative, ExistingFiles existing, std::unique_ptr<TreeFile>& file,
                       std::string& error);

    // How the user sees `relative`: under the folder they named.
    std::string shown(const std::string& relative) const;

private:
    // The policy for a name that is taken; Created means "replace it".
    Outcome existingFile(const std::string& relative, ExistingFiles existing, bool folderThere,
                         std::string& error) const
    {
        if (existing == ExistingFiles::Skip)
            return Outcome::Skipped;
        if (existing == ExistingFiles::Overwrite && !folderThere)
            return Outcome::Created;
        error = "refused '" + shown(relative) + "': " +
                (folderThere ? std::string("a folder is there")
                             : "it exists; give --overwrite to replace it or --skip-existing to keep it");
        return Outcome::Refused;
    }

    struct State;
    std::unique_ptr<State> state_;
    std::string root_;
};
