#include "sign/Der.h"

#include <cstring>

DerElement DerReader::next()
{
    DerElement element;
    if (end_ - next_ < 2)
        return element;
    const uint8_t* p = next_;
    const uint8_t tag = *p++;
    size_t length = *p++;
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || size_t(end_ - p) < bytes)
            return element; // indefinite or absurd
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = length << 8 | *p++;
    }
    if (size_t(end_ - p) < length)
        return element;
    element.tag = tag;
    element.contents = p;
    element.size = length;
    element.encoding = next_;
    element.encodingSize = size_t(p - next_) + length;
    next_ = p + length;
    return element;
}

DerElement DerReader::optional(uint8_t tag)
{
    const uint8_t* saved = next_;
    DerElement element = next();
    if (!element.is(tag)) {
        next_ = saved;
        return DerElement();
    }
    return element;
}

namespace der {

bool isOid(const DerElement& element, const uint8_t* oid, size_t size)
{
    return element.is(kOid) && element.size == size && std::memcmp(element.contents, oid, size) == 0;
}

namespace {

struct NamedAttribute {
    uint8_t oid[9];
    size_t size;
    const char* label;
};

const NamedAttribute kAttributes[] = {
    {{0x55, 0x04, 0x03}, 3, "CN"},  {{0x55, 0x04, 0x06}, 3, "C"},  {{0x55, 0x04, 0x07}, 3, "L"},
    {{0x55, 0x04, 0x08}, 3, "ST"},  {{0x55, 0x04, 0x0A}, 3, "O"},  {{0x55, 0x04, 0x0B}, 3, "OU"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, 9, "emailAddress"},
};

std::string attributeLabel(const DerElement& oid)
{
    for (const NamedAttribute& attribute : kAttributes)
        if (isOid(oid, attribute.oid, attribute.size))
            return attribute.label;
    std::string dotted;
    unsigned long value = 0;
    for (size_t i = 0; i < oid.size; ++i) {
        value = value << 7 | (oid.contents[i] & 0x7F);
        if (oid.contents[i] & 0x80)
            continue;
        if (dotted.empty())
            dotted = std::to_string(value < 80 ? value / 40 : 2) + "." + std::to_string(value < 80 ? value % 40 : value - 80);
        else
            dotted += "." + std::to_string(value);
        value = 0;
    }
    return dotted;
}

// Printable text of a directory string; bytes outside ASCII of a string
// type that is not UTF-8 are shown as '?'.
std::string stringText(const DerElement& value)
{
    std::string text;
    const bool utf8 = value.tag == kUtf8String;
    for (size_t i = 0; i < value.size; ++i) {
        const uint8_t c = value.contents[i];
        if (value.tag == 0x1E) { // BMPString, UTF-16BE
            if (i % 2 == 1)
                text += value.contents[i - 1] == 0 && c >= 0x20 && c < 0x7F ? char(c) : '?';
            continue;
        }
        text += (c >= 0x20 && c < 0x7F) || (utf8 && c >= 0x80) ? char(c) : '?';
    }
    return text;
}

} // namespace

std::string nameText(const DerElement& name)
{
    std::string text;
    DerReader sets(name);
    for (DerElement set = sets.next(); set.is(kSet); set = sets.next()) {
        DerReader pairs(set);
        for (DerElement pair = pairs.next(); pair.is(kSequence); pair = pairs.next()) {
            DerReader fields(pair);
            const DerElement oid = fields.next();
            const DerElement value = fields.next();
            if (oid.is(kOid) && value.valid())
                text += "/" + attributeLabel(oid) + "=" + stringText(value);
        }
    }
    return text;
}

std::string timeText(const DerElement& time)
{
    const size_t digits = time.is(kUtcTime) ? 12 : time.is(kGeneralizedTime) ? 14 : 0;
    if (digits == 0 || time.size < digits)
        return std::string();
    std::string t(reinterpret_cast<const char*>(time.contents), digits);
    for (char c : t)
        if (c < '0' || c > '9')
            return std::string();
    if (digits == 12) // RFC 5280: two-digit years 50..99 are 19xx
        t = (t[0] >= '5' ? "19" : "20") + t;
    return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(8, 2) + ":" +
           t.substr(10, 2) + ":" + t.substr(12, 2) + " UTC";
}

} // namespace der
