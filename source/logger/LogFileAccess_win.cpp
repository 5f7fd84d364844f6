#include "LogFileAccess_win.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "PlainFile_win.h"

namespace {

void fillGrant(EXPLICIT_ACCESS_W& entry, PSID sid)
{
    ZeroMemory(&entry, sizeof(entry));
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
}

} // namespace

bool SetLogFileAccess(const wchar_t* path)
{
    if (!path)
        return false;
    // Asking for the access list (and the attributes, for the check below)
    // only, not the data, lets this succeed while the log stream holds the
    // file open. A link is opened as itself and refused: its target's access
    // list is not ours to widen.
    UniqueHandle file(CreateFileW(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!file.valid() || !isPlainFile(file.get(), path))
        return false;

    // On failure the list stays null and the new one holds only our two grants.
    PACL currentDacl = nullptr;
    LocalPtr<PSECURITY_DESCRIPTOR> descriptor;
    GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                    &currentDacl, nullptr, descriptor.receive());

    LocalPtr<PSID> users;
    if (!ConvertStringSidToSidW(L"S-1-5-32-545", users.receive()))
        return false;
    LocalPtr<PSID> everyone;
    if (!ConvertStringSidToSidW(L"S-1-1-0", everyone.receive()))
        return false;

    EXPLICIT_ACCESS_W grants[2];
    fillGrant(grants[0], users.get());
    fillGrant(grants[1], everyone.get());

    LocalPtr<PACL> newDacl;
    if (SetEntriesInAclW(2, grants, currentDacl, newDacl.receive()) != ERROR_SUCCESS)
        return false;

    return SetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, newDacl.get(), nullptr) == ERROR_SUCCESS;
}
