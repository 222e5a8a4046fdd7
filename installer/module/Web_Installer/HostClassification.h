#pragma once

#include <windows.h>

// Host operating system families, as far as the bootstrapper tells them apart.
typedef int OsKind;
const OsKind kOsKindUnknown = -1;
const OsKind kOsKindLegacy = 0;      // Win32s, Windows NT 3.x
const OsKind kOsKindNT4 = 1;
const OsKind kOsKindWin9x = 2;       // Windows 95, 98, Me
const OsKind kOsKindNT5 = 3;         // Windows 2000, Server 2003
const OsKind kOsKindXP = 4;
const OsKind kOsKindNT6 = 5;         // Windows Vista and later

// `info` is NULL when the version could not be read.
OsKind ClassifyHost(const OSVERSIONINFOA* info);
OsKind GetOsKind();
