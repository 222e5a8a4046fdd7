#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "MemberNames.h"
#include "Refusals.h"
#include "member_names.h"

namespace {

TEST(IsSafeMemberName, EveryRowOfTheSharedTable)
{
    const std::map<std::string, DWORD> reasons = {
        {"safe", ERROR_SUCCESS},
        {"empty", kRefusedNameEmpty},
        {"end", kRefusedNameEnd},
        {"device", kRefusedNameDevice},
        {"character", kRefusedNameCharacter},
    };
    const std::vector<MemberNameRow> rows = MemberNameTable();
    ASSERT_GT(rows.size(), 50u);
    for (const MemberNameRow& row : rows) {
        ASSERT_EQ(1u, reasons.count(row.verdict)) << "line " << row.line;
        SetLastError(ERROR_SUCCESS);
        const bool safe = IsSafeMemberName(row.name.c_str(), row.codePage);
        EXPECT_EQ(row.verdict == "safe", safe) << "line " << row.line << ": " << row.name;
        if (!safe) {
            EXPECT_EQ(reasons.at(row.verdict), GetLastError()) << "line " << row.line << ": " << row.name;
        }
    }
}

}  // namespace
