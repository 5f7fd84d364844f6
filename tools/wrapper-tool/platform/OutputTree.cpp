// POSIX: every step is an *at() call on a folder descriptor with O_NOFOLLOW,
// so a link planted anywhere under the root is met, not followed.
#include "platform/OutputTree.h"

#include "platform/InterruptCleanup.h"
#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::vector<std::string> parts(const std::string& relative)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start)
            out.push_back(relative.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// `name` in the folder holding the last of `names`, '/'-separated.
std::string inFolder(const std::vector<std::string>& names, const std::string& name)
{
    std::string path;
    for (size_t i = 0; i + 1 < names.size(); ++i)
        path += names[i] + "/";
    return path + name;
}

bool isLink(int folder, const std::string& name)
{
    struct stat info;
    return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

// Moves the finished temporary onto its name. Without `replace` nothing may
// have appeared there meanwhile; a file system without RENAME_NOREPLACE gets
// the plain rename, the name having been found free when the file was made.
bool moveIntoPlace(int folder, const std::string& from, const std::string& to, bool replace)
{
#ifdef RENAME_NOREPLACE
    if (!replace) {
        if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
    }
#endif
    (void)replace;
    return renameat(folder, from.c_str(), folder, to.c_str()) == 0;
}

class PosixTreeFile : public TreeFile {
public:
    PosixTreeFile(int folder, int fd, std::string temporary, std::string name, bool replace, int slot)
        : folder_(folder), fd_(fd), temporary_(std::move(temporary)), name_(std::move(name)), replace_(replace),
          slot_(slot)
    {
    }
    ~PosixTreeFile() override { discard(); }

    bool write(const uint8_t* data, uint32_t size) override
    {
        while (size > 0 && fd_.get() >= 0) {
            const ssize_t wrote = ::write(fd_.get(), data, size);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                return failed(wrote < 0 ? errno : ENOSPC);
            data += wrote;
            size -= uint32_t(wrote);
        }
        return fd_.get() >= 0;
    }
    bool writeAt(uint64_t offset, const uint8_t* data, uint32_t size) override
    {
        while (size > 0 && fd_.get() >= 0) {
            const ssize_t wrote = ::pwrite(fd_.get(), data, size, off_t(offset));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                return failed(wrote < 0 ? errno : ENOSPC);
            data += wrote;
            offset += uint64_t(wrote);
            size -= uint32_t(wrote);
        }
        return fd_.get() >= 0;
    }
    bool finish() override
    {
        const int fd = fd_.release();
        if (fd < 0)
            return false;
        if (close(fd) != 0 || !moveIntoPlace(folder_.get(), temporary_, name_, replace_))
            return failed(errno);
        kept_ = true;
        forgetOnInterruptSlot(slot_);
        return true;
    }
    void discard() override
    {
        fd_.reset(-1);
        if (!kept_ && folder_.get() >= 0) {
            unlinkat(folder_.get(), temporary_.c_str(), 0);
            forgetOnInterruptSlot(slot_);
        }
        folder_.reset(-1);
    }

private:
    bool failed(int errorNumber) { return failedWith(std::strerror(errorNumber)); }

    Descriptor folder_;
    Descriptor fd_;
    std::string temporary_;
    std::string name_;
    bool replace_;
    int slot_;
    bool kept_ = false;
};

} // namespace

struct OutputTree::State {
    Descriptor root;

    // The folder holding `names[0..count)`, opened part by part from the
    // root; -1 with `refused` telling a link in the way from a system error.
    int openFolder(const std::vector<std::string>& names, size_t count, const OutputTree& tree, bool& refused,
                   std::string& error) const
    {
        refused = false;
        Descriptor current(dup(root.get()));
        std::string walked;
        for (size_t i = 0; i < count && current.get() >= 0; ++i) {
            walked += (walked.empty() ? "" : "/") + names[i];
            if (mkdirat(current.get(), names[i].c_str(), 0777) != 0 && errno != EEXIST) {
                error = "cannot create '" + tree.shown(walked) + "': " + std::strerror(errno);
                return -1;
            }
            const int next = openat(current.get(), names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) {
                refused = isLink(current.get(), names[i]);
                error = refused
                            ? "refused '" + tree.shown(walked) + "': a symbolic link is there; it is not followed"
                            : "cannot open '" + tree.shown(walked) + "': " + std::strerror(errno);
                return -1;
            }
            current.reset(next);
        }
        return current.release();
    }
};

OutputTree::OutputTree() : state_(new State) {}
OutputTree::~OutputTree() = default;

std::string OutputTree::shown(const std::string& relative) const
{
    return root_ + (root_.empty() || root_.back() == '/' ? "" : "/") + relative;
}

bool OutputTree::open(const std::string& root, std::string& error)
{
    root_ = root;
    std::error_code code;
    std::filesystem::create_directories(std::filesystem::path(root), code);
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open '" + root + "': " + std::strerror(code ? code.value() : errno);
        return false;
    }
    state_->root.reset(fd);
    return true;
}

OutputTree::Outcome OutputTree::createFolders(const std::string& relative, bool includingLast, std::string& error)
{
    const std::vector<std::string> names = parts(relative);
    const size_t count = includingLast || names.empty() ? names.size() : names.size() - 1;
    bool refused = false;
    Descriptor folder(state_->openFolder(names, count, *this, refused, error));
    return folder.get() >= 0 ? Outcome::Created : refused ? Outcome::Refused : Outcome::Failed;
}

OutputTree::Outcome OutputTree::createFile(const std::string& relative, ExistingFiles existing,
                                           std::unique_ptr<TreeFile>& file, std::string& error)
{
    const std::vector<std::string> names = parts(relative);
    if (names.empty()) {
        error = "refused '" + shown(relative) + "': no file name";
        return Outcome::Refused;
    }
    bool refused = false;
    Descriptor folder(state_->openFolder(names, names.size() - 1, *this, refused, error));
    if (folder.get() < 0)
        return refused ? Outcome::Refused : Outcome::Failed;
    const std::string& name = names.back();
    struct stat info;
    const bool taken = fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (taken) {
        const Outcome policy = existingFile(relative, existing, S_ISDIR(info.st_mode), error);
        if (policy != Outcome::Created)
            return policy;
    }
    // The data goes to a temporary beside the name; a file or link there is
    // replaced by the rename in finish(), never written through.
    int fd = -1;
    int slot = -1;
    std::string temporary;
    for (int attempt = 0; attempt < kScratchAttempts && fd < 0; ++attempt) {
        temporary = scratchName(name, ".tmp", attempt);
        SignalsHeld held;
        fd = openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            slot = removeOnInterruptSlot(shown(inFolder(names, temporary)));
        else if (errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = "cannot create a file beside '" + shown(relative) + "': " +
                (errno == EEXIST ? std::string("every scratch name is taken") : std::strerror(errno));
        return Outcome::Failed;
    }
    file.reset(new PosixTreeFile(folder.release(), fd, temporary, name, taken, slot));
    return Outcome::Created;
}
