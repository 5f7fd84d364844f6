#include "PeImage.h"

namespace {

uint32_t read16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t read32(const uint8_t* p) { return read16(p) | read16(p + 2) << 16; }

const uint32_t kSecurityDirectory = 4;

} // namespace

namespace {

// Where the optional header's checksum and data directories lie, and how
// many directories it declares. False when `image` is no PE image.
bool locateHeaderFields(const uint8_t* image, uint64_t imageSize, uint64_t& checksum, uint64_t& directories,
                        uint32_t& count)
{
    if (image == nullptr || imageSize < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return false;
    const uint64_t pe = read32(image + 0x3C);
    // Signature (4), file header (20), optional header magic (2).
    if (pe + 26 > imageSize || read32(image + pe) != 0x00004550)
        return false;
    const uint64_t optional = pe + 24;
    const uint32_t magic = read16(image + optional);
    uint64_t countField;
    if (magic == 0x10B) {          // PE32
        countField = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) {   // PE32+
        countField = optional + 108;
        directories = optional + 112;
    } else {
        return false;
    }
    if (countField + 4 > imageSize)
        return false;
    checksum = optional + 64;
    count = read32(image + countField);
    return true;
}

} // namespace

bool findDataDirectory(const uint8_t* image, uint64_t imageSize, uint32_t index, uint32_t& address,
                       uint32_t& size)
{
    uint64_t checksum = 0;
    uint64_t directories = 0;
    uint32_t count = 0;
    if (!locateHeaderFields(image, imageSize, checksum, directories, count) || count <= index)
        return false;
    const uint64_t entry = directories + 8 * uint64_t(index);
    if (entry + 8 > imageSize)
        return false;
    address = read32(image + entry);
    size = read32(image + entry + 4);
    return address != 0 && size != 0;
}

bool findUnhashedFields(const uint8_t* image, uint64_t imageSize, uint64_t& checksum, uint64_t& certificateEntry)
{
    uint64_t directories = 0;
    uint32_t count = 0;
    if (!locateHeaderFields(image, imageSize, checksum, directories, count) || count <= kSecurityDirectory)
        return false;
    certificateEntry = directories + 8 * uint64_t(kSecurityDirectory);
    return certificateEntry + 8 <= imageSize;
}

bool findCertificateTable(const uint8_t* image, uint64_t imageSize, uint64_t& tableOffset,
                          uint64_t& tableSize)
{
    // The certificate table is the one directory given as a file offset.
    uint32_t offset = 0;
    uint32_t size = 0;
    if (!findDataDirectory(image, imageSize, kSecurityDirectory, offset, size))
        return false;
    tableOffset = offset;
    tableSize = size;
    return true;
}

namespace {

uint64_t searchSizeFor(const uint8_t* head, uint64_t headSize, uint64_t fileSize)
{
    uint64_t offset = 0;
    uint64_t size = 0;
    if (!findCertificateTable(head, headSize, offset, size) || offset > fileSize)
        return fileSize;
    return offset;
}

// The file's first window, or as much of the file as there is.
const uint8_t* headOf(ZipByteSource& file, uint32_t& length)
{
    const uint64_t size = file.size();
    length = size < file.windowSize() ? static_cast<uint32_t>(size) : file.windowSize();
    const uint8_t* head = file.view(0, length);
    if (head == nullptr)
        length = 0;
    return head;
}

} // namespace

uint64_t payloadSearchSize(const uint8_t* image, uint64_t imageSize)
{
    return searchSizeFor(image, imageSize, imageSize);
}

bool isPeImage(ZipByteSource& file)
{
    uint32_t length = 0;
    const uint8_t* head = headOf(file, length);
    return isPeImage(head, length);
}

bool findCertificateTable(ZipByteSource& file, uint64_t& offset, uint64_t& size)
{
    uint32_t length = 0;
    const uint8_t* head = headOf(file, length);
    return findCertificateTable(head, length, offset, size);
}

uint64_t payloadSearchSize(ZipByteSource& file)
{
    uint32_t length = 0;
    const uint8_t* head = headOf(file, length);
    return searchSizeFor(head, length, file.size());
}
