#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>

#include "BoundedString.h"
#include "CodePage.h"
#include "PathText.h"

namespace {

TEST(BoundedString, CopyAndAppendFitExactly)
{
    char buffer[8];
    ASSERT_TRUE(BoundedCopy(buffer, sizeof(buffer), "abc"));
    ASSERT_TRUE(BoundedAppend(buffer, sizeof(buffer), "defg"));
    EXPECT_STREQ("abcdefg", buffer);
}

TEST(BoundedString, OverflowLeavesTheBufferAsItWasAndIntact)
{
    char buffer[12];
    memset(buffer, 'Z', sizeof(buffer));
    ASSERT_TRUE(BoundedCopy(buffer, 8, "abcd"));
    EXPECT_FALSE(BoundedAppend(buffer, 8, "efgh"));  // needs 9 bytes
    EXPECT_STREQ("abcd", buffer);
    EXPECT_FALSE(BoundedCopy(buffer, 8, "12345678"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ('Z', buffer[8]);  // nothing written past the capacity
}

TEST(BoundedString, AppendRefusesAnUnterminatedBuffer)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(BoundedAppend(buffer, sizeof(buffer), ""));
}
const UINT kJapanese = 932;
const UINT kWestern = 1252;

// cp932 characters whose trail byte is the backslash code, and two
// single-byte half-width katakana (0xA1-0xDF are not lead bytes).
const std::string kSo = "\x83\x5c";
const std::string kHyo = "\x95\x5c";
const std::string kKana = "\xb6\xc5";

// Offset of the last backslash, or -1.
int LastBackslash(const std::string& path, UINT codePage)
{
    const char* found = FindLastBackslash(path.c_str(), codePage);
    return found == NULL ? -1 : static_cast<int>(found - path.c_str());
}

TEST(FindLastBackslash, StepsOverDoubleByteCharacters)
{
    struct Row {
        std::string path;
        int cp932;
        int cp1252;
    } rows[] = {
        {"a\\b\\c.txt", 3, 3},
        {"name.txt", -1, -1},
        {"dir\\" + kHyo + ".txt", 3, 5},
        {"a\\" + kSo + kHyo, 1, 5},
        {kHyo + "\\" + kSo + ".txt", 2, 4},
        {kSo, -1, 1},
        {"\xb6\\" + kSo, 1, 3},  // a single-byte katakana is no lead byte
        {"a\\\x83", 1, 1},  // a lead byte with nothing after it
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.cp932, LastBackslash(row.path, kJapanese)) << row.path;
        EXPECT_EQ(row.cp1252, LastBackslash(row.path, kWestern)) << row.path;
    }
}

TEST(FinalPaths, JoinedAndComparedAsTheFileSystemDoes)
{
    struct Row {
        const WCHAR* folder;
        const WCHAR* found;
        bool same;
    } rows[] = {
        {L"\\Device\\HarddiskVolume2\\Users\\me\\Temp", L"\\Device\\HarddiskVolume2\\Users\\me\\Temp\\{G}", true},
        {L"\\Device\\HarddiskVolume2\\Users\\me\\Temp", L"\\device\\HARDDISKVOLUME2\\users\\Me\\temp\\{g}", true},
        {L"\\Device\\HarddiskVolume2\\", L"\\Device\\HarddiskVolume2\\{G}", true},
        {L"\\Device\\Mup\\server\\share\\Temp", L"\\Device\\Mup\\server\\share\\Temp\\{G}", true},
        {L"\\Device\\Ramdisk\\Temp", L"\\Device\\Ramdisk\\Temp\\{G}", true},
        // Case is folded as the file system does, not by the user's locale.
        {L"\\Device\\HarddiskVolume2\\\x00c9t\x00e9", L"\\Device\\HarddiskVolume2\\\x00e9T\x00c9\\{g}", true},
        {L"\\Device\\HarddiskVolume2\\I", L"\\Device\\HarddiskVolume2\\\x0131\\{G}", false},
        {L"\\Device\\Mup\\server\\share\\Temp", L"\\Device\\HarddiskVolume2\\server\\share\\Temp\\{G}", false},
        {L"\\Device\\HarddiskVolume2\\Temp", L"\\Device\\HarddiskVolume2\\Temp\\{G}\\", false},
        {L"\\Device\\HarddiskVolume2\\Temp", L"\\Device\\HarddiskVolume2\\Temp\\\\{G}", false},
        {L"\\Device\\HarddiskVolume2\\Temp", L"\\Device\\HarddiskVolume2\\Temp\\{G}x", false},
        {L"\\Device\\HarddiskVolume2\\Temp", L"\\Device\\HarddiskVolume3\\Temp\\{G}", false},
        // Where a link in the temporary folder led.
        {L"\\Device\\HarddiskVolume2\\Windows\\Temp", L"\\Device\\HarddiskVolume2\\Program Files\\Service", false},
    };
    for (const Row& row : rows) {
        CFinalPath joined;
        ASSERT_TRUE(JoinFinalPath(&joined, row.folder, "{G}"));
        EXPECT_EQ(row.same, !!IsSameFinalPath(joined, row.found)) << (&row - rows);
    }
    CFinalPath joined;
    EXPECT_FALSE(JoinFinalPath(&joined, std::wstring(kFinalPathCapacity - 2, L'a').c_str(), "{G}"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
}

TEST(PathText, ChildrenJoinedWithOneBackslashAndPathsComparedOrdinally)
{
    struct Row {
        const char* folder;
        const char* name;
        const char* joined;
    } rows[] = {
        {"C:\\", "x.txt", "C:\\x.txt"},
        {"C:\\Temp", "{G}", "C:\\Temp\\{G}"},
        {"C:\\Temp\\", "{G}", "C:\\Temp\\{G}"},
        {"C:\\Temp", "a\\b.txt", "C:\\Temp\\a\\b.txt"},
    };
    for (const Row& row : rows) {
        CPathText joined;
        ASSERT_TRUE(JoinPath(&joined, row.folder, row.name)) << row.folder;
        EXPECT_STREQ(row.joined, joined) << row.folder;
        EXPECT_TRUE(IsSamePath(row.joined, std::string(joined.Get()).c_str()));
    }
    // What does not fit leaves the path as it was.
    CPathText joined;
    ASSERT_TRUE(joined.Assign("kept"));
    const std::string name(MAX_PATH - 8, 'n');
    SetLastError(0);
    EXPECT_FALSE(JoinPath(&joined, "C:\\Temp", name.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    EXPECT_STREQ("kept", joined);
    EXPECT_TRUE(JoinPath(&joined, "C:\\", name.c_str()));

    EXPECT_TRUE(IsSamePath("C:\\TEMP\\a.TXT", "c:\\temp\\A.txt"));
    EXPECT_FALSE(IsSamePath("C:\\Temp\\a.txt", "C:\\Temp\\a.txt "));
    EXPECT_FALSE(IsSamePath("C:\\Temp\\a.txt", "C:\\Temp\\b.txt"));
}

TEST(CodePages, ConversionsUseTheFlagsEachAllowsAndRefuseWhatItCannotSpell)
{
    // As documented for Windows, which refuses other flags (Wine accepts
    // them): UTF-8 takes only the invalid-character flags and no used-default
    // report, ISO-2022-JP (50220) no flags at all. A code page the system
    // lacks converts nothing.
    struct Row {
        UINT codePage;
        DWORD widening;
        DWORD narrowing;
        bool reportsDefault;
        const WCHAR* spelled;
        const WCHAR* unspellable;
        const char* invalidBytes;
    } rows[] = {
        {932, MB_ERR_INVALID_CHARS, WC_NO_BEST_FIT_CHARS, true, L"\x8868\x30bd.txt", L"caf\x00e9", "\x85\x40"},
        {1252, MB_ERR_INVALID_CHARS, WC_NO_BEST_FIT_CHARS, true, L"caf\x00e9.txt", L"\x8868.txt", NULL},
        {65001, MB_ERR_INVALID_CHARS, WC_ERR_INVALID_CHARS, false, L"\x8868 caf\x00e9", L"a\xd800z", "\xc3"},
        {50220, 0, 0, false, L"\x8868\x30bd.txt", L"caf\x00e9", NULL},
    };
    for (const Row& row : rows) {
        BOOL reportsDefault = !row.reportsDefault;
        EXPECT_EQ(row.widening, WideningFlags(row.codePage)) << row.codePage;
        EXPECT_EQ(row.narrowing, NarrowingFlags(row.codePage, &reportsDefault)) << row.codePage;
        EXPECT_EQ(row.reportsDefault, !!reportsDefault) << row.codePage;
        char narrow[64];
        WCHAR wide[64];
        if (IsValidCodePage(row.codePage)) {
            EXPECT_TRUE(NarrowExactly(row.codePage, row.spelled, narrow, sizeof(narrow))) << row.codePage;
            EXPECT_TRUE(WidenExactly(row.codePage, narrow, wide, 64)) << row.codePage;
            EXPECT_EQ(std::wstring(row.spelled), wide) << row.codePage;
        }
        SetLastError(0);
        EXPECT_FALSE(NarrowExactly(row.codePage, row.unspellable, narrow, sizeof(narrow))) << row.codePage;
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError()) << row.codePage;
        if (row.invalidBytes != NULL) {
            EXPECT_FALSE(WidenExactly(row.codePage, row.invalidBytes, wide, 64)) << row.codePage;
        }
    }
}

}  // namespace
