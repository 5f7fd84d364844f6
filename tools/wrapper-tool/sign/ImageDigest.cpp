#include "sign/ImageDigest.h"

#include "PeImage.h"
#include "sign/OpenSslOwners.h"

namespace {

bool hashRange(ZipByteSource& file, EVP_MD_CTX* context, uint64_t from, uint64_t to)
{
    const uint64_t window = file.windowSize();
    for (uint64_t at = from; at < to;) {
        const uint32_t piece = uint32_t(to - at < window ? to - at : window);
        const uint8_t* bytes = file.view(at, piece);
        if (bytes == nullptr || EVP_DigestUpdate(context, bytes, piece) != 1)
            return false;
        at += piece;
    }
    return true;
}

} // namespace

std::vector<uint8_t> imageDigest(ZipByteSource& file, uint64_t tableOffset, const EVP_MD* digest)
{
    const uint64_t headSize = file.size() < file.windowSize() ? file.size() : file.windowSize();
    const uint8_t* head = file.view(0, uint32_t(headSize));
    uint64_t checksum = 0;
    uint64_t entry = 0;
    if (head == nullptr || !findUnhashedFields(head, headSize, checksum, entry) || entry + 8 > tableOffset ||
        tableOffset > file.size())
        return {};
    OwnedDigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1)
        return {};
    if (!hashRange(file, context.get(), 0, checksum) || !hashRange(file, context.get(), checksum + 4, entry) ||
        !hashRange(file, context.get(), entry + 8, tableOffset))
        return {};
    std::vector<uint8_t> result(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), result.data(), &length) != 1)
        return {};
    result.resize(length);
    return result;
}
