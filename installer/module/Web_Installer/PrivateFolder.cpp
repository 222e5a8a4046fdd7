#include "PrivateFolder.h"

#include "FolderOwner.h"

// Full access, inherited by files and folders, for each account.
const BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

BOOL CreatePrivateFolder(const WCHAR* path)
{
    CProcessUser user;
    union Sid {
        SID sid;
        BYTE bytes[SECURITY_MAX_SID_SIZE];
    } administrators, system;
    DWORD administratorsSize = sizeof(administrators);
    DWORD systemSize = sizeof(system);
    if (!GetProcessUser(&user) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, &administrators, &administratorsSize) ||
        !CreateWellKnownSid(WinLocalSystemSid, NULL, &system, &systemSize))
        return FALSE;

    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    } dacl;
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeAcl(&dacl.acl, sizeof(dacl), ACL_REVISION) ||
        !AddAccessAllowedAceEx(&dacl.acl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, user.user.User.Sid) ||
        !AddAccessAllowedAceEx(&dacl.acl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, &administrators) ||
        !AddAccessAllowedAceEx(&dacl.acl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, &system) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, &dacl.acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return FALSE;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    return CreateDirectoryW(path, &attributes);
}
