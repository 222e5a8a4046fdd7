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

BOOL GetProcessUser(CProcessUser* user)
{
    HANDLE process = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process))
        return FALSE;
    DWORD size = 0;
    BOOL known = GetTokenInformation(process, TokenUser, user, sizeof(*user), &size);
    CloseHandle(process);
    return known;
}

BOOL IsOwnedByTrusted(HANDLE folder)
{
    CProcessUser token;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!GetProcessUser(&token))
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
