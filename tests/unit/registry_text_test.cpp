#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/registry_text.h"
#include "unit_fixture.h"

namespace {

const char kScratchParent[] = "Software\\TraymarkTest";
const char kScratchKey[] = "Software\\TraymarkTest\\unitA";
const int kGuard = 16;

struct TerminateCase {
    const char *what;
    std::string bytes;      // what the query left in the buffer
    DWORD length;           // what the query reported
    DWORD size;
    std::string expected;
    int codePage;           // 0: any, else only under that ANSI code page
};

bool Applies(int codePage)
{
    return codePage == 0 || (codePage == 932) == unit::IsCodePage932();
}

void CheckTerminate(const TerminateCase &c)
{
    char buf[64];
    memset(buf, 'X', sizeof buf);
    memcpy(buf, c.bytes.data(), c.bytes.size());
    TerminateRegText(buf, c.length, c.size);
    if (c.size == 0) {
        EXPECT_EQ(0, memcmp(buf, c.bytes.data(), c.bytes.size())) << c.what;
    } else {
        EXPECT_EQ(c.expected, std::string(buf)) << c.what;
    }
    for (size_t i = c.size > c.bytes.size() ? c.size : c.bytes.size(); i < sizeof buf; i++)
        ASSERT_EQ('X', buf[i]) << c.what << ": byte " << i << " written";
}

}  // namespace

TEST(TerminateRegTextTest, TerminatesInsideTheBuffer)
{
    const TerminateCase cases[] = {
        {"no terminator returned", "abc", 3, 10, "abc", 0},
        {"terminator included", std::string("abc\0", 4), 4, 10, "abc", 0},
        {"limit filled loses the last byte", "abcdef", 6, 6, "abcde", 0},
        {"length past the limit", "abcdefgh", 8, 4, "abc", 0},
        {"empty", "", 0, 10, "", 0},
        {"size 0 writes nothing", "abc", 3, 0, "", 0},
        {"size 1", "abc", 3, 1, "", 0},
        {"high byte is a character", "ab\x95", 3, 10, "ab\x95", 1252},
        {"lone lead byte at the end", "ab\x95", 3, 10, "ab", 932},
        {"lead byte cut off by the limit", "ab\x95\x5C", 4, 4, "ab", 932},
        {"trail byte 0x5C kept", "\x95\x5C\x83\x5C", 4, 5, "\x95\x5C\x83\x5C", 932},
        {"second character cut by the limit", "\x95\x5C\x83\x5C", 4, 4, "\x95\x5C", 932},
        {"trail byte in the lead range", "\x95\x95\x95\x95", 4, 10, "\x95\x95\x95\x95", 932},
        {"odd run of lead-range bytes", "\x95\x95\x95", 3, 10, "\x95\x95", 932},
        {"lead byte before an inner NUL", std::string("a\x95\0b", 4), 4, 10, "a", 932},
    };
    for (const TerminateCase &c : cases) {
        if (Applies(c.codePage))
            CheckTerminate(c);
    }
}

namespace {

// A value stored without its terminator, filling the limit exactly: Windows
// hands it back unterminated, Wine adds the terminator and answers
// ERROR_MORE_DATA. Either way the read must stay inside the buffer.
const int kAsPlatform = -1;

struct QueryCase {
    const char *name;
    DWORD type;
    std::string bytes;      // stored with exactly this byte count
    DWORD size;
    int ok;                 // 1, 0 or kAsPlatform
    std::string expected;   // the text when the read succeeds
};

class QueryRegTextTest : public testing::Test {
protected:
    HKEY key = NULL;

    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &key, NULL));
    }

    void TearDown() override
    {
        if (key)
            RegCloseKey(key);
        RegDeleteKeyA(HKEY_CURRENT_USER, kScratchKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kScratchParent);   // fails harmlessly when shared
    }

    bool PlatformReadsWhole(const char *name, DWORD size)
    {
        char buf[128];
        DWORD type = 0, length = size;
        return RegQueryValueExA(key, name, NULL, &type, (BYTE *)buf, &length) == ERROR_SUCCESS;
    }

    void Check(const QueryCase &c)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, c.name, 0, c.type,
                                                (const BYTE *)c.bytes.data(), (DWORD)c.bytes.size()));
        int ok = c.ok == kAsPlatform ? PlatformReadsWhole(c.name, c.size) : c.ok;

        char buf[128];
        memset(buf, 'X', sizeof buf);
        EXPECT_EQ(ok, QueryRegText(key, c.name, buf, c.size)) << c.name;
        for (DWORD i = c.size; i < c.size + kGuard; i++)
            EXPECT_EQ('X', buf[i]) << c.name << ": byte " << i << " written";
        std::string text(buf, strnlen(buf, c.size));
        EXPECT_LT(text.size(), c.size) << c.name << ": not terminated inside the buffer";
        EXPECT_EQ(ok ? c.expected : "", text) << c.name;
    }
};

}  // namespace

TEST_F(QueryRegTextTest, StringValuesAtTheLimit)
{
    const QueryCase cases[] = {
        {"stored terminator", REG_SZ, std::string("abc\0", 4), 16, 1, "abc"},
        {"no terminator", REG_SZ, "abc", 16, 1, "abc"},
        {"empty", REG_SZ, "", 16, 1, ""},
        {"expandable", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), 16, 1, "%TEMP%"},
        {"exactly the limit", REG_SZ, std::string("abcdefg\0", 8), 8, 1, "abcdefg"},
        {"limit filled without terminator", REG_SZ, "abcdefgh", 8, kAsPlatform, "abcdefg"},
        {"one past the limit", REG_SZ, std::string("abcdefgh\0", 9), 8, 0, ""},
        {"one past without terminator", REG_SZ, "abcdefghi", 8, 0, ""},
        {"number", REG_DWORD, std::string("\x41\x42\x43\x00", 4), 16, 0, ""},
        {"binary", REG_BINARY, std::string("abc\0", 4), 16, 0, ""},
    };
    for (const QueryCase &c : cases)
        Check(c);
}

TEST_F(QueryRegTextTest, MissingValueFails)
{
    char buf[16] = "garbage";
    EXPECT_EQ(0, QueryRegText(key, "absent", buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST_F(QueryRegTextTest, LoneLeadByteAtTheEndIsDropped)
{
    REQUIRE_CP932();
    // 表 (0x95 0x5C) and ソ (0x83 0x5C).
    const QueryCase cases[] = {
        {"lead byte at the limit", REG_SZ, "ab\x95\x5C", 4, kAsPlatform, "ab"},
        {"whole character fits", REG_SZ, std::string("ab\x95\x5C\0", 5), 5, 1, "ab\x95\x5C"},
        {"second character at the limit", REG_SZ, "\x95\x5C\x83\x5C", 4, kAsPlatform, "\x95\x5C"},
        {"trail bytes 0x5C kept", REG_SZ, "\x95\x5C\x83\x5C", 16, 1, "\x95\x5C\x83\x5C"},
    };
    for (const QueryCase &c : cases)
        Check(c);
}
