#include "inspect/Digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "inspect/DigestText.h"

namespace {

struct AlgorithmCloser {
    void operator()(void* algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashCloser {
    void operator()(void* hash) const { BCryptDestroyHash(hash); }
};

} // namespace

std::string fileSha256(const std::string& path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!file || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::string();
    std::unique_ptr<void, AlgorithmCloser> algorithm(opened);
    BCRYPT_HASH_HANDLE made = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(opened, &made, nullptr, 0, nullptr, 0, 0)))
        return std::string();
    std::unique_ptr<void, HashCloser> hash(made);
    std::vector<unsigned char> buffer(1 << 20);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        if (!BCRYPT_SUCCESS(BCryptHashData(made, buffer.data(), ULONG(got), 0)))
            return std::string();
    unsigned char digest[32];
    if (std::ferror(file.get()) || !BCRYPT_SUCCESS(BCryptFinishHash(made, digest, sizeof digest, 0)))
        return std::string();
    return hexText(digest, sizeof digest);
}
