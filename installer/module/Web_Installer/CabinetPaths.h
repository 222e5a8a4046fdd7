#pragma once

#include <windows.h>

// Path handling for cabinet members. Member names are byte strings in the
// ANSI code page `codePage`, whose double-byte characters may carry the
// backslash code (0x5C) as their trail byte; every scan here steps over
// whole characters so that such a byte is never taken for a separator.

// The last backslash of `path`, or NULL.
const char* FindLastBackslash(const char* path, UINT codePage);

// TRUE when `name` is a relative member path that cannot leave the folder it
// is expanded into: backslash-separated components, none empty, "." or "..",
// none a reserved device name (NUL, COM1.txt, ...), and no colon or forward
// slash anywhere.
BOOL IsSafeMemberName(const char* name, UINT codePage);

// Creates each missing folder of `folder` (which ends with a backslash) below
// its first `existingLength` bytes, the part known to exist, from the top
// down. Results are not reported: the expansion of the member itself tells.
void CreateFolderLevels(const char* folder, size_t existingLength, UINT codePage);
