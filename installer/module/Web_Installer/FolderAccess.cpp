#include "FolderAccess.h"

#include "BoundedString.h"
#include "EveryoneGrant.h"

static BOOL GrantToSid(const char* path, PSID everyone, const AclFunctions& functions)
{
    DWORD needed = 0;
    if (GetFileSecurityA(path, DACL_SECURITY_INFORMATION, NULL, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER || GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }

    PSECURITY_DESCRIPTOR oldDescriptor = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
    if (oldDescriptor == NULL)
        return FALSE;

    BOOL granted = FALSE;
    PACL newAcl = NULL;
    SECURITY_DESCRIPTOR newDescriptor;
    if (GetFileSecurityA(path, DACL_SECURITY_INFORMATION, oldDescriptor, needed, &needed) &&
        BuildEveryoneGrant(oldDescriptor, everyone, functions, &newDescriptor, &newAcl))
        granted = SetFileSecurityA(path, DACL_SECURITY_INFORMATION, &newDescriptor);

    if (newAcl != NULL)
        HeapFree(GetProcessHeap(), 0, newAcl);
    HeapFree(GetProcessHeap(), 0, oldDescriptor);
    return granted;
}

BOOL GrantEveryoneFullAccess(const char* path)
{
    char advapiPath[MAX_PATH] = {0};
    UINT length = GetSystemDirectoryA(advapiPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !BoundedAppend(advapiPath, MAX_PATH, "\\") ||
        !BoundedAppend(advapiPath, MAX_PATH, "advapi32.dll")) {
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }

    HMODULE advapi = LoadLibraryA(advapiPath);
    if (advapi == NULL)
        return FALSE;

    AclFunctions functions;
    functions.setControl =
        reinterpret_cast<SetSecurityDescriptorControlFn>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "SetSecurityDescriptorControl")));
    functions.addAccessAllowedAceEx =
        reinterpret_cast<AddAccessAllowedAceExFn>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "AddAccessAllowedAceEx")));

    BOOL granted = FALSE;
    if (functions.setControl != NULL && functions.addAccessAllowedAceEx != NULL) {
        SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = NULL;
        if (AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
            granted = GrantToSid(path, everyone, functions);
            FreeSid(everyone);
        }
    }
    FreeLibrary(advapi);
    return granted;
}
