#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "CabinetPaths.h"
#include "CodePage.h"
#include "File.h"
#include "NoFollow.h"
#include "PayloadExtraction.h"
#include "TestSeam.h"

namespace {

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

TEST(IsSafeMemberName, AcceptsRelativeNamesBelowTheBase)
{
    const std::string names[] = {
        "QVLM_Management_Inst.exe",
        "InstData\\Common\\Redist\\redist.inf",
        "with space\\file name (1) {x}.txt",
        "..name",
        ".name",
        "a.b\\c d\\e",
        "CONSOLE.txt",
        "COM10",
        "COMA",
        "CONIN",
        "nul_device\\LPT.txt",
        kHyo,
        kHyo + "\\" + kSo + ".txt",
        kSo + kHyo + "\\" + kSo + kHyo + "\\" + kHyo,
        kKana + "\\" + kSo + ".txt",
    };
    for (const std::string& name : names)
        EXPECT_TRUE(IsSafeMemberName(name.c_str(), kJapanese)) << name;
}

TEST(IsSafeMemberName, RefusesNamesThatCanLeaveTheBase)
{
    const std::string names[] = {
        "",
        "..",
        "..\\evil.txt",
        "sub\\..\\..\\evil.txt",
        "sub\\..",
        ".",
        ".\\evil.txt",
        "sub\\.\\evil.txt",
        "\\evil.txt",
        "\\\\server\\share\\evil.txt",
        "sub\\",
        "sub\\\\evil.txt",
        "C:\\evil.txt",
        "C:evil.txt",
        "evil.txt:stream",
        "../evil.txt",
        "/evil.txt",
        "sub/evil.txt",
        kHyo + "\\..\\..\\evil.txt",
        "NUL",
        "sub\\con.txt",
        "Aux \\x",
        "NUL .txt",
        "sub\\com1 .log",
        "com1.log",
        "LPT9",
        "prn.tar.gz",
        "COM0",
        "lpt0.txt",
        "CONIN$",
        "sub\\conout$.log",
        "Clock$",
        "name..",
        "a.",
        ".. ",
        "x ",
        "sub \\x.txt",
        "sub.\\x.txt",
    };
    for (const std::string& name : names)
        EXPECT_FALSE(IsSafeMemberName(name.c_str(), kJapanese)) << name;
}

TEST(IsSafeMemberName, DependsOnTheCodePage)
{
    struct Row {
        std::string name;
        bool cp932;
        bool cp1252;
    } rows[] = {
        // In cp1252 the trail byte of kHyo ends a component, leaving an empty one.
        {kHyo + "\\x.txt", true, false},
        // B9 B2 B3 are superscript 1, 2, 3 in cp1252, katakana in cp932.
        {"COM\xb9", true, false},
        {"lpt\xb2.txt", true, false},
        {"sub\\Com\xb3", true, false},
        {"COM\xb9\xb2", true, true},
        {"COM\xb6", true, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.cp932, !!IsSafeMemberName(row.name.c_str(), kJapanese)) << row.name;
        EXPECT_EQ(row.cp1252, !!IsSafeMemberName(row.name.c_str(), kWestern)) << row.name;
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
        WCHAR joined[kFinalPathCapacity];
        ASSERT_TRUE(JoinFinalPath(joined, row.folder, "{G}"));
        EXPECT_EQ(row.same, !!IsSameFinalPath(joined, row.found)) << (&row - rows);
    }
    WCHAR joined[kFinalPathCapacity];
    EXPECT_FALSE(JoinFinalPath(joined, std::wstring(kFinalPathCapacity - 2, L'a').c_str(), "{G}"));
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

// A private folder under the temporary folder, removed afterwards.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        char name[64];
        snprintf(name, sizeof(name), "cabtest-%lu-%lu\\", GetCurrentProcessId(), GetTickCount());
        base_ = std::string(temp) + name;
        ASSERT_TRUE(CreateDirectoryA(base_.c_str(), NULL));
    }

