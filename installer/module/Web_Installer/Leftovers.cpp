#include "Leftovers.h"

#include <string.h>
#include <wchar.h>

#include "NoFollow.h"
#include "Refusals.h"
#include "TestSeam.h"

// FileDispositionInfoEx, which the SDK declares only for Windows 10 1607 on.
const FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDeleteFlag = 0x1;
const DWORD kPosixSemanticsFlag = 0x2;

// Where the file system can (NTFS from Windows 10 1607 on) the name goes at
// once, even while another program that shares delete access holds the
// object open; elsewhere it stays until that program closes it.
BOOL DeleteHeld(CFileHandle& held, const WCHAR* path)
{
    DWORD posix = kDeleteFlag | kPosixSemanticsFlag;
    FILE_DISPOSITION_INFO classic = {TRUE};
    if (!TestSeamDisposition(held.Get(), kFileDispositionInfoEx, &posix, sizeof(posix)) &&
        !TestSeamDisposition(held.Get(), FileDispositionInfo, &classic, sizeof(classic)))
        return FALSE;
    held.Reset(INVALID_HANDLE_VALUE);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        return TRUE;
    SetLastError(kRefusedPending);
    return FALSE;
}

// Clears the read-only attribute of the file `held` is open on, through a
// handle opened from that one: the very file, never a link's target. Wine
// opens no such handle on a file whose Unix mode is read-only for the
// process, yet changes the mode by path; Windows makes the same access check
// either way, and the file at `path` is the held one, not a link.
static BOOL ClearReadOnly(HANDLE held, const WCHAR* path)
{
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    CFileHandle writable(ReOpenFile(held, FILE_WRITE_ATTRIBUTES, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT));
    if (writable.IsValid())
        return SetFileInformationByHandle(writable.Get(), FileBasicInfo, &basic, sizeof(basic));
    return GetLastError() == ERROR_ACCESS_DENIED && SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
}

static BOOL RemoveLeftoverOnce(const WCHAR* path, const WCHAR* expectedFinal)
{
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;

    // Without delete sharing, nothing else can rename or replace the object
    // while it is held.
    CFileHandle leftover(OpenItself(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE));
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!leftover.IsValid() || !QueryFile(leftover.Get(), &attributes, &standard))
        return FALSE;
    // A handle on a reparse point is the link itself, and deleting it removes
    // only the link; its own final path shows where it stands. Any other
    // handle must be on the very object at `path` too: where a link was
    // followed, deleting or changing it would reach its target.
    CFinalPath finalPath;
    if (!HasFinalPath(leftover.Get(), expectedFinal, &finalPath))
        return FALSE;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            SetLastError(kRefusedFolder);
            return FALSE;
        }
        // A read-only file cannot be deleted. With other names (hard links)
        // clearing the attribute would reach them all.
        if ((attributes & FILE_ATTRIBUTE_READONLY) && standard.NumberOfLinks != 1) {
            SetLastError(kRefusedOtherNames);
            return FALSE;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !ClearReadOnly(leftover.Get(), path))
            return FALSE;
    }
    return DeleteHeld(leftover, path);
}

// A scanner, an indexer or a backup agent holds a file for a moment: a name
// pending deletion, or a file opened without delete sharing, is tried again
// for about a second before it ends the run.
const DWORD kRetryPause = 50;
const DWORD kRetryTime = 1000;

static BOOL RemoveLeftoverAt(const WCHAR* path, const WCHAR* expectedFinal)
{
    BOOL pending = FALSE;
    for (DWORD waited = 0;; waited += kRetryPause) {
        if (RemoveLeftoverOnce(path, expectedFinal))
            return TRUE;
        DWORD error = GetLastError();
        // Windows refuses every open of a name pending deletion.
        if (pending && error == ERROR_ACCESS_DENIED)
            error = kRefusedPending;
        pending = error == kRefusedPending;
        if ((!pending && error != ERROR_SHARING_VIOLATION) || waited >= kRetryTime) {
            SetLastError(error);
            return FALSE;
        }
        Sleep(kRetryPause);
    }
}

