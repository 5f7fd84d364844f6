#include "inspect/Digest.h"

#include <cstdio>
#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "inspect/DigestText.h"

std::string fileSha256(const std::string& path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::string();
    std::vector<unsigned char> buffer(1 << 20);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        if (EVP_DigestUpdate(context.get(), buffer.data(), got) != 1)
            return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (std::ferror(file.get()) || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return std::string();
    return hexText(digest, length);
}
