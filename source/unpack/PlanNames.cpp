#include "UnpackPlan.h"
#include "Utf8.h"

// The names of a plan, for the tool's reports and its extract; the stub
// converts the stored bytes itself and does not link this.

namespace {

// Windows-1252's 0x80-0x9F; the five unassigned bytes map to themselves, as
// MultiByteToWideChar maps them.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The name read in the ANSI code page of Western systems, as UTF-8.
std::string decodeAnsi(const std::string& stored)
{
    std::string out;
    out.reserve(stored.size());
    for (unsigned char c : stored) {
        if (c >= 0x80 && c < 0xA0)
            appendUtf8(out, kCp1252High[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

std::string portablePath(const std::string& decoded)
{
    std::string path = decoded;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

UnpackPlan planUnpackNamed(const std::vector<ZipEntryInfo>& entries)
{
    UnpackPlan plan = planUnpack(entries);
    for (size_t i = 0; i < entries.size(); ++i) {
        PlannedEntry& planned = plan.entries[i];
        const std::string& stored = entries[i].fileName;
        // A name that is not the UTF-8 it claims is shown as code-page text.
        const bool utf8 = planned.encoding == NameEncoding::Utf8 &&
                          planned.reason != RefusalReason::InvalidUtf8;
        planned.name = utf8 ? stored : decodeAnsi(stored);
        planned.path = portablePath(planned.name);
    }
    return plan;
}
