#include "WorkFolder.h"

#include <aclapi.h>

#include "FolderOwner.h"
#include "ProductNames.h"
#include "Report.h"
#include "TestSeam.h"

BOOL CWorkFolder::Locate()
{
    DWORD length = GetTempPathA(static_cast<DWORD>(m_tempPath.GetCapacity()), m_tempPath.Buffer());
    if (length == 0 || length >= m_tempPath.GetCapacity()) {
        Report(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
               "temporary folder path cannot be read (%lu bytes, room for %u)", length, MAX_PATH - 1);
        m_tempPath.Clear();
        return FALSE;
    }
    CPathText path;
    if (!JoinPath(&path, m_tempPath, PRODUCT_GUID) || !m_path.Format("%s", path.Get())) {
        Report(GetLastError(), "work folder path in \"%s\" cannot be formed", m_tempPath.Get());
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
    BOOL held = m_temp.OpenResolved(m_tempPath);
    DWORD error = GetLastError();
    // Also a drive mapped or substituted only in the user's unelevated
    // session: an elevated process does not see it.
    if (!held && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        Report(ERROR_PATH_NOT_FOUND, "temporary folder \"%s\" does not exist", m_tempPath.Get());
        return FALSE;
    }
    CChildPath work;
    if (!held || !m_temp.Child(PRODUCT_GUID, &work)) {
        Report(GetLastError(), "temporary folder \"%s\" refused; stopped before the grant", m_tempPath.Get());
        return FALSE;
    }
    TestSeam("temp-held", m_tempPath.Get());
    if (!CreateDirectoryA(work.Path(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Report(GetLastError(), "work folder \"%s\" cannot be created", work.Path());
        return FALSE;
    }
    if (!m_folder.OpenReal(work.Path(), work.FinalPath()) ||
        (KeepsSecurity(m_folder.Handle(), work.Path()) && !IsOwnedByTrusted(m_folder.Handle()))) {
        Report(GetLastError(), "work folder \"%s\" refused; stopped before the grant", work.Path());
        m_folder.Close();
        return FALSE;
    }
    TestSeam("work-held", m_folder.Path());
    return TRUE;
}
