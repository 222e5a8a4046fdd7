#include "EveryoneGrant.h"

#include <string.h>
#include <wchar.h>

#include <type_traits>

#include "BoundedString.h"
#include "TestSeam.h"

static_assert(std::is_same<SetSecurityDescriptorControlFn, decltype(&SetSecurityDescriptorControl)>::value,
              "SetSecurityDescriptorControlFn must match the SDK declaration");
static_assert(std::is_same<AddAccessAllowedAceExFn, decltype(&AddAccessAllowedAceEx)>::value,
              "AddAccessAllowedAceExFn must match the SDK declaration");

// Where a simple allowed or denied entry keeps its SID: after the header and
// the access mask.
static const DWORD kAceSidOffset = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);

static BOOL IsAceForSid(const ACE_HEADER* ace, PSID sid)
{
    if (ace->AceSize < kAceSidOffset + GetLengthSid(sid))
        return FALSE;
    return EqualSid(reinterpret_cast<PSID>(reinterpret_cast<BYTE*>(const_cast<ACE_HEADER*>(ace)) + kAceSidOffset),
                    sid);
}

BOOL BuildEveryoneGrant(PSECURITY_DESCRIPTOR oldDescriptor, PSID everyone, ACCESS_MASK access,
                        const AclFunctions& functions, SECURITY_DESCRIPTOR* newDescriptor, PACL* newAcl)
{
    *newAcl = NULL;
    if (!InitializeSecurityDescriptor(newDescriptor, SECURITY_DESCRIPTOR_REVISION))
        return FALSE;

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL oldAcl = NULL;
    if (!GetSecurityDescriptorDacl(oldDescriptor, &present, &oldAcl, &defaulted))
        return FALSE;
    if (!present)
        oldAcl = NULL;

    ACL_SIZE_INFORMATION sizeInfo = {0, sizeof(ACL), 0};
    if (oldAcl != NULL && !GetAclInformation(oldAcl, &sizeInfo, sizeof(sizeInfo), AclSizeInformation))
        return FALSE;

    DWORD size = sizeInfo.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(everyone);
    PACL acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (acl == NULL)
        return FALSE;
    *newAcl = acl;
    if (!InitializeAcl(acl, size, ACL_REVISION))
        return FALSE;

    DWORD index = 0;
    for (; index < sizeInfo.AceCount; ++index) {
        ACE_HEADER* ace = NULL;
        if (!GetAce(oldAcl, index, reinterpret_cast<void**>(&ace)))
            return FALSE;
        if (ace->AceFlags & INHERITED_ACE)
            break;
        if (IsAceForSid(ace, everyone))
            continue;
        if (!AddAce(acl, ACL_REVISION, MAXDWORD, ace, ace->AceSize))
            return FALSE;
    }

    if (!functions.addAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE, access,
                                         everyone))
        return FALSE;

    for (; index < sizeInfo.AceCount; ++index) {
        ACE_HEADER* ace = NULL;
        if (!GetAce(oldAcl, index, reinterpret_cast<void**>(&ace)))
            return FALSE;
        if (!AddAce(acl, ACL_REVISION, MAXDWORD, ace, ace->AceSize))
            return FALSE;
    }

    if (!SetSecurityDescriptorDacl(newDescriptor, TRUE, acl, FALSE))
        return FALSE;

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(oldDescriptor, &control, &revision))
        return FALSE;
    if (control & SE_DACL_AUTO_INHERITED) {
        const SECURITY_DESCRIPTOR_CONTROL bits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
        return functions.setControl(newDescriptor, bits, bits);
    }
    if (control & SE_DACL_PROTECTED)
        return functions.setControl(newDescriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    return TRUE;
}

static BOOL AddInherited(PACL acl, BYTE revision, const ACE_HEADER* ace, BYTE flags, ACCESS_MASK mask)
{
    BYTE copy[MAXWORD];
    memcpy(copy, ace, ace->AceSize);
    reinterpret_cast<ACE_HEADER*>(copy)->AceFlags = static_cast<BYTE>(flags | INHERITED_ACE);
    memcpy(copy + sizeof(ACE_HEADER), &mask, sizeof(mask));
    return AddAce(acl, revision, MAXDWORD, copy, ace->AceSize);
}

