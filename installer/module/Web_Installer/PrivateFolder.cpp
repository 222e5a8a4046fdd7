#include "PrivateFolder.h"

#include <winternl.h>

#include "FolderOwner.h"

// Full access, inherited by files and folders, for each account.
const BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

BOOL BuildPrivateDescriptor(PSID user, BOOL labelled, CPrivateDescriptor* out)
{
    union Sid {
        SID sid;
        BYTE bytes[SECURITY_MAX_SID_SIZE];
    } administrators, system, high;
    DWORD administratorsSize = sizeof(administrators);
    DWORD systemSize = sizeof(system);
    DWORD highSize = sizeof(high);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, &administrators, &administratorsSize) ||
        !CreateWellKnownSid(WinLocalSystemSid, NULL, &system, &systemSize) ||
        !CreateWellKnownSid(WinHighLabelSid, NULL, &high, &highSize))
        return FALSE;
    PACL dacl = &out->dacl.acl;
    PACL sacl = &out->sacl.acl;
    SECURITY_DESCRIPTOR* descriptor = &out->descriptor;
    if (!InitializeAcl(dacl, sizeof(out->dacl), ACL_REVISION) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, user) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, &administrators) ||
        !AddAccessAllowedAceEx(dacl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, &system) ||
        !InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor, TRUE, dacl, FALSE) ||
        !SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return FALSE;
    if (!labelled)
        return TRUE;
    return InitializeAcl(sacl, sizeof(out->sacl), ACL_REVISION) &&
           AddMandatoryAce(sacl, ACL_REVISION, kInheritedByAll, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, &high) &&
           SetSecurityDescriptorSacl(descriptor, TRUE, sacl, FALSE);
}

BOOL RunsAtHighIntegrity()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    union {
        TOKEN_MANDATORY_LABEL label;
        BYTE bytes[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    } integrity;
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenIntegrityLevel, &integrity, sizeof(integrity), &size);
    CloseHandle(token);
    if (!known || !IsValidSid(integrity.label.Label.Sid))
        return FALSE;
    PUCHAR count = GetSidSubAuthorityCount(integrity.label.Label.Sid);
    return *count > 0 && *GetSidSubAuthority(integrity.label.Label.Sid, *count - 1) >= SECURITY_MANDATORY_HIGH_RID;
}

HANDLE CreatePrivateFolder(HANDLE parent, const WCHAR* name, DWORD access, DWORD share)
{
    CProcessUser user;
    CPrivateDescriptor priv;
    if (!GetProcessUser(&user) || !BuildPrivateDescriptor(user.user.User.Sid, RunsAtHighIntegrity(), &priv))
        return INVALID_HANDLE_VALUE;
    UNICODE_STRING objectName;
    RtlInitUnicodeString(&objectName, name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, &priv.descriptor);
    IO_STATUS_BLOCK io;
    HANDLE folder = NULL;
    NTSTATUS status = NtCreateFile(&folder, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, share,
                                   FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}
