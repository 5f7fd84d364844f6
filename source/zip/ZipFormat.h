#pragma once
#include <cstdint>

// The ZIP records as stored: signatures, fixed sizes and field offsets (from
// each record's first byte, all little-endian), written down once for the
// reader's parsers and the tool's writer.
namespace zipformat {

// End of central directory record; a comment of `kEndCommentLengthAt` bytes follows.
const uint32_t kEndRecordSignature = 0x06054b50;
const uint32_t kEndRecordSize = 22;
const uint32_t kEndDiskAt = 4;
const uint32_t kEndDirectoryDiskAt = 6;
const uint32_t kEndEntriesOnDiskAt = 8;
const uint32_t kEndTotalEntriesAt = 10;
const uint32_t kEndDirectorySizeAt = 12;
const uint32_t kEndDirectoryOffsetAt = 16;
const uint32_t kEndCommentLengthAt = 20;

// Zip64 end of central directory locator.
const uint32_t kZip64LocatorSignature = 0x07064b50;
const uint32_t kZip64LocatorSize = 20;

// Zip64 end of central directory record; its size field counts from
// `kZip64EndSizedFrom`, so a record without extensible data says 44.
const uint32_t kZip64EndSignature = 0x06064b50;
const uint32_t kZip64EndSize = 56;
const uint32_t kZip64EndSizedFrom = 12;
const uint32_t kZip64EndRecordSizeAt = 4;
const uint32_t kZip64EndMadeByAt = 12;
const uint32_t kZip64EndNeededAt = 14;
const uint32_t kZip64EndDiskAt = 16;
const uint32_t kZip64EndDirectoryDiskAt = 20;
const uint32_t kZip64EndEntriesOnDiskAt = 24;
const uint32_t kZip64EndTotalEntriesAt = 32;
const uint32_t kZip64EndDirectorySizeAt = 40;
const uint32_t kZip64EndDirectoryOffsetAt = 48;

// Central directory file header; name, extra field and comment follow.
const uint32_t kCentralHeaderSignature = 0x02014b50;
const uint32_t kCentralHeaderSize = 46;
const uint32_t kCentralMadeByAt = 4;
const uint32_t kCentralNeededAt = 6;
const uint32_t kCentralFlagsAt = 8;
const uint32_t kCentralMethodAt = 10;
const uint32_t kCentralTimeAt = 12;
const uint32_t kCentralDateAt = 14;
const uint32_t kCentralCrcAt = 16;
const uint32_t kCentralCompressedAt = 20;
const uint32_t kCentralUncompressedAt = 24;
const uint32_t kCentralNameLengthAt = 28;
const uint32_t kCentralExtraLengthAt = 30;
const uint32_t kCentralCommentLengthAt = 32;
const uint32_t kCentralDiskStartAt = 34;
const uint32_t kCentralInternalAttributesAt = 36;
const uint32_t kCentralExternalAttributesAt = 38;
const uint32_t kCentralLocalOffsetAt = 42;

// Local file header; name and extra field follow, then the data.
const uint32_t kLocalHeaderSignature = 0x04034b50;
const uint32_t kLocalHeaderSize = 30;
const uint32_t kLocalNeededAt = 4;
const uint32_t kLocalFlagsAt = 6;
const uint32_t kLocalMethodAt = 8;
const uint32_t kLocalTimeAt = 10;
const uint32_t kLocalDateAt = 12;
const uint32_t kLocalCrcAt = 14;
const uint32_t kLocalCompressedAt = 18;
const uint32_t kLocalUncompressedAt = 22;
const uint32_t kLocalNameLengthAt = 26;
const uint32_t kLocalExtraLengthAt = 28;

// Data descriptor (general purpose flag bit 3); its signature is optional.
const uint32_t kDataDescriptorSignature = 0x08074b50;

// Extra field blocks: a 2-byte ID and a 2-byte data size, then the data.
const uint32_t kExtraBlockHeaderSize = 4;
const uint16_t kZip64ExtraId = 0x0001;

// Our own block in the central directory record of an entry deflated in
// independent chunks (an ID no registry assigns): the chunk size (u32, every
// chunk's uncompressed size but the last's), then for each chunk its
// compressed offset from the entry's first data byte (u64) and its CRC-32
// (u32). Layout and checks: docs/chunk-index.md.
const uint16_t kChunkIndexExtraId = 0x4943;
const uint32_t kChunkIndexFixedSize = 4;
const uint32_t kChunkIndexRecordSize = 12;

// Our own block in the central directory record of a file packed into a
// solid block (docs/solid-blocks.md): the block's number (u32), its prefix
// block's number (u32, kNoSolidPrefix for none), the block's decoded size
// (u64), where the file's bytes start in it (u64) and how many they are
// (u64), and the filter they went through (u8).
const uint16_t kSolidMemberExtraId = 0x4253;
const uint32_t kSolidMemberSize = 33;
const uint32_t kNoSolidPrefix = 0xFFFFFFFFu;

// A field that holds its sentinel has its real value in the Zip64 records.
const uint32_t kSentinel32 = 0xFFFFFFFFu;
const uint16_t kSentinel16 = 0xFFFFu;

const uint16_t kMethodStored = 0;
const uint16_t kMethodDeflated = 8;
// A file whose bytes lie in a solid block: the block's zstd frame is the data
// of its first file; the others have none of their own. Not a registered
// method, since the data is no stream of the file alone.
const uint16_t kMethodSolid = 0x5A53;

// General purpose flag bit 3: the sizes (and CRC) follow the data in a
// descriptor, and the local header's copies are zero.
const uint16_t kFlagDataDescriptor = 0x0008;
// General purpose flag bit 11: the name (and comment) are UTF-8.
const uint16_t kFlagUtf8Name = 0x0800;

// MS-DOS attributes in the low byte of the external attributes.
const uint32_t kDosDirectoryAttribute = 0x10;
const uint32_t kDosArchiveAttribute = 0x20;

} // namespace zipformat
