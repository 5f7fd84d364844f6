#include "FileMapping.h"

namespace {

// What an empty read points at: never dereferenced, but not null either.
const uint8_t kNothing = 0;

} // namespace

FileMapping::FileMapping(const NativePath& path, uint32_t window)
    : window_(window ? window : 1), granularity_(fileplatform::viewGranularity())
{
    error_ = fileplatform::open(path, handles_, size_);
    opened_ = !error_.failed();
}

FileMapping::~FileMapping()
{
    release();
    fileplatform::close(handles_);
}

void FileMapping::release()
{
    if (viewBase_ != nullptr)
        fileplatform::unmapView(viewBase_, viewLength_);
    viewBase_ = nullptr;
    viewLength_ = 0;
}

const uint8_t* FileMapping::view(uint64_t offset, uint32_t length)
{
    if (!opened_ || length > window_ || offset > size_ || length > size_ - offset)
        return nullptr;
    if (length == 0)
        return &kNothing;
    if (viewBase_ != nullptr && offset >= viewStart_ && offset - viewStart_ <= viewLength_ &&
        length <= viewLength_ - (offset - viewStart_))
        return viewBase_ + (offset - viewStart_);

    // The new view starts at the granularity boundary below the read and
    // reaches a whole window past it, so that a reader walking forward
    // finds its next records in the same view.
    release();
    const uint64_t start = offset - offset % granularity_;
    const uint64_t span = static_cast<uint64_t>(window_) + granularity_;
    const uint64_t left = size_ - start;
    const size_t mapLength = static_cast<size_t>(left < span ? left : span);
    uint32_t code = 0;
    viewBase_ = fileplatform::mapView(handles_, start, mapLength, code);
    if (viewBase_ == nullptr) {
        if (!error_.failed())
            error_ = FileMapError{FileMapStep::View, code};
        return nullptr;
    }
    viewStart_ = start;
    viewLength_ = mapLength;
    return viewBase_ + (offset - start);
}
