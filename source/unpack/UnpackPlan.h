#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZipEntryInfo.h"
#include "ZipSolidLayout.h"

// What the stub does with each entry of its payload, decided in one place for
// the stub's unpack driver, `wrapper-tool extract` (which carries it out) and
// `verify` and `list` (which report it).
//
// The stub walks the entries in central-directory order and stops at the
// first failure. For one entry the steps are, in this order:
//   1. a name the plan refuses (unsafe, a name Windows cannot hold, invalid
//      UTF-8 under bit 11, too long for createDirectories, or colliding with
//      an earlier entry) fails with "Unable to decompress file.  i = ",
//      before any folder is made;
//   2. its folders are made: createDirectories(name, includeLast = folder);
//   3. a symbolic link fails with "Unable to create symlink.  i = " (the
//      folders made in step 2 stay);
//   4. a folder is done;
//   5. a staged update logs "Found staged update: ";
//   6. the file is written (a failure logs "Unable to decompress file.  i = ").

// Why an entry is refused. Each reason has a text (refusalText) that can be
// logged and printed.
enum class RefusalReason {
    None,
    UnsafeName,    // empty, absolute, with ':' or a NUL byte, or a ".." component
    InvalidUtf8,   // general-purpose flag bit 11 set, but the name is not UTF-8 (checked first)
    WindowsName,   // a device name (CON, NUL.txt, ...), a component ending in
                   // '.' or ' ', a control character or one of <>"|?*
    TooLong,       // kMaxNameLength UTF-16 units or more: createDirectories refuses it
    NameCollision, // lands on a file or folder an earlier entry made (letter case)
    Symlink,       // a symbolic link: refused after its folders are made
    BadSolidBlock, // its solid block's records do not agree (the block's
                   // first file is where the unpack stops)
};

// What the stub does with the entry.
enum class EntryAction {
    MakeFolder, // createDirectories(name, true), nothing written
    WriteFile,  // createDirectories(name, false), then the file is written
    Refuse,     // the unpack ends here (see refusedBeforeFolders)
};

// How the stored name's bytes are read.
enum class NameEncoding {
    Utf8,        // bit 11 set: UTF-8 (the stub converts with CP_UTF8)
    AnsiCodePage // bit 11 clear: the stub reads the bytes in the ANSI code
                 // page (CP_ACP); the plan shows them as Windows-1252
};

// createDirectories' buffer holds 1,024 wide characters with the terminator:
// a name of this many UTF-16 units or more cannot be unpacked.
const size_t kMaxNameLength = 1024;

struct PlannedEntry {
    EntryAction action = EntryAction::Refuse;
    RefusalReason reason = RefusalReason::None;
    NameEncoding encoding = NameEncoding::AnsiCodePage;
    // A folder: the name ends in '/' or '\', or the attributes say so.
    bool isDirectory = false;
    // createDirectories is called for it before the action (for a folder and
    // a file, and for a symbolic link before it is refused).
    bool makesFolders = false;
    // The staged update archive: logged before the file is written.
    bool stagedUpdate = false;
    // For NameCollision: the earlier entry this one lands on.
    size_t collidesWith = 0;
    // The solid block holding the file (plan.solid.blocks), or -1: its bytes
    // come from the decoded block, not from its own data.
    int32_t solidBlock = -1;
    // Filled by planUnpackNamed only: the decoded name as UTF-8, separators
    // as stored (a name that is not the UTF-8 it claims, as code-page text).
    std::string name;
    // Filled by planUnpackNamed only: the decoded name with '/' for every
    // separator and without a trailing one, where the entry lands.
    std::string path;
    // The decoded name's length in UTF-16 units (what createDirectories gets).
    size_t wideLength = 0;

    bool refused() const { return action == EntryAction::Refuse; }
    // True for every refusal but a symbolic link's.
    bool refusedBeforeFolders() const { return refused() && reason != RefusalReason::Symlink; }
};

struct UnpackPlan {
    std::vector<PlannedEntry> entries;
    // The first entry the stub fails at, or entries.size() when none fails.
    size_t firstFailure = 0;
    // The solid blocks, checked (their reason when refused is solid.reason).
    SolidLayout solid;

    bool succeeds() const { return firstFailure == entries.size(); }
};

// The plan for an archive's directory (ZipReader::entries()): every
// decision, names left empty. What the stub calls.
UnpackPlan planUnpack(const std::vector<ZipEntryInfo>& entries);
// The same plan with each entry's decoded name and path: what wrapper-tool
// reports and extracts by. The decisions are planUnpack's.
UnpackPlan planUnpackNamed(const std::vector<ZipEntryInfo>& entries);

// The checks of a single name, without the collision with other entries:
// the first reason that refuses it, or None. `utf8` is bit 11.
RefusalReason nameRefusal(const std::string& stored, bool utf8);

// Short texts for printing and logging, e.g. "name would leave the work area".
const char* refusalText(RefusalReason reason);
// A stable identifier of the reason, for JSON: "unsafe_name", "symlink", ...
const char* refusalCode(RefusalReason reason);
// The stub's log line for a refusal: "Unable to create symlink.  i = " for
// a symbolic link, "Unable to decompress file.  i = " for any other.
const char* stubFailureText(RefusalReason reason);
// Kind names as `list` shows them: "file", "directory", "symlink", "refused".
const char* entryKindName(const PlannedEntry& entry);
