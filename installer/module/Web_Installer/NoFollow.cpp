#include "NoFollow.h"

#include "CodePage.h"
#include "Handle.h"
#include "Refusals.h"
#include "TestSeam.h"

BOOL WidenPath(const char* path, CWidePathText* wide)
{
    return WidenExactly(CP_ACP, path, wide->Buffer(), static_cast<int>(wide->GetCapacity()));
}

HANDLE OpenItself(const WCHAR* path, DWORD access, DWORD share)
{
    return TestSeamOpenExisting(path, access, share, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

// (The volume serial that GetFileInformationByHandle also fetches is slow to
// get on some platforms, and nothing here needs it.)
BOOL QueryFile(HANDLE handle, DWORD* attributes, FILE_STANDARD_INFO* standard)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, standard, sizeof(*standard)))
        return FALSE;
    *attributes = basic.FileAttributes;
    return TRUE;
}

// Every expected final path is built from another handle's final path, so
// the volume's NT name compares as exactly as its DOS name would; and a
// volume without a mount-manager entry (RAM disks, mounted images, some
// encrypted containers) has no DOS name. Wine, the other way round, gives
// no NT name for a file system mounted inside a drive's folders. Every
// handle on one volume gets the same kind of name, and names of different
// kinds never compare equal.
BOOL HasFinalPath(HANDLE handle, const WCHAR* expectedFinal, CFinalPath* finalPath)
{
    const DWORD capacity = static_cast<DWORD>(finalPath->GetCapacity());
    DWORD length = TestSeamFinalPath(handle, finalPath->Buffer(), capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    if (length == 0)
        length = TestSeamFinalPath(handle, finalPath->Buffer(), capacity, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= capacity) {
        finalPath->Clear();
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (expectedFinal == NULL || IsSameFinalPath(*finalPath, expectedFinal))
        return TRUE;
    SetLastError(kRefusedElsewhere);
    return FALSE;
}

HANDLE OpenRealFolder(const WCHAR* path, const WCHAR* expectedFinal, CFinalPath* finalPath, DWORD extraAccess)
{
    CFileHandle folder(OpenItself(path, kFolderAccess | extraAccess, kFolderSharing));
    if (!folder.IsValid())
        return INVALID_HANDLE_VALUE;
    // Held open, the object at `path` can no longer change; the attributes by
    // path show a link to a folder also where the handle followed it.
    DWORD byPath = GetFileAttributesW(path);
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!QueryFile(folder.Get(), &attributes, &standard) || byPath == INVALID_FILE_ATTRIBUTES)
        return INVALID_HANDLE_VALUE;
    attributes |= byPath;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kRefusedLink : kRefusedNotFolder);
        return INVALID_HANDLE_VALUE;
    }
    if (!HasFinalPath(folder.Get(), expectedFinal, finalPath))
        return INVALID_HANDLE_VALUE;
    return folder.Release();
}

BOOL IsRegularFileAt(HANDLE file, const WCHAR* expectedFinal, ULONGLONG* size)
{
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    CFinalPath finalPath;
    if (!QueryFile(file, &attributes, &standard))
        return FALSE;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetLastError((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kRefusedLink : kRefusedFolder);
        return FALSE;
    }
    if (!HasFinalPath(file, expectedFinal, &finalPath))
        return FALSE;
    *size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    return TRUE;
}