BOOL BuildInheritedDacl(PACL parent, BOOL folder, PACL* child)
{
    *child = NULL;
    ACL_SIZE_INFORMATION sizeInfo = {0, sizeof(ACL), 0};
    if (parent != NULL && !GetAclInformation(parent, &sizeInfo, sizeof(sizeInfo), AclSizeInformation))
        return FALSE;
    // Each entry yields at most two.
    DWORD size = 2 * sizeInfo.AclBytesInUse;
    if (size > MAXWORD) {
        SetLastError(ERROR_INVALID_ACL);
        return FALSE;
    }
    BYTE revision = parent != NULL ? parent->AclRevision : ACL_REVISION;
    PACL acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (acl == NULL)
        return FALSE;
    *child = acl;
    if (!InitializeAcl(acl, size, revision))
        return FALSE;

    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (DWORD index = 0; index < sizeInfo.AceCount; ++index) {
        ACE_HEADER* ace = NULL;
        if (!GetAce(parent, index, reinterpret_cast<void**>(&ace)))
            return FALSE;
        if (ace->AceSize < sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
            SetLastError(ERROR_INVALID_ACL);
            return FALSE;
        }
        BYTE flags = ace->AceFlags;
        ACCESS_MASK mask = 0;
        memcpy(&mask, reinterpret_cast<BYTE*>(ace) + sizeof(ACE_HEADER), sizeof(mask));
        ACCESS_MASK mapped = mask;
        MapGenericMask(&mapped, &mapping);
        mapped &= ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
        const BOOL passesOn = !(flags & NO_PROPAGATE_INHERIT_ACE);
        const BYTE inheritable = flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        BOOL added = TRUE;
        if (!folder) {
            if (flags & OBJECT_INHERIT_ACE)
                added = AddInherited(acl, revision, ace, 0, mapped);
        } else if (flags & CONTAINER_INHERIT_ACE) {
            if (!passesOn)
                added = AddInherited(acl, revision, ace, 0, mapped);
            else if (mapped != mask)
                added = AddInherited(acl, revision, ace, 0, mapped) &&
                        AddInherited(acl, revision, ace, inheritable | INHERIT_ONLY_ACE, mask);
            else
                added = AddInherited(acl, revision, ace, inheritable, mask);
        } else if ((flags & OBJECT_INHERIT_ACE) && passesOn) {
            added = AddInherited(acl, revision, ace, inheritable | INHERIT_ONLY_ACE, mask);
        }
        if (!added)
            return FALSE;
    }
    return TRUE;
}

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
    if (descriptor != NULL &&
        !GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, descriptor, needed, &needed)) {
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

BOOL BuildInheritedDescriptor(PACL acl, const AclFunctions& functions, SECURITY_DESCRIPTOR* descriptor)
{
    return InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
           functions.setControl(descriptor, SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERITED);
}

BOOL TakeLabelAway(SECURITY_DESCRIPTOR* descriptor, ACL* noLabel)
{
    return InitializeAcl(noLabel, sizeof(*noLabel), ACL_REVISION) &&
           SetSecurityDescriptorSacl(descriptor, TRUE, noLabel, FALSE);
}

// One pass over the work folder and its tree. The pass after the installer
// also takes the labels away, and reaches only what is still in the work
// folder and nowhere else: a file the installer moved or linked into its own
// place keeps the protection it has there.
struct GrantPass {
    ACCESS_MASK access;
    BOOL afterInstaller;
    const AclFunctions& functions;
    // The work folder's path within its volume, for the pass after the
    // installer.
    const WCHAR* workPath;
};

static BOOL Store(HANDLE handle, SECURITY_DESCRIPTOR* descriptor, const GrantPass& pass)
{
    ACL noLabel;
    if (!pass.afterInstaller)
        return SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, descriptor);
    return TakeLabelAway(descriptor, &noLabel) &&
           SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, descriptor);
}

// The path of the object `handle` is open on within its volume. A rename or a
// hard link never leaves the volume, so this is where the object is, without
// the volume's name, which costs more to look up.
static BOOL VolumePath(HANDLE handle, CFinalPath* path)
{
    const DWORD capacity = static_cast<DWORD>(path->GetCapacity());
    DWORD length = TestSeamFinalPath(handle, path->Buffer(), capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
    if (length > 0 && length < capacity)
        return TRUE;
    path->Clear();
    return FALSE;
}

// TRUE when the object `handle` is open on lies below the folder whose path
// within the volume is `folderPath`, and, for a file, has no other name,
// which could lie anywhere on the volume.
static BOOL IsStillBelow(HANDLE handle, BOOL folder, const WCHAR* folderPath)
{
    CFinalPath path;
    FILE_STANDARD_INFO standard;
    if ((!folder && (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard)) ||
                     standard.NumberOfLinks != 1)) ||
        !VolumePath(handle, &path))
        return FALSE;
    const size_t length = wcslen(folderPath);
    if (wcslen(path) <= length + 1 || path.Get()[length] != L'\\')
        return FALSE;
    path.Buffer()[length] = L'\0';
    return IsSameFinalPath(path, folderPath);
}

