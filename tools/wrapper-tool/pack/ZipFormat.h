#pragma once
#include <cstdint>
#include <string>

// Record signatures and limits of the ZIP format, as the writer needs them.
namespace zipformat {

const uint32_t kLocalHeaderSignature = 0x04034b50;
const uint32_t kCentralHeaderSignature = 0x02014b50;
const uint32_t kEndRecordSignature = 0x06054b50;
const uint32_t kZip64EndRecordSignature = 0x06064b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const uint16_t kZip64ExtraId = 0x0001;

const uint16_t kMethodStored = 0;
const uint16_t kMethodDeflated = 8;

const uint32_t kMax32 = 0xFFFFFFFFu;
const uint16_t kMax16 = 0xFFFFu;

// Every entry gets the same time stamp, 1980-01-01 00:00 in MS-DOS form, so
// that the same input always gives the same bytes.
const uint16_t kFixedDosTime = 0;
const uint16_t kFixedDosDate = (1 << 5) | 1;

// Made on an MS-DOS host: version 2.0, or 4.5 once Zip64 records are used.
const uint16_t kVersion20 = 20;
const uint16_t kVersion45 = 45;

// MS-DOS attributes: archive for files, directory for folders.
const uint32_t kDosArchiveAttribute = 0x20;
const uint32_t kDosDirectoryAttribute = 0x10;

} // namespace zipformat

// Little-endian record builder.
class RecordBuilder {
public:
    void u16(uint32_t value)
    {
        bytes_.push_back(char(value & 0xFF));
        bytes_.push_back(char((value >> 8) & 0xFF));
    }
    void u32(uint32_t value)
    {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    void u64(uint64_t value)
    {
        u32(uint32_t(value));
        u32(uint32_t(value >> 32));
    }
    void bytes(const std::string& text) { bytes_ += text; }

    const std::string& data() const { return bytes_; }
    void clear() { bytes_.clear(); }

private:
    std::string bytes_;
};
