#include "inspect/VersionBlock.h"


#include "PeImage.h"
#include "ZipBytes.h"

namespace {

const uint32_t kResourceDirectory = 2;
const uint32_t kVersionType = 16; // RT_VERSION
const uint32_t kFixedSignature = 0xFEEF04BD;
const uint32_t kSubdirectoryFlag = 0x80000000u;

// The resource section as one bounded span; offsets in it are relative to its start.
struct Span {
    const uint8_t* data;
    uint64_t size;
    bool has(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
};

// The entry of a resource directory: with `id`, that id; else the first one
// (the first name, then the first language, as the loader picks by default).
bool findEntry(const Span& section, uint64_t directory, bool byId, uint32_t id, uint32_t& target)
{
    if (!section.has(directory, 16))
        return false;
    const uint32_t count = readU16(section.data + directory + 12) + readU16(section.data + directory + 14);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = directory + 16 + 8 * uint64_t(i);
        if (!section.has(entry, 8))
            return false;
        if (!byId || readU32(section.data + entry) == id) {
            target = readU32(section.data + entry + 4);
            return true;
        }
    }
    return false;
}

const uint64_t kSectionHeaderSize = 40;

// Where the byte at relative virtual address `rva` lies in the file, by the
// section table; false when no section's raw data holds it.
bool fileOffsetOfRva(const uint8_t* image, uint64_t imageSize, uint32_t rva, uint64_t& offset)
{
    if (!isPeImage(image, imageSize))
        return false;
    const uint64_t pe = readU32(image + 0x3C);
    if (pe + 24 > imageSize)
        return false;
    const uint32_t sectionCount = readU16(image + pe + 6);
    const uint64_t table = pe + 24 + readU16(image + pe + 20);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = table + i * kSectionHeaderSize;
        if (header + kSectionHeaderSize > imageSize)
            return false;
        const uint32_t virtualSize = readU32(image + header + 8);
        const uint32_t virtualAddress = readU32(image + header + 12);
        const uint32_t rawSize = readU32(image + header + 16);
        const uint32_t rawPointer = readU32(image + header + 20);
        // Bytes past the raw data are zero-filled in memory and absent from the file.
        const uint32_t span = rawSize < virtualSize || virtualSize == 0 ? rawSize : virtualSize;
        if (rva >= virtualAddress && rva - virtualAddress < span) {
            offset = uint64_t(rawPointer) + (rva - virtualAddress);
            return offset < imageSize;
        }
    }
    return false;
}

uint64_t align4(uint64_t offset) { return (offset + 3) & ~uint64_t(3); }

// A UTF-16 text ending at its NUL, at most up to `end`; its bytes past the NUL in `after`.
std::string readText(const Span& block, uint64_t offset, uint64_t end, uint64_t& after)
{
    std::string text;
    for (; offset + 2 <= end; offset += 2) {
        const uint32_t c = readU16(block.data + offset);
        if (c == 0) {
            after = offset + 2;
            return text;
        }
        text += c < 0x80 ? char(c) : '?';
    }
    after = end;
    return text;
}

// One node of the version tree: length, value length, type, key, value, children.
struct Node {
    uint64_t start, end, value;
    uint32_t valueLength;
    std::string key;
};

bool readNode(const Span& block, uint64_t start, uint64_t limit, Node& node)
{
    if (start + 6 > limit)
        return false;
    const uint32_t length = readU16(block.data + start);
    if (length < 6 || start + length > limit)
        return false;
    node.start = start;
    node.end = start + length;
    node.valueLength = readU16(block.data + start + 2);
    uint64_t afterKey = 0;
    node.key = readText(block, start + 6, node.end, afterKey);
    node.value = align4(afterKey);
    return node.value <= node.end;
}

void readStrings(const Span& block, const Node& table, VersionBlock& out)
{
    for (uint64_t at = align4(table.value); at < table.end;) {
        Node text;
        if (!readNode(block, at, table.end, text))
            return;
        uint64_t ignored = 0;
        if (text.valueLength != 0 && text.value < text.end)
            out.strings.emplace(text.key, readText(block, text.value, text.end, ignored));
        at = align4(text.end);
    }
}

void readVersion(const uint8_t* p, uint16_t (&version)[4])
{
    const uint32_t ms = readU32(p), ls = readU32(p + 4);
    version[0] = uint16_t(ms >> 16);
    version[1] = uint16_t(ms);
    version[2] = uint16_t(ls >> 16);
    version[3] = uint16_t(ls);
}

VersionBlockResult parseBlock(const Span& block, VersionBlock& out, std::string& reason)
{
    Node root;
    if (!readNode(block, 0, block.size, root) || root.key != "VS_VERSION_INFO") {
        reason = "the version resource is not a VS_VERSION_INFO block";
        return VersionBlockResult::Malformed;
    }
    if (root.valueLength < 52 || !block.has(root.value, 52) || readU32(block.data + root.value) != kFixedSignature) {
        reason = "the version block has no fixed file information";
        return VersionBlockResult::Malformed;
    }
    readVersion(block.data + root.value + 8, out.fileVersion);
    readVersion(block.data + root.value + 16, out.productVersion);
    for (uint64_t at = align4(root.value + root.valueLength); at < root.end;) {
        Node child;
        if (!readNode(block, at, root.end, child))
            break;
        if (child.key == "StringFileInfo") {
            Node table;
            if (readNode(block, align4(child.value), child.end, table))
                readStrings(block, table, out);
            break;
        }
        at = align4(child.end);
    }
    return VersionBlockResult::Found;
}

} // namespace

std::string dottedVersion(const uint16_t (&version)[4])
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

VersionBlockResult readVersionBlock(const uint8_t* image, uint64_t size, VersionBlock& out,
                                    std::string& reason)
{
    out = VersionBlock();
    uint32_t rva = 0, length = 0;
    uint64_t offset = 0;
    if (!findDataDirectory(image, size, kResourceDirectory, rva, length) ||
        !fileOffsetOfRva(image, size, rva, offset))
        return VersionBlockResult::NotFound;
    const Span section{image + offset, size - offset < length ? size - offset : length};
    // Type, then name, then language: three levels, each pointing at the next.
    uint32_t names = 0, languages = 0, leaf = 0;
    if (!findEntry(section, 0, true, kVersionType, names) || !(names & kSubdirectoryFlag))
        return VersionBlockResult::NotFound;
    if (!findEntry(section, names & ~kSubdirectoryFlag, false, 0, languages) || !(languages & kSubdirectoryFlag) ||
        !findEntry(section, languages & ~kSubdirectoryFlag, false, 0, leaf) || (leaf & kSubdirectoryFlag) ||
        !section.has(leaf, 16)) {
        reason = "the version resource's directory is damaged";
        return VersionBlockResult::Malformed;
    }
    uint64_t blockOffset = 0;
    const uint32_t blockSize = readU32(section.data + leaf + 4);
    if (!fileOffsetOfRva(image, size, readU32(section.data + leaf), blockOffset) || blockSize > size - blockOffset) {
        reason = "the version block lies outside the file";
        return VersionBlockResult::Malformed;
    }
    return parseBlock(Span{image + blockOffset, blockSize}, out, reason);
}
