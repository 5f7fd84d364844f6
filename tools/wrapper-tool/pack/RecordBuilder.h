#pragma once
#include <cstdint>
#include <string>

#include "ZipFormat.h"

// What the writer puts into every record it makes, beyond the format itself
// (zip/ZipFormat.h).
namespace zipwriter {

// Every entry gets the same time stamp, 1980-01-01 00:00 in MS-DOS form, so
// that the same input always gives the same bytes.
const uint16_t kFixedDosTime = 0;
const uint16_t kFixedDosDate = (1 << 5) | 1;

// Made on an MS-DOS host: version 2.0, or 4.5 once Zip64 records are used.
const uint16_t kVersion20 = 20;
const uint16_t kVersion45 = 45;

} // namespace zipwriter

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

    size_t size() const { return bytes_.size(); }
    const std::string& data() const { return bytes_; }
    void clear() { bytes_.clear(); }

private:
    std::string bytes_;
};
