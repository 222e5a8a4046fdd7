#include "HeldFolder.h"

#include "NoFollow.h"
#include "Refusals.h"

// Opens the folder at `path` wherever links above or at it lead, held as
// OpenRealFolder holds one, and gives its final path. INVALID_HANDLE_VALUE
// unless it is a folder of a file system.
static HANDLE OpenResolvedFolder(const WCHAR* path, CFinalPath* finalPath)
{
    CFileHandle folder(CreateFileW(path, kFolderAccess, kFolderSharing, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL));
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!folder.IsValid() || !QueryFile(folder.Get(), &attributes, &standard))
        return INVALID_HANDLE_VALUE;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(kRefusedNotFolder);
        return INVALID_HANDLE_VALUE;
    }
    if (!HasFinalPath(folder.Get(), NULL, finalPath))
        return INVALID_HANDLE_VALUE;
    return folder.Release();
}

BOOL CHeldFolder::Hold(HANDLE handle, const char* path)
{
    if (handle == INVALID_HANDLE_VALUE || !m_path.Assign(path)) {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        Close();
        return FALSE;
    }
    m_handle.Reset(handle);
    return TRUE;
}

BOOL CHeldFolder::OpenReal(const char* path, const WCHAR* expectedFinal, DWORD extraAccess)
{
    CWidePathText wide;
    if (!WidenPath(path, &wide)) {
        Close();
        return FALSE;
    }
    return Hold(OpenRealFolder(wide, expectedFinal, &m_finalPath, extraAccess), path);
}

BOOL CHeldFolder::OpenResolved(const char* path)
{
    CWidePathText wide;
    if (!WidenPath(path, &wide)) {
        Close();
        return FALSE;
    }
    return Hold(OpenResolvedFolder(wide, &m_finalPath), path);
}

BOOL CHeldFolder::Adopt(HANDLE created, const char* path, const WCHAR* expectedFinal)
{
    if (created != INVALID_HANDLE_VALUE && !HasFinalPath(created, expectedFinal, &m_finalPath)) {
        DWORD error = GetLastError();
        CloseHandle(created);
        SetLastError(error);
        created = INVALID_HANDLE_VALUE;
    }
    return Hold(created, path);
}

void CHeldFolder::Close()
{
    m_handle.Reset(INVALID_HANDLE_VALUE);
    m_path.Clear();
    m_finalPath.Clear();
}

BOOL CHeldFolder::Child(const char* name, CChildPath* child) const
{
    if (!IsHeld()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return JoinPath(&child->m_path, m_path, name) && JoinFinalPath(&child->m_finalPath, m_finalPath, name);
}
