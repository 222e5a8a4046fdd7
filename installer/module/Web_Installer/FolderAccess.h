#pragma once

#include <windows.h>

typedef BOOL(WINAPI* SetSecurityDescriptorControlFn)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                     SECURITY_DESCRIPTOR_CONTROL);
typedef BOOL(WINAPI* AddAccessAllowedAceExFn)(PACL, DWORD, DWORD, DWORD, PSID);

struct AclFunctions {
    SetSecurityDescriptorControlFn setControl;
    AddAccessAllowedAceExFn addAccessAllowedAceEx;
};

// Builds in `newDescriptor` the DACL of `oldDescriptor` with one inheritable
// full-access entry for `everyone`: after the explicit entries that precede
// the first inherited one (less any older entries for `everyone`), before
// the inherited ones. The DACL's inheritance control bits are carried over.
// `*newAcl` receives the heap block that `newDescriptor` points into; the
// caller frees it with HeapFree on every outcome.
BOOL BuildEveryoneGrant(PSECURITY_DESCRIPTOR oldDescriptor, PSID everyone, const AclFunctions& functions,
                        SECURITY_DESCRIPTOR* newDescriptor, PACL* newAcl);

// Gives Everyone inheritable full access to the file-system object at `path`.
// On FALSE the object's DACL is unchanged.
BOOL GrantEveryoneFullAccess(const char* path);
