#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_ops.h"
#include "unit_fixture.h"

namespace {

// Characters of the double-byte code page in force (unit_fixture.h).
const std::string kWide1 = unit::Wide1();
const std::string kWide2 = unit::Wide2();
const std::string kLeadTrail = unit::LeadTrail();
const std::string kLone = unit::LoneLead();

// Cases marked dbcs only count under a double-byte code page.
bool Applies(bool dbcs)
{
    return !dbcs || unit::IsDoubleByteCodePage();
}

std::string S(const std::string &a, const std::string &b = "", const std::string &c = "",
              const std::string &d = "")
{
    return a + b + c + d;
}

struct OffsetCase {
    std::string text;
    char ch;
    int expected;   // byte offset of the result from the start
};

void CheckOffsets(char *(*find)(const char *, char), const std::vector<OffsetCase> &cases)
{
    for (const OffsetCase &c : cases) {
        const char *t = c.text.c_str();
        EXPECT_EQ(c.expected, find(t, c.ch) - t) << "text \"" << c.text << "\"";
    }
}

// out prefilled with a marker so that bytes written past the terminator show.
std::string RunCopyChars(const std::string &in, int limit, char *out, int outSize)
{
    memset(out, 0xCD, outSize);
    CopyChars(out, in.c_str(), limit);
    return out;
}

struct TextCase { std::string text; int expected; bool dbcs; };

struct CopyCase { std::string in; int limit; std::string expected; };

void CheckCopyChars(const std::vector<CopyCase> &cases)
{
    char out[64];
    for (const CopyCase &c : cases) {
        EXPECT_EQ(c.expected, RunCopyChars(c.in, c.limit, out, sizeof out))
            << "in \"" << c.in << "\" limit " << c.limit;
        // It stops after the terminator.
        EXPECT_EQ('\xCD', out[c.expected.size() + 1]) << "in \"" << c.in << "\"";
    }
}

}  // namespace

TEST(FindCharForwardTest, SingleByteText)
{
    CheckOffsets(FindCharForward, {
        {"abc\\def\\g", '\\', 3},
        {"\\abc", '\\', 0},
        {"abc", '\\', 3},          // none: the terminator
        {"", '\\', 0},
        {"a.b.c", '.', 1},
    });
}

TEST(FindCharForwardTest, TrailByteIsNeverTheCharacter)
{
    REQUIRE_BACKSLASH_TRAIL();
    CheckOffsets(FindCharForward, {
        {S(kWide1, "\\x"), '\\', 2},
        {S(kWide1, kWide2), '\\', 4},            // no real backslash
        {S("a", kWide2, kWide1, "\\"), '\\', 5},
        {S(kLeadTrail, "\\"), '\\', 2},
    });
}

TEST(FindLastCharTest, SingleByteText)
{
    CheckOffsets(FindLastChar, {
        {"C:\\dir\\name.zip", '\\', 6},
        {"C:\\dir\\name.zip", '.', 11},
        {"name", '\\', 0},         // none: the start
        {"", '.', 0},
        {"a.b.", '.', 3},
    });
}

TEST(FindLastCharTest, TrailByteIsNeverTheCharacter)
{
    REQUIRE_BACKSLASH_TRAIL();
    CheckOffsets(FindLastChar, {
        {S("x\\", kWide1, kWide2), '\\', 1},
        {S(kWide1, kWide2), '\\', 0},
        {S("C:\\", kWide2, "\\", kWide1), '\\', 5},
        {S("a.", kWide1, kLeadTrail), '.', 1},
    });
}

TEST(LastCharPtrTest, PointsAtTheLastWholeCharacter)
{
    const TextCase cases[] = {
        {"abc", 2, false},
        {"a", 0, false},
        {"", 0, false},
        {S("a", kWide1), 1, true},
        {S(kWide1), 0, true},
        {S(kWide2, kLeadTrail), 2, true},
    };
    for (const TextCase &c : cases) {
        if (!Applies(c.dbcs))
            continue;
        const char *t = c.text.c_str();
        EXPECT_EQ(c.expected, LastCharPtr(t) - t) << "text \"" << c.text << "\"";
    }
}

TEST(CountCharsTest, CountsCharactersNotBytes)
{
    const TextCase cases[] = {
        {"", 0, false},
        {"C:\\a.zip", 8, false},
        {S(kWide1, kWide2), 2, true},
        {S("a\\", kWide1, "\\b"), 5, true},
        {S(kLeadTrail, kLeadTrail, kLeadTrail), 3, true},
    };
    for (const TextCase &c : cases) {
        if (!Applies(c.dbcs))
            continue;
        EXPECT_EQ(c.expected, CountChars(c.text.c_str())) << "text \"" << c.text << "\"";
    }
}

TEST(CountCharsTest, SingleByteCodePageCountsEveryByte)
{
    REQUIRE_SINGLE_BYTE_CP();
    EXPECT_EQ(4, CountChars("\x95\x5C\x83\x5C"));
}

TEST(CopyCharsTest, LimitCountsCharactersAndTerminates)
{
    CheckCopyChars({
        {"abcdef", 4, "abc"},
        {"abcdef", 1, ""},
        {"abcdef", 7, "abcdef"},
        {"abcdef", 50, "abcdef"},
        {"", 5, ""},
    });
}

