#include "EveryoneGrant.h"

#include <type_traits>

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

BOOL BuildEveryoneGrant(PSECURITY_DESCRIPTOR oldDescriptor, PSID everyone, const AclFunctions& functions,
                        SECURITY_DESCRIPTOR* newDescriptor, PACL* newAcl)
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

    if (!functions.addAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE,
                                         GENERIC_ALL, everyone))
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
