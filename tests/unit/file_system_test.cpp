#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "File.h"
#include "FolderChain.h"
#include "HeldFolder.h"
#include "Leftovers.h"
#include "Refusals.h"
#include "PathText.h"
#include "ProductNames.h"
#include "TestSeam.h"
#include "temp_folder.h"

namespace {

const UINT kWestern = 1252;

using FolderChainTest = TempFolder;

TEST_F(FolderChainTest, EveryLevelIsHeldInTheTreeUnderItsParent)
{
    CHeldFolder base;
    ASSERT_TRUE(base.OpenReal(base_.substr(0, base_.size() - 1).c_str(), NULL));
    CExpandedTree tree;
    CFolderChain chain(base, tree);
    ASSERT_TRUE(chain.Open((base_ + "a\\b\\c\\").c_str(), base_.size()));
    ASSERT_TRUE(chain.Open((base_ + "a\\b\\d\\").c_str(), base_.size()));
    const std::wstring final = chain.FinalPath();
    EXPECT_EQ(L"\\a\\b\\d", final.substr(final.size() - 6));
    EXPECT_EQ(3, chain.Deepest());
    // A folder that only begins with the same bytes is another folder.
    ASSERT_TRUE(chain.Open((base_ + "a\\bb\\").c_str(), base_.size()));
    // a, b under a, c and d under b, bb under a: each level once, parents first.
    const LONG parents[] = {kTreeRoot, 0, 1, 1, 0};
    ASSERT_EQ(5, tree.Count());
    for (LONG i = 0; i < tree.Count(); ++i) {
        EXPECT_EQ(parents[i], tree.At(i).parent) << i;
        EXPECT_TRUE(tree.At(i).folder) << i;
    }
    chain.Release();
    EXPECT_EQ(std::wstring(base.FinalPath()), chain.FinalPath());
    EXPECT_EQ(kTreeRoot, chain.Deepest());
    // The tree, not the chain, holds the levels until it closes.
    EXPECT_FALSE(MoveFileA((base_ + "a\\b\\c").c_str(), (base_ + "a\\b\\c2").c_str()));
    EXPECT_FALSE(RemoveDirectoryA((base_ + "a\\b\\d").c_str()));
    tree.Close();
    EXPECT_TRUE(MoveFileA((base_ + "a").c_str(), (base_ + "moved").c_str()));

    // A file where a folder level should be.
    Put("f", 0);
    EXPECT_FALSE(chain.Open((base_ + "f\\g\\").c_str(), base_.size()));
    EXPECT_FALSE(Exists("f\\g"));

    // Nothing is created outside the base, whatever the folder names: not in
    // a folder below it, nor in one of another name of the same length.
    Put("other", -1);
    std::string foreign = base_;
    foreign[foreign.size() - 2] = foreign[foreign.size() - 2] == 'x' ? 'y' : 'x';
    const std::string outside = base_ + "other\\";
    for (const std::string& folder : {outside, foreign}) {
        EXPECT_FALSE(chain.Open((folder + "x\\").c_str(), folder.size())) << folder;
        EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), GetLastError()) << folder;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "x").c_str())) << folder;
    }
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
    CHeldFolder base;
    ASSERT_TRUE(base.OpenReal(base_.substr(0, base_.size() - 1).c_str(), NULL));
    CExpandedTree tree;
    CFolderChain chain(base, tree);
    EXPECT_FALSE(chain.Open((base_ + shortName + "\\").c_str(), base_.size())) << shortName;
    EXPECT_TRUE(chain.Open((base_ + longName + "\\").c_str(), base_.size()));
}

using LeftoverTest = TempFolder;

TEST_F(LeftoverTest, EarlierRunIsRemovedDepthFirstOrTheRunRefused)
{
    const std::string folder = base_.substr(0, base_.size() - 1);
    CWidePathText stays;
    auto empty = [&folder, &stays]() {
        CHeldFolder held;
        return held.OpenReal(folder.c_str(), NULL) && RemoveFolderContents(held, &stays);
    };
    Put("extra.dll", 10);
    Put("stale", -1);
    Put("stale\\deep", -1);
    Put("stale\\deep\\old.txt", 5, FILE_ATTRIBUTE_READONLY);
    Put(PAYLOAD_FILE_NAME, 100);
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
    for (const char* name : {"extra.dll", "stale", PAYLOAD_FILE_NAME})
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
    EXPECT_EQ(wideBase + L"busy\\held.txt", stays.Get()) << "what stays is named";
    CloseHandle(holder);

    // What appears where the payload is then created is never written over.
    Put(PAYLOAD_FILE_NAME, 7);
    CFile payload;
    EXPECT_FALSE(payload.Create((base_ + PAYLOAD_FILE_NAME).c_str()));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((base_ + PAYLOAD_FILE_NAME).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(7u, data.nFileSizeLow);
}

TEST_F(LeftoverTest, DeletionAsksForTheNameToGoAtOnceThenForTheClassicDisposition)
{
    // The name goes at once, even while another program holds the file; the
    // platforms that refuse that (Wine, older Windows) get the classic
    // disposition, which leaves the name until that program closes it.
    const FILE_INFO_BY_HANDLE_CLASS dispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    const DWORD deleteAtOnce = 0x1 | 0x2;  // DELETE | POSIX_SEMANTICS
    Put("leftover.txt", 3);
    const LONG before = TestSeamDispositions();
    CHeldFolder folder;
    CWidePathText stays;
    EXPECT_TRUE(folder.OpenReal(base_.substr(0, base_.size() - 1).c_str(), NULL) &&
                RemoveFolderContents(folder, &stays));
    EXPECT_FALSE(Exists("leftover.txt"));
    ASSERT_LT(before, TestSeamDispositions());
    const TestSeamDispositionAsked first = TestSeamDispositionAt(before);
    EXPECT_EQ(dispositionEx, first.kind);
    EXPECT_EQ(deleteAtOnce, first.flags);
    ASSERT_EQ(first.done ? 1 : 2, TestSeamDispositions() - before);
    if (!first.done) {
        const TestSeamDispositionAsked classic = TestSeamDispositionAt(before + 1);
        EXPECT_EQ(FileDispositionInfo, classic.kind);
        EXPECT_EQ(1u, classic.flags);
        EXPECT_TRUE(classic.done);
    }
}

}  // namespace