TEST(CopyCharsTest, DoubleByteCharactersStayWhole)
{
    REQUIRE_DOUBLE_BYTE_CP();
    CheckCopyChars({
        {S(kWide1, kWide2, "a"), 3, S(kWide1, kWide2)},
        {S(kWide1, kWide2), 2, S(kWide1)},
        {S("a", kWide1), 2, "a"},
        {S(kLeadTrail, kLeadTrail), 2, S(kLeadTrail)},
        {S("ab", kLone), 10, "ab"},              // lead byte before the terminator
        {S(kWide2, kLone), 3, S(kWide2)},
    });
}

TEST(CopyCharsTest, FullDoubleByteLimitFitsTwiceTheCharacters)
{
    REQUIRE_DOUBLE_BYTE_CP();
    std::string in;
    for (int i = 0; i < 10; i++)
        in += kWide2;
    char out[64];
    // limit 4: 3 characters, 2 * 3 + 1 bytes.
    EXPECT_EQ(S(kWide2, kWide2, kWide2), RunCopyChars(in, 4, out, sizeof out));
    EXPECT_EQ('\xCD', out[7]);
}

// Under 65001 IsDBCSLeadByte and CharNextA see single bytes only.
const char kA3[] = "\xE3\x81\x82";         // U+3042, three bytes
const char kSmile4[] = "\xF0\x9F\x98\x80";  // U+1F600, four bytes

TEST(CountCharsTest, Utf8SequenceIsOneCharacter)
{
    REQUIRE_UTF8_CP();
    const TextCase counts[] = {
        {S(kA3, "a\xC2\xAE"), 3, false},
        {S(kSmile4, kA3), 2, false},
        {"\xE3" "a\x81", 3, false},       // a lead byte without its sequence stands alone
    };
    for (const TextCase &c : counts)
        EXPECT_EQ(c.expected, CountChars(c.text.c_str())) << "text \"" << c.text << "\"";
    const std::string last = S("a", kSmile4);
    EXPECT_EQ(1, LastCharPtr(last.c_str()) - last.c_str());
}

TEST(CopyCharsTest, Utf8SequencesStayWhole)
{
    REQUIRE_UTF8_CP();
    CheckCopyChars({
        {S(kA3, kA3, "a"), 2, kA3},
        {S("a", kSmile4, "b"), 3, S("a", kSmile4)},
        {S("ab", "\xE3\x81"), 10, "ab"},    // a sequence cut short by the terminator
    });
    char out[16];
    memset(out, 0xCD, sizeof out);
    strcpy(out, "ab");
    AppendTextBounded(out, S(kA3, "c").c_str(), 5);   // the sequence would need six bytes
    EXPECT_EQ("ab", std::string(out));
}

TEST(CopyTextBoundedTest, CopiesWholeCharactersThatFit)
{
    struct Case { std::string in; int size; std::string expected; bool dbcs; };
    const Case cases[] = {
        {"abcdef", 4, "abc", false},
        {"abc", 4, "abc", false},
        {"abc", 1, "", false},
        {S("a", kWide1), 3, "a", true},     // the character would leave no room for NUL
        {S("a", kWide1), 4, S("a", kWide1), true},
        {S("a", kLone), 8, "a", true},
    };
    char out[16];
    for (const Case &c : cases) {
        if (!Applies(c.dbcs))
            continue;
        memset(out, 0xCD, sizeof out);
        CopyTextBounded(out, c.in.c_str(), c.size);
        EXPECT_EQ(c.expected, std::string(out)) << "in \"" << c.in << "\" size " << c.size;
        EXPECT_EQ('\xCD', out[c.size]) << "in \"" << c.in << "\"";
    }
}

TEST(AppendTextBoundedTest, AppendsWithinTheBuffer)
{
    struct Case { std::string start, in; int size; std::string expected; bool dbcs; };
    const Case cases[] = {
        {"C:\\", "dir", 16, "C:\\dir", false},
        {"abc", "def", 5, "abcd", false},
        {"abcd", "e", 5, "abcd", false},
        {"ab", S(kWide1, kWide2), 5, S("ab", kWide1), true},
        {"ab", S(kWide1, kWide2), 4, "ab", true},
    };
    char out[32];
    for (const Case &c : cases) {
        if (!Applies(c.dbcs))
            continue;
        memset(out, 0xCD, sizeof out);
        strcpy(out, c.start.c_str());
        AppendTextBounded(out, c.in.c_str(), c.size);
        EXPECT_EQ(c.expected, std::string(out)) << "in \"" << c.in << "\" size " << c.size;
        EXPECT_EQ('\xCD', out[c.size]) << "in \"" << c.in << "\"";
    }
}

// The Unix locale of a run gives Wine its code page; a locale the machine lacks
// would quietly leave 1252 and skip every double-byte row.
TEST(CodePageOfTheRun, IsTheOneTheRunAsksFor)
{
    char asked[16];
    if (!GetEnvironmentVariableA("_TRAYMARK_CODE_PAGE", asked, sizeof asked))
        GTEST_SKIP() << "the run names no code page";
    EXPECT_EQ(std::string(asked), std::to_string(GetACP()));
}