// Stores `acl` through `handle` as the inherited DACL it is. An object its
// folder hands nothing down to keeps the DACL it has, as does, after the
// installer, one that is no longer in the work folder.
static BOOL StoreInheritedDacl(const CExpandedTree::Entry& entry, PACL acl, const GrantPass& pass)
{
    SECURITY_DESCRIPTOR descriptor;
    if (acl->AceCount == 0 || (pass.afterInstaller && !IsStillBelow(entry.handle, entry.folder, pass.workPath)))
        return TRUE;
    return BuildInheritedDescriptor(acl, pass.functions, &descriptor) && Store(entry.handle, &descriptor, pass);
}

// Hands the work folder's new DACL `workAcl` down the tree, parents first:
// each folder's own DACL is what its files and folders inherit from, and
// what a folder's files inherit is built once per folder. An object whose
// descriptor cannot be stored does not stop the others.
static BOOL GrantTree(PACL workAcl, const CExpandedTree& tree, const GrantPass& pass)
{
    const LONG count = tree.Count();
    // Slot 0 is the work folder; entry i is slot i + 1.
    SIZE_T bytes = static_cast<SIZE_T>(count + 1) * sizeof(PACL);
    PACL* folderAcls = static_cast<PACL*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    PACL* fileAcls = static_cast<PACL*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    BOOL granted = folderAcls != NULL && fileAcls != NULL;
    DWORD error = granted ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    if (granted)
        folderAcls[0] = workAcl;
    for (LONG i = 0; folderAcls != NULL && fileAcls != NULL && i < count; ++i) {
        const CExpandedTree::Entry& entry = tree.At(i);
        const LONG parent = entry.parent + 1;
        PACL* acl = entry.folder ? &folderAcls[i + 1] : &fileAcls[parent];
        BOOL stored = *acl != NULL || BuildInheritedDacl(folderAcls[parent], entry.folder, acl);
        if (!stored) {
            FreeBlock(*acl);
            *acl = NULL;
        }
        stored = stored && StoreInheritedDacl(entry, *acl, pass);
        if (!stored && granted) {
            error = GetLastError();
            granted = FALSE;
        }
    }
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
                       const GrantPass& pass)
{
    PSECURITY_DESCRIPTOR oldDescriptor = ReadDacl(workFolder.Handle());
    if (oldDescriptor == NULL)
        return FALSE;
    PACL newAcl = NULL;
    SECURITY_DESCRIPTOR newDescriptor;
    BOOL granted =
        BuildEveryoneGrant(oldDescriptor, everyone, pass.access, pass.functions, &newDescriptor, &newAcl) &&
        Store(workFolder.Handle(), &newDescriptor, pass) && GrantTree(newAcl, tree, pass);
    DWORD error = GetLastError();
    FreeBlock(newAcl);
    HeapFree(GetProcessHeap(), 0, oldDescriptor);
    SetLastError(error);
    return granted;
}

static BOOL GrantEveryone(const CHeldFolder& workFolder, const CExpandedTree& tree, ACCESS_MASK access,
                          BOOL afterInstaller)
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
            CFinalPath workPath;
            GrantPass pass = {access, afterInstaller, functions, workPath};
            granted = (!afterInstaller || VolumePath(workFolder.Handle(), &workPath)) &&
                      GrantToSid(workFolder, tree, everyone, pass);
            FreeSid(everyone);
        }
    }
    DWORD error = GetLastError();
    FreeLibrary(advapi);
    SetLastError(error);
    return granted;
}

BOOL GrantEveryoneReadAndRun(const CHeldFolder& workFolder, const CExpandedTree& tree)
{
    return GrantEveryone(workFolder, tree, kEveryoneReadAndRun, FALSE);
}

BOOL GrantEveryoneFullAccess(const CHeldFolder& workFolder, const CExpandedTree& tree)
{
    return GrantEveryone(workFolder, tree, kEveryoneFullAccess, TRUE);
}

BOOL GrantEveryoneFullAccess(const char* path)
{
    CHeldFolder folder;
    CExpandedTree nothing;
    return folder.OpenReal(path, NULL, WRITE_DAC | WRITE_OWNER) && GrantEveryoneFullAccess(folder, nothing);
}
