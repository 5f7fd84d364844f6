#include "UnpackPlan.h"

// The texts for people, apart from the plan itself: the stub logs only its
// own lines and does not link these.

const char* refusalText(RefusalReason reason)
{
    switch (reason) {
    case RefusalReason::None:
        return "unpacked";
    case RefusalReason::UnsafeName:
        return "name would leave the work area";
    case RefusalReason::InvalidUtf8:
        return "name is marked UTF-8 (bit 11) but is not valid UTF-8";
    case RefusalReason::WindowsName:
        return "name Windows cannot hold (a device name such as CON or NUL.txt, a part ending in "
               "a dot or a space, a control character or one of <>:\"|?*)";
    case RefusalReason::TooLong:
        return "name of 1,024 UTF-16 characters or more, longer than the stub can unpack";
    case RefusalReason::NameCollision:
        return "the same name on Windows as an earlier entry, which does not tell letter case "
               "apart; one of them would be lost";
    case RefusalReason::Symlink:
        return "symbolic link";
    }
    return "refused";
}

const char* entryKindName(const PlannedEntry& entry)
{
    if (entry.reason == RefusalReason::Symlink)
        return "symlink";
    if (entry.refused())
        return "refused";
    return entry.isDirectory ? "directory" : "file";
}