static BOOL RemoveEntry(const WCHAR* folder, const WCHAR* folderFinal, const FILE_ID_BOTH_DIR_INFO* entry,
                        CWidePathText* stays);

// Names what stays in `stays`, keeping the last error that says why.
static BOOL Stays(const WCHAR* path, CWidePathText* stays)
{
    DWORD error = GetLastError();
    if (!stays->Assign(path))
        stays->Clear();
    SetLastError(error);
    return FALSE;
}

BOOL RemoveFolderContents(HANDLE folder, const WCHAR* path, const WCHAR* folderFinal, CWidePathText* stays)
{
    stays->Clear();
    // Listed through the held handle, not by path: what is listed is the
    // folder that was checked.
    union {
        FILE_ID_BOTH_DIR_INFO first;
        BYTE bytes[8 * 1024];
    } listing;
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, next, &listing, sizeof(listing))) {
        next = FileIdBothDirectoryInfo;
        for (const BYTE* at = listing.bytes;;) {
            const FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            if (!RemoveEntry(path, folderFinal, entry, stays))
                return FALSE;
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES || Stays(path, stays);
}

BOOL RemoveFolderContents(const CHeldFolder& folder, CWidePathText* stays)
{
    CWidePathText wide;
    return WidenPath(folder.Path(), &wide) && RemoveFolderContents(folder.Handle(), wide, folder.FinalPath(), stays);
}

// A real folder is held open while it is emptied, so that it cannot be
// swapped for a link meanwhile, and deleted through that handle: a folder
// that is not empty by then stays, and the removal fails.
BOOL RemoveFolderTree(const WCHAR* path, const WCHAR* expectedFinal, CWidePathText* stays)
{
    CFinalPath finalPath;
    CFileHandle folder(OpenRealFolder(path, expectedFinal, &finalPath, DELETE));
    if (!folder.IsValid())
        return Stays(path, stays);
    return RemoveHeldFolderTree(folder, path, finalPath, stays);
}

BOOL RemoveHeldFolderTree(CFileHandle& folder, const WCHAR* path, const WCHAR* folderFinal, CWidePathText* stays)
{
    return RemoveFolderContents(folder.Get(), path, folderFinal, stays) &&
           (DeleteHeld(folder, path) || Stays(path, stays));
}

static BOOL RemoveEntry(const WCHAR* folder, const WCHAR* folderFinal, const FILE_ID_BOTH_DIR_INFO* entry,
                        CWidePathText* stays)
{
    size_t length = entry->FileNameLength / sizeof(WCHAR);
    if ((length == 1 && entry->FileName[0] == L'.') ||
        (length == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.'))
        return TRUE;
    WCHAR name[MAX_PATH];
    CWidePathText path;
    CFinalPath expectedFinal;
    BOOL fits = length < MAX_PATH;
    if (fits) {
        memcpy(name, entry->FileName, length * sizeof(WCHAR));
        name[length] = L'\0';
    }
    if (!fits || !JoinPath(&path, folder, name) || !JoinFinalPath(&expectedFinal, folderFinal, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return Stays(folder, stays);
    }
    if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveFolderTree(path, expectedFinal, stays);
    return RemoveLeftoverAt(path, expectedFinal) || Stays(path, stays);
}

BOOL RenameHeld(HANDLE held, const WCHAR* newPath)
{
    union {
        FILE_RENAME_INFO info;
        BYTE bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } rename;
    size_t length = wcslen(newPath);
    if (length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    memset(&rename, 0, sizeof(rename));
    rename.info.ReplaceIfExists = FALSE;
    rename.info.RootDirectory = NULL;
    rename.info.FileNameLength = static_cast<DWORD>(length * sizeof(WCHAR));
    memcpy(rename.info.FileName, newPath, length * sizeof(WCHAR));
    return SetFileInformationByHandle(held, FileRenameInfo, &rename, sizeof(rename));
}
