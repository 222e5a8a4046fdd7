#include <gtest/gtest.h>

#include <windows.h>

#include <stdarg.h>

#include <string>

#include "Refusals.h"
#include "Report.h"

namespace {

std::string Line(DWORD error, const char* format, ...)
{
    char line[kReportLineCapacity];
    va_list arguments;
    va_start(arguments, format);
    FormatReport(line, error, format, arguments);
    va_end(arguments);
    return line;
}

TEST(Report, LongMessagesAreCutAndTheErrorIsKeptWhole)
{
    const std::string prefix = "QVLM: ";
    // The message has room for 1641 bytes: prefix, message, then 400 bytes
    // kept for the error and the line end.
    const size_t room = kReportLineCapacity - prefix.size() - 400;
    const std::string pending = ": error 0x2000000F (" + std::string(RefusalMeaning(kRefusedPending)) + ")";
    struct Row {
        size_t length;
        DWORD error;
        std::string expected;
    } rows[] = {
        {0, 0, prefix + "\n"},
        {5, 0, prefix + std::string(5, 'm') + "\n"},
        {room - 1, 0, prefix + std::string(room - 1, 'm') + "\n"},
        {room, 0, prefix + std::string(room - 4, 'm') + "...\n"},
        {room + 1, 0, prefix + std::string(room - 4, 'm') + "...\n"},
        {5000, 0, prefix + std::string(room - 4, 'm') + "...\n"},
        {room - 1, kRefusedPending, prefix + std::string(room - 1, 'm') + pending + "\n"},
        {5000, kRefusedPending, prefix + std::string(room - 4, 'm') + "..." + pending + "\n"},
        {3, 0xDEADBEEF, prefix + "mmm: error 3735928559 (no message)\n"},
    };
    for (const Row& row : rows) {
        const std::string message(row.length, 'm');
        const std::string line = Line(row.error, "%s", message.c_str());
        EXPECT_EQ(row.expected, line) << row.length << " " << row.error;
        EXPECT_LT(line.size(), kReportLineCapacity);
    }
    // The system's message, without its final period or line end.
    const std::string missing = Line(ERROR_FILE_NOT_FOUND, "%s", "m");
    EXPECT_EQ(0u, missing.find(prefix + "m: error 2 (")) << missing;
    EXPECT_EQ(")\n", missing.substr(missing.size() - 2)) << missing;
    EXPECT_EQ(std::string::npos, missing.find(".)")) << missing;
}

}  // namespace
