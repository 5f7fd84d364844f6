// Placeholder until the filter lands: identity.
#include "BranchFilter.h"
std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size) { return std::vector<uint8_t>(data, data + size); }
BranchSplitDecoder::BranchSplitDecoder(const uint8_t* f, size_t n, uint64_t size) : in_(f), inSize_(n), size_(size) {}
bool BranchSplitDecoder::next(uint8_t* out, size_t cap, size_t& produced)
{
    if (inSize_ != size_) return false;
    size_t n = size_t(size_ - done_) < cap ? size_t(size_ - done_) : cap;
    for (size_t i = 0; i < n; ++i) out[i] = in_[done_ + i];
    done_ += n; produced = n; return true;
}
bool BranchSplitDecoder::finished() const { return done_ == size_ && inSize_ == size_; }
const char* BranchSplitDecoder::error() const { return "bad"; }
bool looksLikeCode(const uint8_t* d, size_t n) { return n > 2 && d[0] == 'M' && d[1] == 'Z'; }
