#include "UnpackPlan.h"

#include "CaseFold.h"
#include "EntryName.h"
#include "NameCollision.h"
#include "Utf8.h"
#include "ZipFormat.h"

namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// `wideLength` receives the length in UTF-16 units. False when not UTF-8.
bool measureUtf8(const std::string& text, size_t& wideLength)
{
    wideLength = 0;
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        if (!nextUtf8(text, at, code))
            return false;
        wideLength += code >= 0x10000 ? 2 : 1;
    }
    return true;
}

bool hasNonAscii(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsFolded(const std::string& text, size_t start, size_t length, const char* word)
{
    size_t i = 0;
    for (; i < length && word[i] != '\0'; ++i)
        if (lower(text[start + i]) != word[i])
            return false;
    return i == length && word[i] == '\0';
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension
// (spaces before it are dropped by Windows, too).
bool isDeviceName(const std::string& name, size_t start, size_t length)
{
    size_t base = 0;
    while (base < length && name[start + base] != '.')
        ++base;
    while (base > 0 && name[start + base - 1] == ' ')
        --base;
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* device : kDevices)
        if (equalsFolded(name, start, base, device))
            return true;
    if (base == 4 && name[start + 3] >= '1' && name[start + 3] <= '9')
        return equalsFolded(name, start, 3, "com") || equalsFolded(name, start, 3, "lpt");
    return false;
}

// A name that Windows cannot hold as a file or folder name.
bool isWindowsForbidden(const std::string& name)
{
    for (unsigned char c : name) {
        if (c < 0x20)
            return true;
        switch (c) {
        case '<': case '>': case ':': case '"': case '|': case '?': case '*':
            return true;
        default:
            break;
        }
    }
    size_t start = 0;
    while (start < name.size()) {
        size_t end = start;
        while (end < name.size() && !isSeparator(name[end]))
            ++end;
        const size_t length = end - start;
        // Empty components (a trailing separator) and "." name nothing.
        const bool dot = length == 1 && name[start] == '.';
        if (length > 0 && !dot) {
            const char last = name[end - 1];
            if (last == '.' || last == ' ')
                return true;
            if (isDeviceName(name, start, length))
                return true;
        }
        start = end + 1;
    }
    return false;
}

// The checks of one name, and its length in UTF-16 units. Every character
// checked is ASCII, which reads the same in UTF-8 and in the code page, so
// the stored bytes are checked as they are.
RefusalReason checkName(const std::string& stored, bool utf8, size_t& wideLength)
{
    wideLength = stored.size();
    if (utf8 && !measureUtf8(stored, wideLength))
        return RefusalReason::InvalidUtf8;
    if (!isSafeEntryName(stored))
        return RefusalReason::UnsafeName;
    if (isWindowsForbidden(stored))
        return RefusalReason::WindowsName;
    if (wideLength >= kMaxNameLength)
        return RefusalReason::TooLong;
    return RefusalReason::None;
}

} // namespace

RefusalReason nameRefusal(const std::string& stored, bool utf8)
{
    size_t wideLength = 0;
    return checkName(stored, utf8, wideLength);
}

UnpackPlan planUnpack(const std::vector<ZipEntryInfo>& entries)
{
    UnpackPlan plan;
    plan.entries.resize(entries.size());
    std::vector<NamedEntry> named;
    named.reserve(entries.size());
    // Names beyond ASCII are compared with their letters folded, as Windows
    // compares them; the copies must not move while `named` points at them.
    std::vector<std::string> folded(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipEntryInfo& entry = entries[i];
        PlannedEntry& planned = plan.entries[i];
        const bool utf8 = (entry.flags & zipformat::kFlagUtf8Name) != 0;
        planned.encoding = utf8 ? NameEncoding::Utf8 : NameEncoding::AnsiCodePage;
        planned.reason = checkName(entry.fileName, utf8, planned.wideLength);
        planned.isDirectory = entry.isDirectory() ||
                              (!entry.fileName.empty() && entry.fileName.back() == '\\');
        const bool foldBeyondAscii = utf8 && planned.reason == RefusalReason::None &&
                                     hasNonAscii(entry.fileName);
        if (foldBeyondAscii)
            folded[i] = foldNameCase(entry.fileName);
        named.push_back(NamedEntry{foldBeyondAscii ? &folded[i] : &entry.fileName, planned.isDirectory});
    }

    NameCollision collision;
    if (findNameCollision(named, collision)) {
        PlannedEntry& planned = plan.entries[collision.second];
        if (planned.reason == RefusalReason::None) {
            planned.reason = RefusalReason::NameCollision;
            planned.collidesWith = collision.first;
        }
    }

    plan.solid = readSolidLayout(entries);
    if (plan.solid.status == SolidLayout::Status::Invalid &&
        plan.entries[plan.solid.badEntry].reason == RefusalReason::None)
        plan.entries[plan.solid.badEntry].reason = RefusalReason::BadSolidBlock;

    plan.firstFailure = entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        PlannedEntry& planned = plan.entries[i];
        if (plan.solid.any() && i < plan.solid.blockOfEntry.size())
            planned.solidBlock = plan.solid.blockOfEntry[i];
        if (planned.reason == RefusalReason::None && entries[i].isSymlink())
            planned.reason = RefusalReason::Symlink;
        if (planned.reason != RefusalReason::None)
            planned.action = EntryAction::Refuse;
        else if (planned.isDirectory)
            planned.action = EntryAction::MakeFolder;
        else
            planned.action = EntryAction::WriteFile;
        planned.makesFolders = !planned.refusedBeforeFolders();
        planned.stagedUpdate =
            planned.action == EntryAction::WriteFile && isStagedUpdateName(entries[i].fileName);
        if (planned.refused() && plan.firstFailure == entries.size())
            plan.firstFailure = i;
    }
    return plan;
}

const char* stubFailureText(RefusalReason reason)
{
    return reason == RefusalReason::Symlink ? "Unable to create symlink.  i = "
                                            : "Unable to decompress file.  i = ";
}
