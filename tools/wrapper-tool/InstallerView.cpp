#include "InstallerView.h"

#include "PeImage.h"

bool InstallerView::open(const std::string& path, std::string& error)
{
    if (!file_.open(path, error))
        return false;
    searchSize_ = payloadSearchSize(file_.data(), file_.size());
    archiveFound_ = file_.data() != nullptr && reader_.open(file_.data(), searchSize_);
    if (!archiveFound_ && isSigned()) {
        ZipReader wholeFile;
        archiveAfterSignature_ = wholeFile.open(file_.data(), file_.size());
    }
    return true;
}
