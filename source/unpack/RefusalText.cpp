#include "UnpackPlan.h"

// The texts for people, apart from the plan itself: the stub logs only its
// own lines and does not link these.

namespace {

struct RefusalWords {
    RefusalReason reason;
    const char* code; // stable, for JSON
    const char* text; // for people
};

const RefusalWords kWords[] = {
    {RefusalReason::None, "none", "unpacked"},
    {RefusalReason::UnsafeName, "unsafe_name", "name would leave the work area"},
    {RefusalReason::InvalidUtf8, "invalid_utf8", "name is marked UTF-8 (bit 11) but is not valid UTF-8"},
    {RefusalReason::WindowsName, "windows_name",
     "name Windows cannot hold (a device name such as CON or NUL.txt, a part ending in "
     "a dot or a space, a control character or one of <>:\"|?*)"},
    {RefusalReason::TooLong, "too_long",
     "name of 1,024 UTF-16 characters or more, longer than the stub can unpack"},
    {RefusalReason::NameCollision, "name_collision",
     "the same name on Windows as an earlier entry, which does not tell letter case "
     "apart; one of them would be lost"},
    {RefusalReason::Symlink, "symlink", "symbolic link"},
    {RefusalReason::BadSolidBlock, "bad_solid_block", "its solid block's records do not agree"},
};

const RefusalWords* wordsFor(RefusalReason reason)
{
    for (const RefusalWords& words : kWords)
        if (words.reason == reason)
            return &words;
    return nullptr;
}

} // namespace

const char* refusalText(RefusalReason reason)
{
    const RefusalWords* words = wordsFor(reason);
    return words ? words->text : "refused";
}

const char* refusalCode(RefusalReason reason)
{
    const RefusalWords* words = wordsFor(reason);
    return words ? words->code : "refused";
}

const char* entryKindName(const PlannedEntry& entry)
{
    if (entry.reason == RefusalReason::Symlink)
        return "symlink";
    if (entry.refused())
        return "refused";
    return entry.isDirectory ? "directory" : "file";
}
