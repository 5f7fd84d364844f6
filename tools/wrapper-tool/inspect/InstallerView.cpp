#include "inspect/InstallerView.h"

#include "PeImage.h"
#include "inspect/PayloadChecks.h"

bool InstallerView::open(const std::string& path, std::string& error)
{
    file_ = openMappedFile(path, error);
    if (!file_)
        return false;
    isPe_ = ::isPeImage(*file_);
    searchSize_ = payloadSearchSize(*file_);
    uint64_t tableOffset = 0;
    if (isSigned())
        findCertificateTable(*file_, tableOffset, tableSize_);
    opened_ = reader_.open(*file_, searchSize_);
    if (!opened_ && isSigned()) {
        ZipReader wholeFile;
        archiveAfterSignature_ = wholeFile.open(*file_, file_->size()).ok();
    }
    return true;
}

uint64_t InstallerView::archiveStart() const
{
    uint64_t start = reader_.endRecord().centralDirectoryOffset;
    for (const ZipEntryInfo& entry : reader_.entries())
        if (entry.localHeaderOffset < start)
            start = entry.localHeaderOffset;
    return reader_.archiveOffset() + start;
}

bool InstallerView::holdsEarlierArchive()
{
    if (!archiveFound())
        return false;
    const uint64_t start = archiveStart();
    if (start == 0 || start > searchSize_)
        return false;
    ZipReader earlier;
    return earlier.open(*file_, start).ok();
}

std::string InstallerView::archiveProblem(const std::string& path) const
{
    if (opened_.reason == ZipOpenReason::EntriesOverlap)
        return kOverlapProblem;
    std::string problem = "no archive the stub could read";
    if (!path.empty())
        problem += " in '" + path + "'";
    return problem + " (" + opened_.text() + ")";
}

StubIdentity InstallerView::stubIdentity()
{
    return file_ ? identifyStub(*file_) : identifyStub(nullptr, 0);
}
