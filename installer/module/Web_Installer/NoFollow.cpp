#include "NoFollow.h"

void CFileHandle::Reset(HANDLE handle)
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
    m_handle = handle;
}

HANDLE CFileHandle::Release()
{
    HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return handle;
}

static HANDLE OpenItself(const char* path, DWORD access, DWORD share)
{
    return CreateFileA(path, access, share, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// Attributes and standard information of an open file. (The volume serial
// that GetFileInformationByHandle also fetches is slow to get on some
// platforms, and nothing here needs it.)
static BOOL Query(HANDLE handle, DWORD* attributes, FILE_STANDARD_INFO* standard)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, standard, sizeof(*standard)))
        return FALSE;
    *attributes = basic.FileAttributes;
    return TRUE;
}

static BOOL HasFinalPath(HANDLE handle, const char* expectedFinal, char* finalPath)
{
    DWORD length = GetFinalPathNameByHandleA(handle, finalPath, kFinalPathCapacity, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= kFinalPathCapacity)
        return FALSE;
    return expectedFinal == NULL || lstrcmpiA(finalPath, expectedFinal) == 0;
}

HANDLE OpenRealFolder(const char* path, const char* expectedFinal, char* finalPath)
{
    // Sharing is enforced only against handles with data access, hence the
    // listing right. Write access stays shared: moving a file into a folder
    // opens the folder for writing.
    CFileHandle folder(OpenItself(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!folder.IsValid())
        return INVALID_HANDLE_VALUE;
    // Held open, the object at `path` can no longer change; the attributes by
    // path show a link to a folder also where the handle followed it.
    DWORD byPath = GetFileAttributesA(path);
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!Query(folder.Get(), &attributes, &standard) || byPath == INVALID_FILE_ATTRIBUTES)
        return INVALID_HANDLE_VALUE;
    attributes |= byPath;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return INVALID_HANDLE_VALUE;
    if (!HasFinalPath(folder.Get(), expectedFinal, finalPath))
        return INVALID_HANDLE_VALUE;
    return folder.Release();
}

BOOL RemoveLeftover(const char* path, const char* expectedFinal)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;

    // Without delete sharing, nothing else can rename or replace the object
    // while it is held.
    CFileHandle leftover(OpenItself(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE));
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!leftover.IsValid() || !Query(leftover.Get(), &attributes, &standard))
        return FALSE;
    // A handle on a reparse point is the link itself, and deleting it removes
    // only the link. Any other handle must be on the very object at `path`:
    // where a link was followed, deleting or changing it would reach its target.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        char finalPath[kFinalPathCapacity];
        if (!HasFinalPath(leftover.Get(), expectedFinal, finalPath) || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return FALSE;
        // A read-only file cannot be deleted. Its attributes are changed by
        // path, as writing them through a handle needs write access to the
        // file; the held handle keeps that path on this file. With other names
        // (hard links) the change would reach them all.
        if ((attributes & FILE_ATTRIBUTE_READONLY) &&
            (standard.NumberOfLinks != 1 || !SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)))
            return FALSE;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(leftover.Get(), FileDispositionInfo, &disposition, sizeof(disposition)))
        return FALSE;
    leftover.Reset(INVALID_HANDLE_VALUE);
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

BOOL IsIntactFile(const char* path, const char* expectedFinal, DWORD size)
{
    CFileHandle file(OpenItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    char finalPath[kFinalPathCapacity];
    return file.IsValid() && Query(file.Get(), &attributes, &standard) &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           standard.EndOfFile.QuadPart == size && HasFinalPath(file.Get(), expectedFinal, finalPath);
}
