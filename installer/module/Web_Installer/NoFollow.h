#pragma once

#include <windows.h>

#include "PathText.h"

// Opening file-system objects without going through a link, and the checks
// on what was opened. The work folder lies in a folder its user can write
// to, and is open to Everyone during the run; a link or junction planted at
// one of its paths would otherwise redirect the program's writes, and the
// grant to Everyone, to any folder the process can reach.
//
// A path is trusted only through a handle opened on the object itself
// (FILE_FLAG_OPEN_REPARSE_POINT) that shows no reparse point, and, where
// the caller knows it, whose final path is the one expected: some platforms
// follow links even then and show them only through where they lead.
// Paths come in the ANSI code page, and are refused where it cannot spell
// them exactly in UTF-16.

// `path` in UTF-16, refused (ERROR_NO_UNICODE_TRANSLATION) unless exact.
BOOL WidenPath(const char* path, CWidePathText* wide);

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

// Opens the folder at `path` wherever links above or at it lead, held as
// OpenRealFolder holds one, and gives its final path. INVALID_HANDLE_VALUE
// unless it is a folder of a file system.
HANDLE OpenResolvedFolder(const WCHAR* path, CFinalPath* finalPath);

// TRUE when `file` is open on a regular file, not a link, whose final path
// is `expectedFinal`. `size` receives its size.
BOOL IsRegularFileAt(HANDLE file, const WCHAR* expectedFinal, ULONGLONG* size);

// TRUE when `path` is a regular file, not a link, of exactly `size` bytes
// (kRefusedSize otherwise), whose final path is `expectedFinal`. `found`
// receives the size it has, once it is known to be such a file.
BOOL IsIntactFile(const char* path, const WCHAR* expectedFinal, DWORD size, ULONGLONG* found);
