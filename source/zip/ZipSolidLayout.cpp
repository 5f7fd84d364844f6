#include "ZipSolidLayout.h"

#include "SolidFilter.h"
#include "ZipBytes.h"
#include "ZipExtraField.h"

using namespace zipformat;

namespace {

struct Checker {
    const std::vector<ZipEntryInfo>& entries;
    SolidLayout layout;
    bool failed = false;

    size_t closed = 0; // blocks whose end was checked

    // A reader stops at the entry, or at the first file of a block still
    // open: none of that block's files is taken unchecked.
    void fail(size_t entry, const std::string& why)
    {
        if (failed)
            return;
        failed = true;
        layout.status = SolidLayout::Status::Invalid;
        layout.badEntry = entry;
        layout.reason = "its solid block record is refused: " + why;
        if (closed < layout.blocks.size() && layout.blocks.back().carrier < entry) {
            layout.badEntry = layout.blocks.back().carrier;
            layout.reason += " (at entry " + std::to_string(entry) + ")";
        }
    }

    // A block is refused at its first file, where a reader would start it.
    void failBlock(size_t block, const std::string& why)
    {
        fail(layout.blocks[block].carrier, "block " + std::to_string(block) + " " + why);
    }

    void closeBlock(size_t number)
    {
        const SolidBlock& block = layout.blocks[number];
        const SolidMember& last = block.members.back();
        if (last.offset + last.length != block.size)
            return failBlock(number, "ends at " + std::to_string(last.offset + last.length) +
                                         ", not at its size " + std::to_string(block.size));
        closed = number + 1;
    }

    void add(uint32_t index, const uint8_t* data)
    {
        const ZipEntryInfo& entry = entries[index];
        SolidRecord record;
        record.block = readU32(data);
        record.prefix = readU32(data + 4);
        record.hasPrefix = record.prefix != kNoSolidPrefix;
        record.blockSize = readU64(data + 8);
        record.offset = readU64(data + 16);
        record.length = readU64(data + 24);
        record.filter = data[32];

        if (entry.isDirectory() || entry.uncompressedSize == 0)
            return fail(index, "a folder or an empty file has no place in a block");
        if (record.filter > kLastSolidFilter)
            return fail(index, "filter " + std::to_string(record.filter) + " is unknown");
        if (record.filter == kFilterNone && record.length != entry.uncompressedSize)
            return fail(index, "its length is not its file's size");
        if (record.length == 0 || entry.uncompressedSize > kMaxSolidBlockSize)
            return fail(index, "a file of this size has no place in a block");

        const size_t open = layout.blocks.size();
        if (record.block == open) {
            // A new block: its first file carries the frame.
            if (open > 0)
                closeBlock(open - 1);
            if (failed)
                return;
            if (record.blockSize == 0 || record.blockSize > kMaxSolidBlockSize)
                return fail(index, "block " + std::to_string(record.block) + " declares " +
                                       std::to_string(record.blockSize) + " bytes, above the limit of " +
                                       std::to_string(kMaxSolidBlockSize));
            if (record.hasPrefix &&
                (record.prefix >= record.block || layout.blocks[record.prefix].hasPrefix))
                return fail(index, "block " + std::to_string(record.block) + " names block " +
                                       std::to_string(record.prefix) + " as its prefix");
            if (record.offset != 0 || entry.compressedSize == 0)
                return fail(index, "the first file of block " + std::to_string(record.block) +
                                       " does not start it or carries no data");
            SolidBlock block;
            block.carrier = index;
            block.prefix = record.hasPrefix ? record.prefix : 0;
            block.hasPrefix = record.hasPrefix;
            block.size = record.blockSize;
            layout.blocks.push_back(block);
        } else if (open == 0 || record.block != open - 1) {
            return fail(index, "block " + std::to_string(record.block) + " is out of order");
        } else {
            const SolidBlock& block = layout.blocks.back();
            const SolidMember& previous = block.members.back();
            if (record.blockSize != block.size || record.hasPrefix != block.hasPrefix ||
                (record.hasPrefix && record.prefix != block.prefix))
                return failBlock(open - 1, "is described two ways");
            if (record.offset != previous.offset + previous.length || entry.compressedSize != 0)
                return failBlock(open - 1, "has a file that is not where the one before it ends");
        }
        SolidBlock& block = layout.blocks.back();
        if (record.length > block.size - record.offset)
            return failBlock(layout.blocks.size() - 1, "is shorter than its files");
        SolidMember member;
        member.entry = index;
        member.offset = record.offset;
        member.length = record.length;
        member.filter = record.filter;
        layout.memberOfEntry[index] = uint32_t(block.members.size());
        block.members.push_back(member);
        layout.blockOfEntry[index] = int32_t(layout.blocks.size() - 1);
    }
};

void putLittle(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char(uint8_t(value >> (8 * i))));
}

} // namespace

SolidLayout readSolidLayout(const std::vector<ZipEntryInfo>& entries)
{
    Checker check{entries, SolidLayout()};
    check.layout.blockOfEntry.assign(entries.size(), -1);
    check.layout.memberOfEntry.assign(entries.size(), 0);
    bool any = false;
    for (size_t i = 0; i < entries.size() && !check.failed; ++i) {
        const ZipEntryInfo& entry = entries[i];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        uint32_t count = 0;
        const auto* extra = reinterpret_cast<const uint8_t*>(entry.extraField.data());
        findExtraBlock(extra, uint32_t(entry.extraField.size()), kSolidMemberExtraId, data, size, &count);
        const bool solid = entry.compressionMethod == kMethodSolid;
        if (count == 0 && !solid)
            continue;
        any = true;
        if (!solid || count != 1 || size != kSolidMemberSize)
            check.fail(i, solid ? "it is missing, repeated or of the wrong length"
                                : "the file is not packed solid");
        else
            check.add(uint32_t(i), data);
    }
    if (!any)
        return SolidLayout();
    if (!check.failed && !check.layout.blocks.empty())
        check.closeBlock(check.layout.blocks.size() - 1);
    SolidLayout& layout = check.layout;
    if (!check.failed) {
        layout.status = SolidLayout::Status::Valid;
        return layout;
    }
    // Only the blocks wholly before the refused entry stay usable.
    for (size_t i = layout.badEntry; i < entries.size(); ++i)
        layout.blockOfEntry[i] = -1;
    while (!layout.blocks.empty() && layout.blocks.back().carrier >= layout.badEntry)
        layout.blocks.pop_back();
    return layout;
}

std::string encodeSolidRecord(const SolidRecord& record)
{
    std::string out;
    putLittle(out, kSolidMemberExtraId, 2);
    putLittle(out, kSolidMemberSize, 2);
    putLittle(out, record.block, 4);
    putLittle(out, record.hasPrefix ? record.prefix : kNoSolidPrefix, 4);
    putLittle(out, record.blockSize, 8);
    putLittle(out, record.offset, 8);
    putLittle(out, record.length, 8);
    putLittle(out, record.filter, 1);
    return out;
}
