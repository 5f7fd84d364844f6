#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inspect/StubIdentity.h"
#include "platform/MappedFile.h"
#include "ZipReader.h"

// An installer file read the way the stub reads its own image: through
// bounded views, the archive searched for only before the certificate table,
// and opened with the stub's own ZIP reader.
class InstallerView {
public:
    // False (with the reason) only when the file cannot be read at all.
    bool open(const std::string& path, std::string& error);

    // Whether the stub's reader found an archive in the search window, and
    // why not.
    bool archiveFound() const { return opened_.ok(); }
    const ZipOpenResult& openResult() const { return opened_; }
    // Why no archive was found, as a message; names `path` when given.
    std::string archiveProblem(const std::string& path = std::string()) const;
    uint64_t fileSize() const { return file_ ? file_->size() : 0; }
    // Whether the file starts like a Windows executable.
    bool isPeImage() const { return isPe_; }
    // Where the archive's first byte lies in the file, when one was found.
    uint64_t archiveStart() const;
    // Whether a second, complete archive lies before the one found: two
    // payloads appended one after the other.
    bool holdsEarlierArchive();
    // Bytes the stub searches: the whole file, or up to the signature block.
    uint64_t searchSize() const { return searchSize_; }
    bool isSigned() const { return searchSize_ < fileSize(); }
    // The certificate table as declared (valid when isSigned()).
    uint64_t certificateTableSize() const { return tableSize_; }
    // Which stub the file starts with, by its version block.
    StubIdentity stubIdentity();
    // True when no archive lies before the signature block but one would be
    // found if the whole file were searched: the file was signed before packing.
    bool archiveAfterSignature() const { return archiveAfterSignature_; }

    // The file itself, read through the same views (valid once open() succeeded).
    ZipByteSource& file() { return *file_; }

    ZipReader& reader() { return reader_; }
    const ZipReader& reader() const { return reader_; }

private:
    std::unique_ptr<FileMapping> file_;
    ZipReader reader_;
    uint64_t searchSize_ = 0;
    uint64_t tableSize_ = 0;
    bool isPe_ = false;
    ZipOpenResult opened_{ZipOpenReason::TooSmall};
    bool archiveAfterSignature_ = false;
};
