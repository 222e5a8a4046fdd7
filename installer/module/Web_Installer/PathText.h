#pragma once

#include <windows.h>

// Path text: paths in the ANSI code page, whose double-byte characters may
// carry the backslash code (0x5C) as their trail byte, so that every scan
// steps over whole characters; and final paths, in UTF-16.

// Room for a final path ("\\Device\\HarddiskVolume2\\...": the volume's NT
// name, which every volume has) in UTF-16 characters, which can be longer than the
// path it was opened by when that one holds short (8.3) names. Paths are
// given in the ANSI code page, and refused where it cannot spell them
// exactly in UTF-16.
const DWORD kFinalPathCapacity = 1024;

// The character after the one at `p` in code page `codePage`.
const char* NextChar(const char* p, UINT codePage);

// The last backslash of `path`, or NULL.
const char* FindLastBackslash(const char* path, UINT codePage);

// TRUE when two final paths name the same object: an ordinal comparison
// that ignores case as the file system does, not by the user's locale.
BOOL IsSameFinalPath(const WCHAR* a, const WCHAR* b);

// The final path of `name` in the folder whose final path is `folderFinal`,
// into `out` (kFinalPathCapacity characters). A volume's root already ends
// in a backslash and gets none added. `name` in the ANSI code page, or in
// UTF-16.
BOOL JoinFinalPath(WCHAR* out, const WCHAR* folderFinal, const char* name);
BOOL JoinFinalPath(WCHAR* out, const WCHAR* folderFinal, const WCHAR* name);
