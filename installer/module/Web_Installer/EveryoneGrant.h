#pragma once

#include <windows.h>

#include "ExpandedTree.h"
#include "HeldFolder.h"

// The grant of full access to Everyone: the DACLs it builds, and their
// application through held handles. The two security functions that build
// them are looked up at run time, in advapi32 loaded by its full path.

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

// Builds in `*child` (a heap block the caller frees with HeapFree) the DACL
// that a new file, or folder when `folder` is TRUE, made in a folder whose
// DACL is `parent` inherits from it, by the system's inheritance rules:
// every entry the parent hands down to that kind of object, marked
// inherited, generic rights mapped to a file's; for a folder, an entry with
// generic rights is also kept unmapped, inherit-only, to be handed further
// down, and an entry only files inherit is kept inherit-only. Entries for
// CREATOR OWNER stay as they are, which grants nothing. `*child` has no
// entries when `parent` hands down none (or is NULL).
BOOL BuildInheritedDacl(PACL parent, BOOL folder, PACL* child);

// Gives Everyone inheritable full access to the held `workFolder`, and to
// everything in `tree` the entry it inherits from that, as if it had been
// made in the folder after the grant; every descriptor is read and written
// through the handles held, never by path. On FALSE the work folder's DACL
// is unchanged, or everything in it up to the failure has its new one.
BOOL GrantEveryoneFullAccess(const CHeldFolder& workFolder, const CExpandedTree& tree);
// The same for the folder at `path`, held first as a real folder, and
// nothing inside it.
BOOL GrantEveryoneFullAccess(const char* path);
