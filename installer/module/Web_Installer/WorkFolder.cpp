#include "WorkFolder.h"

#include <aclapi.h>

#include "FolderOwner.h"
#include "NoFollow.h"
#include "ProductNames.h"
#include "Report.h"
#include "TestSeam.h"

CWorkFolder::CWorkFolder()
{
    m_tempPath[0] = '\0';
}

BOOL CWorkFolder::Locate()
{
    DWORD length = GetTempPathA(MAX_PATH, m_tempPath);
    if (length == 0 || length >= MAX_PATH) {
        Report(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
               "temporary folder path cannot be read (%lu bytes, room for %u)", length, MAX_PATH - 1);
        return FALSE;
    }
    if (!m_path.Format("%s%s", m_tempPath, PRODUCT_GUID)) {
        Report(ERROR_NOT_ENOUGH_MEMORY, "work folder path in \"%s\" cannot be formed", m_tempPath);
        return FALSE;
    }
    return TRUE;
}

// FAT and exFAT store no security: every file there shows a world
// descriptor, owned by Everyone, and there is no protection to lose. The
// grant is still asked for, and does nothing there.
static BOOL KeepsSecurity(HANDLE folder, const char* path)
{
    DWORD flags = 0;
    if (!TestSeamVolumeFlags(folder, &flags) || (flags & FILE_PERSISTENT_ACLS))
        return TRUE;
    Report(0, "work folder \"%s\" is on a volume that stores no security; its owner is not checked", path);
    return FALSE;
}

BOOL CWorkFolder::Create()
{
    // The temporary folder may be reached through a link (a redirected
    // profile, a RAM disk mounted there); what counts is where it really is.
    WCHAR tempFinal[kFinalPathCapacity];
    WCHAR expectedFinal[kFinalPathCapacity];
    m_temp.Reset(OpenResolvedFolder(m_tempPath, tempFinal));
    DWORD error = GetLastError();
    // Also a drive mapped or substituted only in the user's unelevated
    // session: an elevated process does not see it.
    if (!m_temp.IsValid() && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        Report(ERROR_PATH_NOT_FOUND, "temporary folder \"%s\" does not exist", m_tempPath);
        return FALSE;
    }
    if (!m_temp.IsValid() || !JoinFinalPath(expectedFinal, tempFinal, PRODUCT_GUID)) {
        Report(GetLastError(), "temporary folder \"%s\" refused; stopped before the grant", m_tempPath);
        return FALSE;
    }
    if (!CreateDirectoryA(m_path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Report(GetLastError(), "work folder \"%s\" cannot be created", m_path.GetString());
        return FALSE;
    }
    WCHAR finalPath[kFinalPathCapacity];
    m_folder.Reset(OpenRealFolder(m_path, expectedFinal, finalPath));
    if (!m_folder.IsValid() || (KeepsSecurity(m_folder.Get(), m_path) && !IsOwnedByTrusted(m_folder.Get()))) {
        Report(GetLastError(), "work folder \"%s\" refused; stopped before the grant", m_path.GetString());
        return FALSE;
    }
    return TRUE;
}
