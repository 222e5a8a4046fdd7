#include "FolderOwner.h"

#include "Refusals.h"
#include "TestSeam.h"

BOOL HasTrustedOwner(PSECURITY_DESCRIPTOR descriptor, PSID user)
{
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == NULL || !IsValidSid(owner))
        return FALSE;
    return EqualSid(owner, user) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(owner, WinLocalSystemSid);
}

BOOL IsOwnedByTrusted(HANDLE folder)
{
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } token;
    HANDLE process = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process))
        return FALSE;
    DWORD size = 0;
    BOOL known = GetTokenInformation(process, TokenUser, &token, sizeof(token), &size);
    CloseHandle(process);
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!known)
        return FALSE;
    DWORD error = TestSeamOwner(folder, &descriptor);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    BOOL trusted = HasTrustedOwner(descriptor, token.user.User.Sid);
    LocalFree(descriptor);
    if (!trusted)
        SetLastError(kRefusedOwner);
    return trusted;
}
