#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// One DER element: tag, contents, and the whole encoding (header included).
// Authenticode is DER, so definite lengths and one-byte tags suffice; an
// element that runs past its container is not an element.
struct DerElement {
    uint8_t tag = 0;
    const uint8_t* contents = nullptr;
    size_t size = 0;
    const uint8_t* encoding = nullptr;
    size_t encodingSize = 0;

    bool valid() const { return encoding != nullptr; }
    bool is(uint8_t expected) const { return valid() && tag == expected; }
};

// Walks the elements inside one DER container, in order.
class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}
    explicit DerReader(const DerElement& container) : DerReader(container.contents, container.size) {}

    bool atEnd() const { return next_ >= end_; }
    // The next element, or an invalid one at the end or on malformed input.
    DerElement next();
    // The next element if it has `tag`, else an invalid one, consuming nothing.
    DerElement optional(uint8_t tag);

private:
    const uint8_t* next_;
    const uint8_t* end_;
};

namespace der {
constexpr uint8_t kInteger = 0x02, kOctetString = 0x04, kOid = 0x06, kUtf8String = 0x0C, kSequence = 0x30,
                  kSet = 0x31, kUtcTime = 0x17, kGeneralizedTime = 0x18, kContext0 = 0xA0, kContext1 = 0xA1;

// Whether `element` is an OID with these contents bytes.
bool isOid(const DerElement& element, const uint8_t* oid, size_t size);

// An X.501 name the way OpenSSL prints it one-line: "/CN=...\/O=...".
std::string nameText(const DerElement& name);

// A UTCTime or GeneralizedTime as "YYYY-MM-DD HH:MM:SS UTC", empty if neither.
std::string timeText(const DerElement& time);
} // namespace der
