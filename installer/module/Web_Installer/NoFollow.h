#pragma once

#include <windows.h>

#include "Handle.h"
#include "PathText.h"

// File-system access in the work folder that never goes through a link. The
// work folder lies in a folder its user can write to, and is open to
// Everyone during the run; a link or junction planted at one of its paths
// would otherwise redirect the program's writes, and the grant to Everyone,
// to any folder the process can reach.
//
// A path is trusted only through a handle opened on the object itself
// (FILE_FLAG_OPEN_REPARSE_POINT) that shows no reparse point, and, where
// the caller knows it, whose final path is the one expected: some platforms
// follow links even then and show them only through where they lead.

// Opens the folder at `path` and checks that it is a real folder, not a link.
// The handle does not share delete access, so while it is open the folder
// cannot be removed, renamed or replaced; it can read the folder's security
// and has `extraAccess` besides. `finalPath` (kFinalPathCapacity characters)
// receives the folder's final path; when `expectedFinal` is not NULL it must
// be the same. INVALID_HANDLE_VALUE on any failure.
HANDLE OpenRealFolder(const char* path, const WCHAR* expectedFinal, WCHAR* finalPath, DWORD extraAccess = 0);

// Opens the folder at `path` wherever links above or at it lead, held as
// OpenRealFolder holds one, and gives its final path in `finalPath`.
// INVALID_HANDLE_VALUE unless it is a folder of a file system.
HANDLE OpenResolvedFolder(const char* path, WCHAR* finalPath);

// Removes what an earlier run left at `path`, whose final path (a link's
// own, not its target's) must be `expectedFinal`: a file, read-only or not,
// or a link, as a link. TRUE when nothing is left there. A real folder, a
// file that another program still holds open after about a second, a file
// with other names (hard links) that is read-only, or a link the platform
// cannot remove without touching its target, is left alone: FALSE.
BOOL RemoveLeftover(const char* path, const WCHAR* expectedFinal);

// Removes everything inside `folder`, a real folder held open (as by
// OpenRealFolder) at `path`, whose final path is `folderFinal`, depth first:
// files and links as RemoveLeftover does, real folders once emptied. Links
// are removed as links, never entered. Names are taken as listed, in UTF-16,
// whatever the ANSI code page can spell. FALSE as soon as an entry cannot be
// removed.
BOOL RemoveFolderContents(HANDLE folder, const char* path, const WCHAR* folderFinal);

// TRUE when `file` is open on a regular file, not a link, whose final path
// is `expectedFinal`. `size` receives its size.
BOOL IsRegularFileAt(HANDLE file, const WCHAR* expectedFinal, ULONGLONG* size);

// TRUE when `path` is a regular file, not a link, of exactly `size` bytes,
// whose final path is `expectedFinal`.
BOOL IsIntactFile(const char* path, const WCHAR* expectedFinal, DWORD size);
