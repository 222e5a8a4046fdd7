#include "NoFollow.h"

#include <string.h>
#include <wchar.h>

#include "BoundedString.h"
#include "CodePage.h"
#include "Refusals.h"
#include "Report.h"
#include "TestSeam.h"

static HANDLE OpenItself(const WCHAR* path, DWORD access, DWORD share)
{
    return CreateFileW(path, access, share, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

static BOOL Widen(const char* path, WCHAR* wide)
{
    return WidenExactly(CP_ACP, path, wide, MAX_PATH);
}

// Sharing is enforced only against handles with data access, hence the
// listing right. Write access stays shared: moving a file into a folder
// opens the folder for writing.
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
const DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

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

// Every expected final path is built from another handle's final path, so
// the volume's NT name compares as exactly as its DOS name would; and a
// volume without a mount-manager entry (RAM disks, mounted images, some
// encrypted containers) has no DOS name. Wine, the other way round, gives
// no NT name for a file system mounted inside a drive's folders. Every
// handle on one volume gets the same kind of name, and names of different
// kinds never compare equal.
static BOOL HasFinalPath(HANDLE handle, const WCHAR* expectedFinal, WCHAR* finalPath)
{
    DWORD length = TestSeamFinalPath(handle, finalPath, kFinalPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    if (length == 0)
        length = TestSeamFinalPath(handle, finalPath, kFinalPathCapacity, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= kFinalPathCapacity)
        return FALSE;
    if (expectedFinal == NULL || IsSameFinalPath(finalPath, expectedFinal))
        return TRUE;
    SetLastError(kRefusedElsewhere);
    return FALSE;
}

static HANDLE OpenRealFolderAt(const WCHAR* path, const WCHAR* expectedFinal, WCHAR* finalPath, DWORD extraAccess)
{
    CFileHandle folder(OpenItself(path, kFolderAccess | extraAccess, kFolderSharing));
    if (!folder.IsValid())
        return INVALID_HANDLE_VALUE;
    // Held open, the object at `path` can no longer change; the attributes by
    // path show a link to a folder also where the handle followed it.
    DWORD byPath = GetFileAttributesW(path);
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!Query(folder.Get(), &attributes, &standard) || byPath == INVALID_FILE_ATTRIBUTES)
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

HANDLE OpenRealFolder(const char* path, const WCHAR* expectedFinal, WCHAR* finalPath, DWORD extraAccess)
{
    WCHAR wide[MAX_PATH];
    if (!Widen(path, wide))
        return INVALID_HANDLE_VALUE;
    return OpenRealFolderAt(wide, expectedFinal, finalPath, extraAccess);
}

// FileDispositionInfoEx, which the SDK declares only for Windows 10 1607 on.
const FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDeleteFlag = 0x1;
const DWORD kPosixSemanticsFlag = 0x2;

// Deletes the object `held` is open on (with DELETE access) and closes it.
// TRUE when nothing is left at `path`. Where the file system can (NTFS from
// Windows 10 1607 on) the name goes at once, even while another program that
// shares delete access holds the object open; elsewhere it stays until that
// program closes it.
static BOOL DeleteHeld(CFileHandle& held, const WCHAR* path)
{
    DWORD posix = kDeleteFlag | kPosixSemanticsFlag;
    FILE_DISPOSITION_INFO classic = {TRUE};
    if (!SetFileInformationByHandle(held.Get(), kFileDispositionInfoEx, &posix, sizeof(posix)) &&
        !SetFileInformationByHandle(held.Get(), FileDispositionInfo, &classic, sizeof(classic)))
        return FALSE;
    held.Reset(INVALID_HANDLE_VALUE);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        return TRUE;
    SetLastError(kRefusedPending);
    return FALSE;
}

HANDLE OpenResolvedFolder(const char* path, WCHAR* finalPath)
{
    WCHAR wide[MAX_PATH];
    if (!Widen(path, wide))
        return INVALID_HANDLE_VALUE;
    CFileHandle folder(CreateFileW(wide, kFolderAccess, kFolderSharing, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL));
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    if (!folder.IsValid() || !Query(folder.Get(), &attributes, &standard))
        return INVALID_HANDLE_VALUE;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(kRefusedNotFolder);
        return INVALID_HANDLE_VALUE;
    }
    if (!HasFinalPath(folder.Get(), NULL, finalPath))
        return INVALID_HANDLE_VALUE;
    return folder.Release();
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
    if (!leftover.IsValid() || !Query(leftover.Get(), &attributes, &standard))
        return FALSE;
    // A handle on a reparse point is the link itself, and deleting it removes
    // only the link; its own final path shows where it stands. Any other
    // handle must be on the very object at `path` too: where a link was
    // followed, deleting or changing it would reach its target.
    WCHAR finalPath[kFinalPathCapacity];
    if (!HasFinalPath(leftover.Get(), expectedFinal, finalPath))
        return FALSE;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            SetLastError(kRefusedFolder);
            return FALSE;
        }
        // A read-only file cannot be deleted. Its attributes are changed by
        // path, as writing them through a handle needs write access to the
        // file; the held handle keeps that path on this file. With other names
        // (hard links) the change would reach them all.
        if ((attributes & FILE_ATTRIBUTE_READONLY) && standard.NumberOfLinks != 1) {
            SetLastError(kRefusedOtherNames);
            return FALSE;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
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

BOOL RemoveLeftover(const char* path, const WCHAR* expectedFinal)
{
    WCHAR wide[MAX_PATH];
    return Widen(path, wide) && RemoveLeftoverAt(wide, expectedFinal);
}

BOOL IsRegularFileAt(HANDLE file, const WCHAR* expectedFinal, ULONGLONG* size)
{
    DWORD attributes = 0;
    FILE_STANDARD_INFO standard;
    WCHAR finalPath[kFinalPathCapacity];
    if (!Query(file, &attributes, &standard))
        return FALSE;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetLastError((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kRefusedLink : kRefusedFolder);
        return FALSE;
    }
    if (!HasFinalPath(file, expectedFinal, finalPath))
        return FALSE;
    *size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    return TRUE;
}

BOOL IsIntactFile(const char* path, const WCHAR* expectedFinal, DWORD size)
{
    WCHAR wide[MAX_PATH];
    if (!Widen(path, wide))
        return FALSE;
    CFileHandle file(OpenItself(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    ULONGLONG found = 0;
    if (!file.IsValid() || !IsRegularFileAt(file.Get(), expectedFinal, &found))
        return FALSE;
    if (found != size)
        SetLastError(kRefusedSize);
    return found == size;
}

static BOOL RemoveEntry(const WCHAR* folder, const WCHAR* folderFinal, const FILE_ID_BOTH_DIR_INFO* entry);

// The one line for a leftover that stops the run.
static BOOL LeftoverStays(const WCHAR* path)
{
    DWORD error = GetLastError();
    char shown[MAX_PATH * 3];
    BOOL exact = NarrowExactly(CP_ACP, path, shown, sizeof(shown));
    Report(error, "leftover \"%s\"%s in the work folder cannot be removed", shown,
           exact ? "" : " (a name the ANSI code page cannot spell)");
    return FALSE;
}

static BOOL RemoveContentsAt(HANDLE folder, const WCHAR* path, const WCHAR* folderFinal)
{
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
            if (!RemoveEntry(path, folderFinal, entry))
                return FALSE;
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES || LeftoverStays(path);
}

BOOL RemoveFolderContents(HANDLE folder, const char* path, const WCHAR* folderFinal)
{
    WCHAR wide[MAX_PATH];
    if (!Widen(path, wide)) {
        Report(GetLastError(), "work folder \"%s\" cannot be emptied", path);
        return FALSE;
    }
    return RemoveContentsAt(folder, wide, folderFinal);
}

// A real folder is held open while it is emptied, so that it cannot be
// swapped for a link meanwhile, and deleted through that handle: a folder
// that is not empty by then stays, and the removal fails.
static BOOL RemoveFolder(const WCHAR* path, const WCHAR* expectedFinal)
{
    WCHAR finalPath[kFinalPathCapacity];
    CFileHandle folder(OpenRealFolderAt(path, expectedFinal, finalPath, DELETE));
    if (!folder.IsValid())
        return LeftoverStays(path);
    return RemoveContentsAt(folder.Get(), path, finalPath) && (DeleteHeld(folder, path) || LeftoverStays(path));
}

static BOOL RemoveEntry(const WCHAR* folder, const WCHAR* folderFinal, const FILE_ID_BOTH_DIR_INFO* entry)
{
    size_t length = entry->FileNameLength / sizeof(WCHAR);
    if ((length == 1 && entry->FileName[0] == L'.') ||
        (length == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.'))
        return TRUE;
    WCHAR name[MAX_PATH];
    WCHAR path[MAX_PATH];
    WCHAR expectedFinal[kFinalPathCapacity];
    BOOL fits = length < MAX_PATH;
    if (fits) {
        memcpy(name, entry->FileName, length * sizeof(WCHAR));
        name[length] = L'\0';
    }
    if (!fits || !BoundedCopy(path, MAX_PATH, folder) || !BoundedAppend(path, MAX_PATH, L"\\") ||
        !BoundedAppend(path, MAX_PATH, name) || !JoinFinalPath(expectedFinal, folderFinal, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return LeftoverStays(folder);
    }
    if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveFolder(path, expectedFinal);
    return RemoveLeftoverAt(path, expectedFinal) || LeftoverStays(path);
}
