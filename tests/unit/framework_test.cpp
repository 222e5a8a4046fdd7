#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>

#include "File.h"
#include "Handle.h"
#include "ProductNames.h"
#include "TestSeam.h"
#include "temp_folder.h"

namespace {

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
        const std::string path = base_ + PAYLOAD_FILE_NAME;
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

}  // namespace
