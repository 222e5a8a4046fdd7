#include "FolderAccess.h"

#include "BoundedString.h"
#include "EveryoneGrant.h"

// The descriptor of the object `handle` is open on (with READ_CONTROL),
// holding its DACL only, in a heap block the caller frees.
static PSECURITY_DESCRIPTOR ReadDacl(HANDLE handle)
{
    DWORD needed = 0;
    if (GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, NULL, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER || GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return NULL;
    }
    PSECURITY_DESCRIPTOR descriptor = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
    if (descriptor != NULL && !GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, descriptor, needed, &needed)) {
        HeapFree(GetProcessHeap(), 0, descriptor);
        return NULL;
    }
    return descriptor;
}

static void FreeBlock(void* block)
{
    if (block != NULL)
        HeapFree(GetProcessHeap(), 0, block);
}

// Stores `acl` through `handle` as the inherited DACL it is. An object its
// folder hands nothing down to keeps the DACL it has.
static BOOL StoreInheritedDacl(HANDLE handle, PACL acl, const AclFunctions& functions)
{
    if (acl->AceCount == 0)
        return TRUE;
    SECURITY_DESCRIPTOR descriptor;
    return InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
           functions.setControl(&descriptor, SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERITED) &&
           SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, &descriptor);
}

// Hands the work folder's new DACL `workAcl` down the tree, parents first:
// each folder's own DACL is what its files and folders inherit from, and
// what a folder's files inherit is built once per folder.
static BOOL GrantTree(PACL workAcl, const CExpandedTree& tree, const AclFunctions& functions)
{
    const LONG count = tree.Count();
    // Slot 0 is the work folder; entry i is slot i + 1.
    SIZE_T bytes = static_cast<SIZE_T>(count + 1) * sizeof(PACL);
    PACL* folderAcls = static_cast<PACL*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    PACL* fileAcls = static_cast<PACL*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    BOOL granted = folderAcls != NULL && fileAcls != NULL;
    if (granted)
        folderAcls[0] = workAcl;
    for (LONG i = 0; granted && i < count; ++i) {
        const CExpandedTree::Entry& entry = tree.At(i);
        const LONG parent = entry.parent + 1;
        PACL* acl = entry.folder ? &folderAcls[i + 1] : &fileAcls[parent];
        if (*acl == NULL)
            granted = BuildInheritedDacl(folderAcls[parent], entry.folder, acl);
        granted = granted && StoreInheritedDacl(entry.handle, *acl, functions);
    }
    DWORD error = GetLastError();
    for (LONG i = 0; i <= count; ++i) {
        if (folderAcls != NULL && i > 0)
            FreeBlock(folderAcls[i]);
        if (fileAcls != NULL)
            FreeBlock(fileAcls[i]);
    }
    FreeBlock(folderAcls);
    FreeBlock(fileAcls);
    SetLastError(error);
    return granted;
}

static BOOL GrantToSid(const CHeldFolder& workFolder, const CExpandedTree& tree, PSID everyone,
                       const AclFunctions& functions)
{
    PSECURITY_DESCRIPTOR oldDescriptor = ReadDacl(workFolder.Handle());
    if (oldDescriptor == NULL)
        return FALSE;
    PACL newAcl = NULL;
    SECURITY_DESCRIPTOR newDescriptor;
    BOOL granted = BuildEveryoneGrant(oldDescriptor, everyone, functions, &newDescriptor, &newAcl) &&
                   SetKernelObjectSecurity(workFolder.Handle(), DACL_SECURITY_INFORMATION, &newDescriptor) &&
                   GrantTree(newAcl, tree, functions);
    DWORD error = GetLastError();
    FreeBlock(newAcl);
    HeapFree(GetProcessHeap(), 0, oldDescriptor);
    SetLastError(error);
    return granted;
}

BOOL GrantEveryoneFullAccess(const CHeldFolder& workFolder, const CExpandedTree& tree)
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
            granted = GrantToSid(workFolder, tree, everyone, functions);
            FreeSid(everyone);
        }
    }
    DWORD error = GetLastError();
    FreeLibrary(advapi);
    SetLastError(error);
    return granted;
}

BOOL GrantEveryoneFullAccess(const char* path)
{
    CHeldFolder folder;
    CExpandedTree nothing;
    return folder.OpenReal(path, NULL, WRITE_DAC) && GrantEveryoneFullAccess(folder, nothing);
}
