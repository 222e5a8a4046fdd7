#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "CabinetPaths.h"
#include "PayloadExtraction.h"

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
        "name..",
        "CONSOLE.txt",
        "COM10",
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
        "com1.log",
        "LPT9",
        "prn.tar.gz",
    };
    for (const std::string& name : names)
        EXPECT_FALSE(IsSafeMemberName(name.c_str(), kJapanese)) << name;
}

TEST(IsSafeMemberName, TrailByteIsASeparatorOnlyOutsideDoubleByteCodePages)
{
    // In cp1252 the trail byte of kHyo ends a component, leaving an empty one.
    const std::string name = kHyo + "\\x.txt";
    EXPECT_TRUE(IsSafeMemberName(name.c_str(), kJapanese));
    EXPECT_FALSE(IsSafeMemberName(name.c_str(), kWestern));
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

using CreateFolderLevelsTest = TempFolder;

TEST_F(CreateFolderLevelsTest, CreatesEveryMissingLevelTopDown)
{
    ASSERT_TRUE(CreateDirectoryA((base_ + "a").c_str(), NULL));
    CreateFolderLevels((base_ + "a\\b\\c\\d\\e\\").c_str(), base_.size(), kWestern);
    EXPECT_TRUE(IsFolder("a\\b\\c\\d\\e"));
}

TEST_F(CreateFolderLevelsTest, NeverCreatesTheKnownPart)
{
    // The part before existingLength is taken as given, even when it is
    // missing: nothing is made above it.
    const std::string missing = base_ + "missing\\";
    CreateFolderLevels((missing + "x\\").c_str(), missing.size(), kWestern);
    EXPECT_FALSE(Exists("missing"));
}

TEST_F(CreateFolderLevelsTest, IgnoresAKnownPartLongerThanTheFolder)
{
    CreateFolderLevels((base_ + "a\\").c_str(), base_.size() + 10, kWestern);
    EXPECT_FALSE(Exists("a"));
}

class CabinetFileCallbackTest : public TempFolder {
protected:
    void SetUp() override
    {
        TempFolder::SetUp();
        ASSERT_TRUE(g_extractBase.Format("%s", base_.c_str()));
    }

    UINT Offer(const std::string& name, FILE_IN_CABINET_INFO_A& info)
    {
        memset(&info, 0, sizeof(info));
        info.NameInCabinet = name.c_str();
        return CabinetFileCallback(NULL, SPFILENOTIFY_FILEINCABINET, reinterpret_cast<UINT_PTR>(&info), 0);
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
    FILEPATHS_A paths = {};
    paths.Target = "x";
    EXPECT_EQ(static_cast<UINT>(NO_ERROR),
              CabinetFileCallback(NULL, SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<UINT_PTR>(&paths), 0));
    paths.Win32Error = ERROR_DISK_FULL;
    EXPECT_EQ(static_cast<UINT>(ERROR_DISK_FULL),
              CabinetFileCallback(NULL, SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<UINT_PTR>(&paths), 0));

    CABINET_INFO_A cabinet = {};
    char newPath[MAX_PATH] = {0};
    EXPECT_NE(static_cast<UINT>(NO_ERROR),
              CabinetFileCallback(NULL, SPFILENOTIFY_NEEDNEWCABINET, reinterpret_cast<UINT_PTR>(&cabinet),
                                  reinterpret_cast<UINT_PTR>(newPath)));
    EXPECT_EQ(static_cast<UINT>(NO_ERROR),
              CabinetFileCallback(NULL, SPFILENOTIFY_CABINETINFO, reinterpret_cast<UINT_PTR>(&cabinet), 0));
}

}  // namespace
