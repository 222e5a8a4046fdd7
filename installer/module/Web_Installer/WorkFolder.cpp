#include "WorkFolder.h"

#include <aclapi.h>

#include "ProductNames.h"

CWorkFolder::CWorkFolder()
{
    m_tempPath[0] = '\0';
}

BOOL CWorkFolder::Locate()
{
    DWORD length = GetTempPathA(MAX_PATH, m_tempPath);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    return m_path.Format("%s%s", m_tempPath, PRODUCT_GUID);
}

BOOL HasTrustedOwner(PSECURITY_DESCRIPTOR descriptor, PSID user)
{
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == NULL || !IsValidSid(owner))
        return FALSE;
    return EqualSid(owner, user) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(owner, WinLocalSystemSid);
}

static BOOL IsOwnedByTrusted(HANDLE folder)
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
    if (!known || GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL,
                                  &descriptor) != ERROR_SUCCESS)
        return FALSE;
    BOOL trusted = HasTrustedOwner(descriptor, token.user.User.Sid);
    LocalFree(descriptor);
    return trusted;
}

BOOL CWorkFolder::Create()
{
    // The temporary folder may be reached through a link (a redirected
    // profile, a RAM disk mounted there); what counts is where it really is.
    char tempFinal[kFinalPathCapacity];
    char expectedFinal[kFinalPathCapacity];
    m_temp.Reset(OpenResolvedFolder(m_tempPath, tempFinal));
    if (!m_temp.IsValid() || !JoinFinalPath(expectedFinal, tempFinal, PRODUCT_GUID))
        return FALSE;
    if (!CreateDirectoryA(m_path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FALSE;
    char finalPath[kFinalPathCapacity];
    m_folder.Reset(OpenRealFolder(m_path, expectedFinal, finalPath));
    return m_folder.IsValid() && IsOwnedByTrusted(m_folder.Get());
}
