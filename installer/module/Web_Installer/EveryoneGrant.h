#pragma once

#include <windows.h>

#include "ExpandedTree.h"
#include "HeldFolder.h"

// The grants to Everyone: the descriptors they build, and their application
// through held handles. The two security functions that build them are
// looked up at run time, in advapi32 loaded by its full path.

typedef BOOL(WINAPI* SetSecurityDescriptorControlFn)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                     SECURITY_DESCRIPTOR_CONTROL);
typedef BOOL(WINAPI* AddAccessAllowedAceExFn)(PACL, DWORD, DWORD, DWORD, PSID);

struct AclFunctions {
    SetSecurityDescriptorControlFn setControl;
    AddAccessAllowedAceExFn addAccessAllowedAceEx;
};

// What Everyone is given on the work folder and, inherited, on everything in
// it: read and run while the installer runs, full access once it has ended.
const ACCESS_MASK kEveryoneReadAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
const ACCESS_MASK kEveryoneFullAccess = GENERIC_ALL;

// Builds in `newDescriptor` the DACL of `oldDescriptor` with one inheritable
// entry for `everyone` that allows `access`: after the explicit entries that
// precede the first inherited one (less any older entries for `everyone`),
// before the inherited ones. The DACL's inheritance control bits are carried
// over. `*newAcl` receives the heap block that `newDescriptor` points into;
// the caller frees it with HeapFree on every outcome.
BOOL BuildEveryoneGrant(PSECURITY_DESCRIPTOR oldDescriptor, PSID everyone, ACCESS_MASK access,
                        const AclFunctions& functions, SECURITY_DESCRIPTOR* newDescriptor, PACL* newAcl);

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

// Initialises `descriptor` with `acl` as a DACL inherited from its folder.
BOOL BuildInheritedDescriptor(PACL acl, const AclFunctions& functions, SECURITY_DESCRIPTOR* descriptor);

// Gives `descriptor` the empty SACL `noLabel`: stored with
// LABEL_SECURITY_INFORMATION, it takes the object's mandatory label away.
BOOL TakeLabelAway(SECURITY_DESCRIPTOR* descriptor, ACL* noLabel);

// While the installer runs: gives Everyone inheritable read-and-run access
// to the held `workFolder`, and to everything in `tree` the DACL it inherits
// from that, as if it had been made in the folder afterwards. Labels stay.
// Every descriptor is read and written through the handles held, never by
// path. An object whose grant fails keeps its DACL; the others go on. FALSE
// when any failed, with the first failure's error.
BOOL GrantEveryoneReadAndRun(const CHeldFolder& workFolder, const CExpandedTree& tree);
// Once the installer has ended: the same with full access, and every
// mandatory label taken away, so that the unelevated clean-up can delete it
// all. What the installer moved out of the work folder is left as it is.
BOOL GrantEveryoneFullAccess(const CHeldFolder& workFolder, const CExpandedTree& tree);
// The full grant for the folder at `path`, held first as a real folder, and
// nothing inside it.
BOOL GrantEveryoneFullAccess(const char* path);