    void TearDown() override { Remove(base_); }

    static void Remove(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(folder + name + "\\");
                else
                    DeleteFileA((folder + name).c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(folder.c_str());
    }

    // A file of `size` bytes, as SetupAPI would leave it; or, for a negative
    // size, a folder.
    void Put(const std::string& relative, long size, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        const std::string path = base_ + relative;
        if (size < 0) {
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << relative;
            return;
        }
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, attributes, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << relative;
        std::string data(static_cast<size_t>(size), 'x');
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, NULL));
        CloseHandle(file);
    }

    bool IsFolder(const std::string& relative) const
    {
        DWORD attributes = GetFileAttributesA((base_ + relative).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool Exists(const std::string& relative) const
    {
        return GetFileAttributesA((base_ + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string base_;
};

using FolderChainTest = TempFolder;

TEST_F(FolderChainTest, HoldsEveryLevelOfTheCurrentFolderOnly)
{
    CFolderChain chain;
    ASSERT_TRUE(chain.Open((base_ + "a\\b\\c\\").c_str(), base_.size(), kWestern));
    ASSERT_TRUE(chain.Open((base_ + "a\\b\\d\\").c_str(), base_.size(), kWestern));
    const std::wstring final = chain.FinalPath();
    EXPECT_EQ(L"\\a\\b\\d", final.substr(final.size() - 6));
    EXPECT_FALSE(MoveFileA((base_ + "a\\b").c_str(), (base_ + "moved").c_str()));
    EXPECT_FALSE(RemoveDirectoryA((base_ + "a\\b\\d").c_str()));
    EXPECT_TRUE(MoveFileA((base_ + "a\\b\\c").c_str(), (base_ + "a\\b\\c2").c_str())) << "no longer held";

    // A folder that only begins with the same bytes is another folder.
    ASSERT_TRUE(chain.Open((base_ + "a\\bb\\").c_str(), base_.size(), kWestern));
    EXPECT_TRUE(MoveFileA((base_ + "a\\b").c_str(), (base_ + "moved").c_str()));
    chain.Release();
    EXPECT_TRUE(MoveFileA((base_ + "a").c_str(), (base_ + "moved2").c_str()));

    // A file where a folder level should be.
    Put("f", 0);
    EXPECT_FALSE(chain.Open((base_ + "f\\g\\").c_str(), base_.size(), kWestern));
    EXPECT_FALSE(Exists("f\\g"));
}

TEST_F(FolderChainTest, RefusesALevelReachedByAnotherName)
{
    // A short (8.3) name reaches the folder, but is not its final path: the
    // comparison that catches links followed silently must catch this too.
    const std::string longName = "long folder name";
    Put(longName, -1);
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA((base_ + longName).c_str(), shortPath, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    const std::string shortName = FindLastBackslash(shortPath, kWestern) + 1;
    if (shortName == longName)
        GTEST_SKIP() << "this file system gives no short names";
    CFolderChain chain;
    EXPECT_FALSE(chain.Open((base_ + shortName + "\\").c_str(), base_.size(), kWestern)) << shortName;
    EXPECT_TRUE(chain.Open((base_ + longName + "\\").c_str(), base_.size(), kWestern));
}

using LeftoverTest = TempFolder;

TEST_F(LeftoverTest, EarlierRunIsRemovedDepthFirstOrTheRunRefused)
{
    const std::string folder = base_.substr(0, base_.size() - 1);
    auto empty = [&folder]() {
        WCHAR finalPath[kFinalPathCapacity];
        CFileHandle held(OpenRealFolder(folder.c_str(), NULL, finalPath));
        return held.IsValid() && RemoveFolderContents(held.Get(), folder.c_str(), finalPath);
    };
    Put("extra.dll", 10);
    Put("stale", -1);
    Put("stale\\deep", -1);
    Put("stale\\deep\\old.txt", 5, FILE_ATTRIBUTE_READONLY);
    Put("CDInst.cab", 100);
    // Names no ANSI code page spells whole: 1252 lacks the kanji, 932 the
    // accented letter.
    const std::wstring wideBase(base_.begin(), base_.end());
    const std::wstring unspellable = L"\x8868\x00e9";
    ASSERT_TRUE(CreateDirectoryW((wideBase + unspellable).c_str(), NULL));
    for (const std::wstring& name : {unspellable + L".txt", unspellable + L"\\" + unspellable + L".txt"}) {
        HANDLE file = CreateFileW((wideBase + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
    }
    EXPECT_TRUE(empty());
    for (const char* name : {"extra.dll", "stale", "CDInst.cab"})
        EXPECT_FALSE(Exists(name)) << name;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((wideBase + unspellable).c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((wideBase + unspellable + L".txt").c_str()));
    EXPECT_TRUE(empty()) << "nothing to remove";

    // A file held open by another program stays, with its folder.
    Put("busy", -1);
    Put("busy\\held.txt", 3);
    HANDLE holder = CreateFileA((base_ + "busy\\held.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_FALSE(empty());
    EXPECT_TRUE(Exists("busy\\held.txt"));
    CloseHandle(holder);

    // What appears where the payload is then created is never written over.
    Put("CDInst.cab", 7);
    CFile payload;
    EXPECT_FALSE(payload.Create((base_ + "CDInst.cab").c_str()));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((base_ + "CDInst.cab").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(7u, data.nFileSizeLow);
}

using PayloadFileTest = TempFolder;

TEST_F(PayloadFileTest, WrittenInPiecesOfAtMostTheCap)
{
    const DWORD mib = 1024 * 1024;
    // The product's own cap shows where the seam's is higher than it.
    struct Row {
        const char* cap;
        DWORD size;
        LONG pieces;
    } rows[] = {
        {"1048576", 0, 0},
        {"1048576", 1, 1},
        {"1048576", mib, 1},
        {"1048576", mib + 1, 2},
        {"1048576", 20 * mib + 7, 21},
        {"4294967295", 20 * mib + 7, 3},
        {"4294967295", kMaxWritePiece, 1},
    };
    std::string data(20 * mib + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131 + i / 4093) % 251);
    for (const Row& row : rows) {
        const std::string path = base_ + "CDInst.cab";
        DeleteFileA(path.c_str());
        ASSERT_TRUE(SetEnvironmentVariableA("WEB_INSTALLER_TEST_SEAM", (std::string("write-piece:") + row.cap).c_str()));
        LONG before = TestSeamPieces();
        CFile payload;
        ASSERT_TRUE(payload.Create(path.c_str()));
        payload.Write(data.data(), row.size);
        EXPECT_TRUE(payload.Close());
        SetEnvironmentVariableA("WEB_INSTALLER_TEST_SEAM", NULL);
        EXPECT_EQ(row.pieces, TestSeamPieces() - before) << row.cap << " " << row.size;

        std::string written(row.size + 1, '\0');
        DWORD read = 0;
        CFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
        ASSERT_TRUE(file.IsValid());
        ASSERT_TRUE(ReadFile(file.Get(), &written[0], row.size + 1, &read, NULL));
        EXPECT_EQ(row.size, read);
        EXPECT_TRUE(memcmp(data.data(), written.data(), row.size) == 0) << row.size;
    }
}

class CabinetFileCallbackTest : public TempFolder {
protected:
    void SetUp() override
    {
        TempFolder::SetUp();
        ASSERT_TRUE(g_extractBase.Format("%s", base_.c_str()));
        BeginExpansion();
    }

    UINT Offer(const std::string& name, FILE_IN_CABINET_INFO_A& info, DWORD size = 0)
    {
        memset(&info, 0, sizeof(info));
        info.NameInCabinet = name.c_str();
        info.FileSize = size;
        return CabinetFileCallback(NULL, SPFILENOTIFY_FILEINCABINET, reinterpret_cast<UINT_PTR>(&info), 0);
    }

    UINT Extracted(const std::string& target, UINT error = NO_ERROR)
    {
        FILEPATHS_A paths = {};
        paths.Target = target.c_str();
        paths.Win32Error = error;
        return CabinetFileCallback(NULL, SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<UINT_PTR>(&paths), 0);
    }
};

TEST_F(CabinetFileCallbackTest, MemberGetsItsTargetAndEveryFolderLevel)
{
    const char* names[] = {
        "root.txt",
        "one\\file.txt",
        "two1\\two2\\file.txt",
        "three1\\three2\\three3\\file.txt",
        "one\\below\\a\\b\\c\\file.txt",
        "with space\\(parens) {braces}\\file name.txt",
    };
    for (const char* name : names) {
        FILE_IN_CABINET_INFO_A info;
        EXPECT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer(name, info)) << name;
        EXPECT_EQ(base_ + name, info.FullTargetName) << name;
        std::string relative = name;
        size_t slash = relative.rfind('\\');
        if (slash != std::string::npos) {
            EXPECT_TRUE(IsFolder(relative.substr(0, slash))) << name;
        }
        EXPECT_FALSE(Exists(relative)) << "the member itself is left to SetupAPI: " << name;
        Put(relative, 0);
        EXPECT_EQ(static_cast<UINT>(NO_ERROR), Extracted(info.FullTargetName)) << name;
    }
    EXPECT_TRUE(EndExpansion());
}

TEST_F(CabinetFileCallbackTest, MembersCountOnlyWhenOnDiskAsDeclared)
{
    const long kMissing = -2;
    const long kFolder = -1;
    struct Row {
        const char* name;
        DWORD declared;
        long onDisk;
        UINT reported;
        bool intact;
    } rows[] = {
        {"a.bin", 5, 5, NO_ERROR, true},
        {"sub\\b.bin", 0, 0, NO_ERROR, true},
        {"short.bin", 3000, 1800, NO_ERROR, false},
        {"empty.bin", 3000, 0, NO_ERROR, false},
        {"long.bin", 5, 6, NO_ERROR, false},
        {"missing.bin", 5, kMissing, NO_ERROR, false},
        {"folder", 0, kFolder, NO_ERROR, false},
        {"failed.bin", 5, 5, ERROR_DISK_FULL, false},
    };
    for (const Row& row : rows) {
        BeginExpansion();
        FILE_IN_CABINET_INFO_A info;
        ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer(row.name, info, row.declared)) << row.name;
        if (row.onDisk != kMissing)
            Put(row.name, row.onDisk);
        UINT reply = Extracted(info.FullTargetName, row.reported);
        EXPECT_EQ(row.intact ? NO_ERROR : row.reported != NO_ERROR ? row.reported : ERROR_WRITE_FAULT, reply)
            << row.name;
        EXPECT_EQ(row.intact, !!EndExpansion()) << row.name;
    }
}

TEST_F(CabinetFileCallbackTest, EveryMemberHandedOutMustBeReportedOnce)
{
    FILE_IN_CABINET_INFO_A info;
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    EXPECT_FALSE(EndExpansion()) << "never reported extracted";

    BeginExpansion();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer("b.txt", info)) << "the previous member is still out";
    EXPECT_FALSE(EndExpansion());

    BeginExpansion();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    Put("a.txt", 0);
    Put("b.txt", 0);
    EXPECT_NE(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt")) << "another member than the one handed out";
    EXPECT_FALSE(EndExpansion());

    BeginExpansion();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("b.txt", info));
    Put("b.txt", 0);
    EXPECT_EQ(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt"));
    EXPECT_NE(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt")) << "reported twice";
    EXPECT_FALSE(EndExpansion());
}

TEST_F(CabinetFileCallbackTest, LeftoversAreRemovedOrTheMemberRefused)
{
    struct Row {
        const char* name;
        long size;
        DWORD attributes;
        bool heldOpen;
        UINT reply;
    } rows[] = {
        {"stale.txt", 4096, FILE_ATTRIBUTE_NORMAL, false, FILEOP_DOIT},
        {"sub\\readonly.txt", 3, FILE_ATTRIBUTE_READONLY, false, FILEOP_DOIT},
        {"folder", -1, 0, false, FILEOP_ABORT},
        {"busy.txt", 3, FILE_ATTRIBUTE_NORMAL, true, FILEOP_ABORT},
    };
    ASSERT_TRUE(CreateDirectoryA((base_ + "sub").c_str(), NULL));
    for (const Row& row : rows) {
        BeginExpansion();
        Put(row.name, row.size, row.attributes);
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (row.heldOpen)
            holder = CreateFileA((base_ + row.name).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        FILE_IN_CABINET_INFO_A info;
        EXPECT_EQ(row.reply, Offer(row.name, info)) << row.name;
        EXPECT_EQ(row.reply == FILEOP_DOIT, !Exists(row.name)) << row.name;
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
    }
}

TEST_F(CabinetFileCallbackTest, UnsafeMembersAreRefusedWithoutFolders)
{
    const char* names[] = {"..\\evil.txt", "sub\\..\\..\\evil.txt", "sub\\x\\..\\evil.txt", "C:\\evil.txt",
                           "\\evil.txt", "sub/evil.txt", "sub\\evil.txt:stream", "sub\\\\evil.txt"};
    for (const char* name : names) {
        FILE_IN_CABINET_INFO_A info;
        EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer(name, info)) << name;
        EXPECT_STREQ("", info.FullTargetName) << name;
    }
    EXPECT_FALSE(Exists("sub"));
}

TEST_F(CabinetFileCallbackTest, TargetPathMustFitIn259Bytes)
{
    ASSERT_LT(base_.size(), 100u);
    const std::string fits(MAX_PATH - 1 - base_.size(), 'f');
    FILE_IN_CABINET_INFO_A info;
    EXPECT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer(fits, info));
    EXPECT_EQ(base_ + fits, info.FullTargetName);

    const std::string tooLong = "sub\\" + std::string(MAX_PATH - base_.size() - 4, 'g');
    memset(info.FullTargetName, 'Z', sizeof(info.FullTargetName));
    info.NameInCabinet = tooLong.c_str();
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT),
              CabinetFileCallback(NULL, SPFILENOTIFY_FILEINCABINET, reinterpret_cast<UINT_PTR>(&info), 0));
    EXPECT_EQ('Z', info.FullTargetName[0]);
    EXPECT_FALSE(Exists("sub"));
}

TEST_F(CabinetFileCallbackTest, BaseTooLongForTheBufferOrUnsetIsRefused)
{
    ASSERT_TRUE(g_extractBase.Format("%s%s\\", base_.c_str(), std::string(MAX_PATH, 'b').c_str()));
    FILE_IN_CABINET_INFO_A info;
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer("a.txt", info));
    EXPECT_STREQ("", info.FullTargetName);

    ASSERT_TRUE(g_extractBase.Format("%s", ""));
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer("a.txt", info));
}

TEST_F(CabinetFileCallbackTest, OtherNotifications)
{
    CABINET_INFO_A cabinet = {};
    char newPath[MAX_PATH] = {0};
    EXPECT_NE(static_cast<UINT>(NO_ERROR),
              CabinetFileCallback(NULL, SPFILENOTIFY_NEEDNEWCABINET, reinterpret_cast<UINT_PTR>(&cabinet),
                                  reinterpret_cast<UINT_PTR>(newPath)));
    EXPECT_EQ(static_cast<UINT>(NO_ERROR),
              CabinetFileCallback(NULL, SPFILENOTIFY_CABINETINFO, reinterpret_cast<UINT_PTR>(&cabinet), 0));
}

}  // namespace
