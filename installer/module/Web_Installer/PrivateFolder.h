#pragma once

#include <windows.h>

// The descriptor a new work folder is created with: a protected DACL that
// gives full access, inherited by every file and folder made inside, to
// `user`, Administrators and SYSTEM only; when `labelled`, also a high
// mandatory label, no-write-up, inherited the same way. Everything lives in
// the object itself.
struct CPrivateDescriptor {
    SECURITY_DESCRIPTOR descriptor;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    } dacl;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) + SECURITY_MAX_SID_SIZE];
    } sacl;
};
BOOL BuildPrivateDescriptor(PSID user, BOOL labelled, CPrivateDescriptor* out);

// TRUE when the process runs at high integrity or above (elevated, or as
// SYSTEM): the user's own unelevated programs then share its user SID, and
// only a label keeps them from writing.
BOOL RunsAtHighIntegrity();

// Creates the folder `name` in the folder `parent` is open on, so that, from
// its first moment, only the process's user, Administrators and SYSTEM can
// open it, and, when the process runs at high integrity, no process below it
// can write, delete or re-permission anything in it. Another account can then
// neither add to it, nor change what is in it, nor make it or anything in it a
// link or a mount point. It is created and opened in one call, with `access`
// and `share`, so that nothing can take its place between its creation and
// its hold. A volume that stores no security (FAT, exFAT) ignores the
// descriptor; nothing there can be a link. INVALID_HANDLE_VALUE, with the last
// error, when it cannot be created (also when the name exists).
HANDLE CreatePrivateFolder(HANDLE parent, const WCHAR* name, DWORD access, DWORD share);
