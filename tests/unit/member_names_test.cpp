#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "MemberNames.h"

namespace {

const UINT kJapanese = 932;
const UINT kWestern = 1252;

// cp932 characters whose trail byte is the backslash code, and two
// single-byte half-width katakana (0xA1-0xDF are not lead bytes).
const std::string kSo = "\x83\x5c";
const std::string kHyo = "\x95\x5c";
const std::string kKana = "\xb6\xc5";

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

}  // namespace
