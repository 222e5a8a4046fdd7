#pragma once

#include <windows.h>

// Creates the folder `path` so that, from its first moment, only the
// process's user, Administrators and SYSTEM can open it: a protected DACL
// given at creation, handed down to every file and folder made inside.
// Another account can then neither add to it, nor change what is in it, nor
// make it or anything in it a link or a mount point. A volume that stores
// no security (FAT, exFAT) ignores the DACL; nothing there can be a link.
BOOL CreatePrivateFolder(const WCHAR* path);
