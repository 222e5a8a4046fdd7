#pragma once

#include <windows.h>

#include "PathText.h"

// Opening file-system objects without going through a link, and the checks
// on what was opened. An earlier run's work folder was open to every local
// account, and this run's is from the grant on; a link or junction planted
// at one of its paths would otherwise redirect the program's deletions and
// opens to any folder the process can reach.
//
// A path is trusted only through a handle opened on the object itself
// (FILE_FLAG_OPEN_REPARSE_POINT) that shows no reparse point, and, where
// the caller knows it, whose final path is the one expected: some platforms
// follow links even then and show them only through where they lead.
// Paths come in the ANSI code page, and are refused where it cannot spell
// them exactly in UTF-16.

// `path` in UTF-16, refused (ERROR_NO_UNICODE_TRANSLATION) unless exact.
BOOL WidenPath(const char* path, CWidePathText* wide);

// How a folder is held: sharing is enforced only against handles with data
// access, hence the listing right. Write access stays shared: moving a file
// into a folder opens the folder for writing.
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
const DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A handle that stands in nobody's way.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the object at `path` itself, a link as a link.
HANDLE OpenItself(const WCHAR* path, DWORD access, DWORD share);

// The attributes and standard information of an open object.
BOOL QueryFile(HANDLE handle, DWORD* attributes, FILE_STANDARD_INFO* standard);

// The final path of the object `handle` is open on, into `finalPath`; when
// `expectedFinal` is not NULL it must be the same (kRefusedElsewhere).
BOOL HasFinalPath(HANDLE handle, const WCHAR* expectedFinal, CFinalPath* finalPath);

// Opens the folder at `path` and checks that it is a real folder, not a link.
// The handle does not share delete access, so while it is open the folder
// cannot be removed, renamed or replaced; it can list the folder, read its
// security and has `extraAccess` besides. `finalPath` receives the folder's
// final path; when `expectedFinal` is not NULL it must be the same.
// INVALID_HANDLE_VALUE on any failure.
HANDLE OpenRealFolder(const WCHAR* path, const WCHAR* expectedFinal, CFinalPath* finalPath, DWORD extraAccess);

// TRUE when `file` is open on a regular file, not a link, whose final path
// is `expectedFinal`. `size` receives its size.
BOOL IsRegularFileAt(HANDLE file, const WCHAR* expectedFinal, ULONGLONG* size);
