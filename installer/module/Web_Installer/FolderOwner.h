#pragma once

#include <windows.h>

// Who owns a folder decides who can change its protection whenever it likes.

// The process's user account, as the token names it.
union CProcessUser {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};
BOOL GetProcessUser(CProcessUser* user);

// TRUE when the owner in `descriptor` is `user`, Administrators or SYSTEM.
BOOL HasTrustedOwner(PSECURITY_DESCRIPTOR descriptor, PSID user);

// TRUE when the object `folder` is open on (with READ_CONTROL) is owned by
// the process's user, Administrators or SYSTEM; otherwise the last error
// says why (kRefusedOwner for another owner).
BOOL IsOwnedByTrusted(HANDLE folder);
