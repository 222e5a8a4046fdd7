#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>

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
