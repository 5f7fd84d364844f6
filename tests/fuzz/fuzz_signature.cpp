// libFuzzer target: any bytes through verify's signature check. An input
// that starts with "MZ" is a whole file (seeds are small signed images, so
// mutations reach the PKCS#7 and chain checks); any other is a certificate
// table appended to a bare PE header that declares it. The check must never
// crash or hang, must give the same verdict through small windows as from
// one buffer, an invalid verdict must say why, and a timestamp must be a time
// only when it verified.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CopiedWindows.h"
#include "sign/SignatureCheck.h"

namespace {

std::string anchors;

const uint32_t kOptionalHeader = 0x40 + 24;
const uint32_t kSecurityEntry = kOptionalHeader + 96 + 4 * 8;
const uint32_t kHeaderSize = 0x200;

void put32(std::vector<uint8_t>& image, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = uint8_t(value >> (8 * i));
}

// A PE32 header, nothing more, whose certificate table is `table`.
std::vector<uint8_t> imageAround(const uint8_t* table, size_t size)
{
    std::vector<uint8_t> image(kHeaderSize);
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, 0x40);
    std::memcpy(&image[0x40], "PE\0\0", 4);
    image[kOptionalHeader] = 0x0B; // PE32
    image[kOptionalHeader + 1] = 0x01;
    put32(image, kOptionalHeader + 92, 16);
    put32(image, kSecurityEntry, kHeaderSize);
    put32(image, kSecurityEntry + 4, uint32_t(size));
    image.insert(image.end(), table, table + size);
    return image;
}

void requireReason(const SignatureReport& report)
{
    if (report.state == SignatureState::Invalid && report.detail.empty())
        __builtin_trap();
    // A timestamp is a time only when it verified, and says why when it did not.
    const TimestampDetails& stamp = report.signer.timestamp;
    if (stamp.verified ? stamp.time.empty() : !stamp.time.empty() || (stamp.present() && stamp.problem.empty()))
        __builtin_trap();
    for (const SignatureReport& nested : report.nested)
        requireReason(nested);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A trust file keeps runs off the system's store, which is slow to load.
    const char* given = std::getenv("WRAPPER_FUZZ_CA");
    anchors = given ? given : "";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bool wholeFile = size >= 2 && data[0] == 'M' && data[1] == 'Z';
    const std::vector<uint8_t> image = wholeFile ? std::vector<uint8_t>(data, data + size) : imageAround(data, size);
    ZipMemorySource whole(image.data(), image.size());
    const SignatureReport report = checkSignature("fuzz input", whole, anchors);
    requireReason(report);
    CopiedWindows windows(image.data(), image.size());
    const SignatureReport windowed = checkSignature("fuzz input", windows, anchors);
    if (windowed.state != report.state || windowed.detail != report.detail ||
        windowed.nested.size() != report.nested.size() || windowed.signer.timestamp.time != report.signer.timestamp.time)
        __builtin_trap();
    return 0;
}
