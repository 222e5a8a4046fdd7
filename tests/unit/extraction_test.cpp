#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>
#include <string.h>

#include <memory>
#include <string>

#include "Expansion.h"
#include "HeldFolder.h"
#include "InstallerLaunch.h"
#include "PayloadExtraction.h"
#include "ProductNames.h"
#include "Refusals.h"
#include "member_names.h"
#include "temp_folder.h"

namespace {

class CabinetFileCallbackTest : public TempFolder {
protected:
    void SetUp() override
    {
        TempFolder::SetUp();
        ASSERT_TRUE(g_extractBase.Format("%s", base_.c_str()));
        ASSERT_TRUE(work_.OpenReal(base_.substr(0, base_.size() - 1).c_str(), NULL));
        Restart();
    }

    void TearDown() override
    {
        expansion_.reset();
        tree_.Close();
        work_.Close();
        TempFolder::TearDown();
    }

    // Forgets the expansion so far and begins another.
    void Restart()
    {
        expansion_.reset();
        tree_.Close();
        expansion_.reset(new CExpansion(work_, tree_));
    }

    UINT Notify(UINT notification, const void* param1, UINT_PTR param2 = 0)
    {
        return CabinetFileCallback(expansion_.get(), notification, reinterpret_cast<UINT_PTR>(param1), param2);
    }

    UINT Offer(const std::string& name, FILE_IN_CABINET_INFO_A& info, DWORD size = 0)
    {
        memset(&info, 0, sizeof(info));
        info.NameInCabinet = name.c_str();
        info.FileSize = size;
        return Notify(SPFILENOTIFY_FILEINCABINET, &info);
    }

    UINT Extracted(const std::string& target, UINT error = NO_ERROR)
    {
        FILEPATHS_A paths = {};
        paths.Target = target.c_str();
        paths.Win32Error = error;
        return Notify(SPFILENOTIFY_FILEEXTRACTED, &paths);
    }

    BOOL Finish() { return expansion_->Finish(); }

    CHeldFolder work_;
    CExpandedTree tree_;
    std::unique_ptr<CExpansion> expansion_;
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
    EXPECT_TRUE(Finish());
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
        Restart();
        FILE_IN_CABINET_INFO_A info;
        ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer(row.name, info, row.declared)) << row.name;
        if (row.onDisk != kMissing)
            Put(row.name, row.onDisk);
        UINT reply = Extracted(info.FullTargetName, row.reported);
        EXPECT_EQ(row.intact ? NO_ERROR : row.reported != NO_ERROR ? row.reported : ERROR_WRITE_FAULT, reply)
            << row.name;
        EXPECT_EQ(row.intact, !!Finish()) << row.name;
    }
}

TEST_F(CabinetFileCallbackTest, EveryMemberHandedOutMustBeReportedOnce)
{
    FILE_IN_CABINET_INFO_A info;
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    EXPECT_FALSE(Finish()) << "never reported extracted";

    Restart();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer("b.txt", info)) << "the previous member is still out";
    EXPECT_FALSE(Finish());

    Restart();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("a.txt", info));
    Put("a.txt", 0);
    Put("b.txt", 0);
    EXPECT_NE(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt")) << "another member than the one handed out";
    EXPECT_FALSE(Finish());

    Restart();
    ASSERT_EQ(static_cast<UINT>(FILEOP_DOIT), Offer("b.txt", info));
    Put("b.txt", 0);
    EXPECT_EQ(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt"));
    EXPECT_NE(static_cast<UINT>(NO_ERROR), Extracted(base_ + "b.txt")) << "reported twice";
    EXPECT_FALSE(Finish());
}

TEST_F(CabinetFileCallbackTest, MembersAreHeldUnderTheirFoldersAndNamedOnlyOnce)
{
    struct Row {
        const char* name;
        UINT reply;
        LONG parent;
    } rows[] = {
        {"root.txt", FILEOP_DOIT, kTreeRoot},
        {"sub\\one.txt", FILEOP_DOIT, 1},
        {"sub\\deeper\\two.txt", FILEOP_DOIT, 3},
        {"sub\\ONE.TXT", FILEOP_ABORT, 0},
    };
    // Entries: root.txt, sub, sub\one.txt, sub\deeper, sub\deeper\two.txt.
    for (const Row& row : rows) {
        FILE_IN_CABINET_INFO_A info;
        EXPECT_EQ(row.reply, Offer(row.name, info, 3)) << row.name;
        if (row.reply != FILEOP_DOIT)
            break;
        Put(row.name, 3);
        EXPECT_EQ(static_cast<UINT>(NO_ERROR), Extracted(info.FullTargetName)) << row.name;
        const CExpandedTree::Entry& member = tree_.At(tree_.Count() - 1);
        EXPECT_FALSE(member.folder) << row.name;
        EXPECT_EQ(row.parent, member.parent) << row.name;
    }
    EXPECT_EQ(static_cast<DWORD>(kRefusedNameTwice), GetLastError());
    EXPECT_FALSE(Finish());
    EXPECT_EQ(5, tree_.Count());
}

TEST_F(CabinetFileCallbackTest, UnsafeMembersAreRefusedWithoutFolders)
{
    // The names that every code page reads alike.
    size_t refused = 0;
    for (const MemberNameRow& row : MemberNameTable()) {
        bool ascii = true;
        for (char c : row.name)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (row.verdict == "safe" || !ascii)
            continue;
        Restart();
        FILE_IN_CABINET_INFO_A info;
        EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Offer(row.name, info)) << row.name;
        EXPECT_STREQ("", info.FullTargetName) << row.name;
        ++refused;
    }
    EXPECT_GT(refused, 40u);
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
    EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), Notify(SPFILENOTIFY_FILEINCABINET, &info));
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

using PathEntryPointTest = TempFolder;

TEST_F(PathEntryPointTest, WorkFolderGivenByPathIsHeldAsARealFolderFirst)
{
    // The unit tests' own module carries no payload and no digest.
    Put("file", 0);
    EXPECT_FALSE(ExtractPayload(GetModuleHandleA(NULL), (base_ + "file").c_str()));
    EXPECT_FALSE(ExtractPayload(GetModuleHandleA(NULL), (base_ + "missing").c_str()));
    Put("work", -1);
    Put("work\\" INSTALLER_FILE_NAME, 10);
    LaunchInstaller((base_ + "work").c_str());
    EXPECT_FALSE(Exists("work\\" PAYLOAD_FILE_NAME));
    EXPECT_TRUE(Exists("work\\" INSTALLER_FILE_NAME));
}

TEST_F(CabinetFileCallbackTest, OtherNotifications)
{
    CABINET_INFO_A cabinet = {};
    char newPath[MAX_PATH] = {0};
    EXPECT_NE(static_cast<UINT>(NO_ERROR),
              Notify(SPFILENOTIFY_NEEDNEWCABINET, &cabinet, reinterpret_cast<UINT_PTR>(newPath)));
    EXPECT_EQ(static_cast<UINT>(NO_ERROR), Notify(SPFILENOTIFY_CABINETINFO, &cabinet));
}

}  // namespace
