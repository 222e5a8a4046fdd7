#include "HostClassification.h"

#include <string.h>

OsKind ClassifyHost(const OSVERSIONINFOA* info)
{
    if (info == NULL)
        return kOsKindUnknown;

    switch (info->dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return kOsKindLegacy;
    case VER_PLATFORM_WIN32_WINDOWS:
        return info->dwMajorVersion == 4 ? kOsKindWin9x : kOsKindUnknown;
    case VER_PLATFORM_WIN32_NT:
        if (info->dwMajorVersion == 3)
            return kOsKindLegacy;
        if (info->dwMajorVersion == 4)
            return kOsKindNT4;
        if (info->dwMajorVersion == 5)
            return info->dwMinorVersion == 1 ? kOsKindXP : kOsKindNT5;
        if (info->dwMajorVersion >= 6)
            return kOsKindNT6;
        return kOsKindUnknown;
    default:
        return kOsKindUnknown;
    }
}

OsKind GetOsKind()
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return ClassifyHost(NULL);
    return ClassifyHost(&info);
}
