#include <gtest/gtest.h>

#include "HostClassification.h"

namespace {

OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD minor)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    return info;
}

struct Row {
    DWORD platform, major, minor;
    OsKind expected;
};

TEST(HostClassification, EveryRowOfTheTable)
{
    const Row rows[] = {
        {VER_PLATFORM_WIN32s, 3, 1, kOsKindLegacy},
        {VER_PLATFORM_WIN32s, 9, 9, kOsKindLegacy},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, kOsKindWin9x},   // 95
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, kOsKindWin9x},  // 98
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, kOsKindWin9x},  // Me
        {VER_PLATFORM_WIN32_WINDOWS, 3, 0, kOsKindUnknown},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, kOsKindUnknown},
        {VER_PLATFORM_WIN32_NT, 3, 51, kOsKindLegacy},
        {VER_PLATFORM_WIN32_NT, 4, 0, kOsKindNT4},
        {VER_PLATFORM_WIN32_NT, 5, 0, kOsKindNT5},  // 2000
        {VER_PLATFORM_WIN32_NT, 5, 1, kOsKindXP},
        {VER_PLATFORM_WIN32_NT, 5, 2, kOsKindNT5},  // Server 2003, XP x64
        {VER_PLATFORM_WIN32_NT, 5, 7, kOsKindNT5},
        {VER_PLATFORM_WIN32_NT, 6, 0, kOsKindNT6},
        {VER_PLATFORM_WIN32_NT, 6, 3, kOsKindNT6},
        {VER_PLATFORM_WIN32_NT, 10, 0, kOsKindNT6},
        {VER_PLATFORM_WIN32_NT, 0, 0, kOsKindUnknown},
        {VER_PLATFORM_WIN32_NT, 2, 9, kOsKindUnknown},
        {3, 6, 1, kOsKindUnknown},  // VER_PLATFORM_WIN32_CE
        {0xFFFFFFFF, 6, 1, kOsKindUnknown},
    };
    for (const Row& row : rows) {
        OSVERSIONINFOA info = Version(row.platform, row.major, row.minor);
        EXPECT_EQ(row.expected, ClassifyHost(&info))
            << "platform " << row.platform << " version " << row.major << "." << row.minor;
    }
}

TEST(HostClassification, UnreadableVersionIsUnknown)
{
    EXPECT_EQ(kOsKindUnknown, ClassifyHost(NULL));
}

TEST(HostClassification, ThisHostIsRecognised)
{
    EXPECT_NE(kOsKindUnknown, GetOsKind());
}

}  // namespace
