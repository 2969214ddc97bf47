#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text_ops.h"
#include "recent/menu_label.h"
#include "unit_fixture.h"

namespace {

// Characters of the double-byte code page in force (unit_fixture.h).
const std::string kWide1 = unit::Wide1();
const std::string kWide2 = unit::Wide2();

std::string Rep(const std::string &ch, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += ch;
    return s;
}

std::string Rep(char ch, int n) { return std::string(n, ch); }

std::string Shorten(const std::string &path)
{
    char buf[261];
    EXPECT_LT(path.size(), sizeof buf);
    strcpy(buf, path.c_str());
    ShortenMenuLabel(buf);
    return buf;
}

std::string Escape(const std::string &in)
{
    char out[LABEL_BUFFER_SIZE];
    EscapeAmpersands(out, in.c_str());
    return out;
}

struct LabelCase {
    const char *what;
    std::string path;
    std::string expected;
};

void CheckLabels(const std::vector<LabelCase> &cases)
{
    for (const LabelCase &c : cases)
        EXPECT_EQ(c.expected, Shorten(c.path)) << c.what;
}

}  // namespace

TEST(ShortenMenuLabelTest, SingleByteCases)
{
    CheckLabels({
        {"64 characters are kept", "C:\\a\\" + Rep('n', 55) + ".zip",
         "C:\\a\\" + Rep('n', 55) + ".zip"},
        {"65 characters: short folder kept whole, 56 of the name",
         "C:\\a\\" + Rep('n', 56) + ".zip", "C:\\a\\" + Rep('n', 56) + "..."},
        {"64-character folder, 10-character name",
         "C:\\" + Rep('d', 60) + "\\report.zip", "C:\\" + Rep('d', 47) + "...\\report.zip"},
        {"73-character name under a 12-character folder",
         "C:\\archives\\" + Rep('n', 69) + ".zip", "C:\\...\\" + Rep('n', 54) + "..."},
        {"58-character name no longer fits whole",
         "C:\\" + Rep('d', 30) + "\\" + Rep('n', 54) + ".zip", "C:\\...\\" + Rep('n', 54) + "..."},
        {"tail ending on the dot loses it, short folder",
         "C:\\a\\" + Rep('s', 55) + ".abcd", "C:\\a\\" + Rep('s', 55) + "..."},
        {"tail ending on the dot loses it, minimum head",
         "C:\\dir\\" + Rep('s', 53) + ".abcdefgh", "C:\\...\\" + Rep('s', 53) + "..."},
        {"name ending in a dot: 69 become 66",
         "C:\\" + Rep('f', 60) + "\\abcd.", "C:\\" + Rep('f', 52) + "...\\abcd..."},
        {"drive root only", "C:\\" + Rep('n', 70), "C:\\" + Rep('n', 58) + "..."},
        {"6-character folder is not cut", "C:\\ab\\" + Rep('n', 70),
         "C:\\ab\\" + Rep('n', 55) + "..."},
        {"7-character folder is cut to 3", "C:\\abc\\" + Rep('n', 70),
         "C:\\...\\" + Rep('n', 54) + "..."},
        {"dot only in the folder", "C:\\a.b\\" + Rep('n', 70), "C:\\...\\" + Rep('n', 54) + "..."},
        {"no backslash", Rep('x', 70), Rep('x', 61) + "..."},
        {"empty name", "C:\\" + Rep('d', 70) + "\\", "C:\\" + Rep('d', 57) + "...\\"},
    });
}

TEST(ShortenMenuLabelTest, WholeNameKeepsFolderStartOfSixtyMinusN)
{
    const int lengths[] = {1, 8, 30, 56, 57};
    for (int n : lengths) {
        std::string name = n >= 5 ? Rep('n', n - 4) + ".zip" : Rep('n', n);
        std::string path = "C:\\" + Rep('d', 80) + "\\" + name;
        EXPECT_EQ(path.substr(0, 60 - n) + "...\\" + name, Shorten(path)) << "name length " << n;
    }
}

TEST(ShortenMenuLabelTest, DoubleByteCharactersAreNeverSplit)
{
    REQUIRE_DOUBLE_BYTE_CP();
    CheckLabels({
        {"64 double-byte characters are kept", "C:\\" + Rep(kWide1, 57) + ".zip",
         "C:\\" + Rep(kWide1, 57) + ".zip"},
        {"65 characters", "C:\\" + Rep(kWide1, 58) + ".zip", "C:\\" + Rep(kWide1, 58) + "..."},
        {"cut in the folder", "C:\\" + Rep(kWide1, 60) + "\\report.zip",
         "C:\\" + Rep(kWide1, 47) + "...\\report.zip"},
        {"cut in the name", "C:\\archives\\" + Rep(kWide2, 73), "C:\\...\\" + Rep(kWide2, 54) + "..."},
        {"both cuts", Rep(kWide1, 10) + "\\" + Rep(kWide2, 70),
         Rep(kWide1, 3) + "...\\" + Rep(kWide2, 54) + "..."},
        {"dot after a double-byte stem", "C:\\a\\" + Rep(kWide2, 55) + ".abcd",
         "C:\\a\\" + Rep(kWide2, 55) + "..."},
        {"name ending in a dot", "C:\\" + Rep(kWide2, 60) + "\\abcd.",
         "C:\\" + Rep(kWide2, 52) + "...\\abcd..."},
    });
}

TEST(ShortenMenuLabelTest, Utf8SequencesAreNeverSplit)
{
    REQUIRE_UTF8_CP();
    const std::string a3 = "\xE3\x81\x82";
    CheckLabels({
        {"cut in the name", "C:\\Archives\\" + Rep(a3, 70), "C:\\...\\" + Rep(a3, 54) + "..."},
        {"cut in the folder", "C:\\" + Rep(a3, 60) + "\\report.zip",
         "C:\\" + Rep(a3, 47) + "...\\report.zip"},
        {"no backslash: the name starts after the first character", Rep(a3, 70), Rep(a3, 61) + "..."},
    });
    EXPECT_EQ("a&&", Escape("a&\xE3\x81"));   // a sequence cut short by the terminator is dropped
}

TEST(EscapeAmpersandsTest, DoublesEveryAmpersand)
{
    const LabelCase cases[] = {
        {"empty", "", ""},
        {"none", "C:\\a.zip", "C:\\a.zip"},
        {"one", "C:\\docs\\R&D notes.zip", "C:\\docs\\R&&D notes.zip"},
        {"pair", "a&&b", "a&&&&b"},
        {"alone", "&", "&&"},
    };
    for (const LabelCase &c : cases)
        EXPECT_EQ(c.expected, Escape(c.path)) << c.what;
}

TEST(EscapeAmpersandsTest, DoubleByteText)
{
    REQUIRE_DOUBLE_BYTE_CP();
    EXPECT_EQ(kWide1 + "&&" + kWide2, Escape(kWide1 + "&" + kWide2));
    EXPECT_EQ("a&&", Escape("a&" + unit::LoneLead()));   // a lead byte before the terminator is dropped
}

TEST(EscapeAmpersandsTest, HighBytesAreCharactersInSingleByteCodePage)
{
    REQUIRE_SINGLE_BYTE_CP();
    EXPECT_EQ("a&&\x95", Escape("a&\x95"));
}

// ---- Properties over generated paths ----

namespace {

struct Lcg {
    unsigned state;
    unsigned Next() { state = state * 1664525u + 1013904223u; return state >> 8; }
    int Below(int n) { return (int)(Next() % (unsigned)n); }
};

// Bytes of a whole character that starts with b; the generated text holds
// whole UTF-8 sequences only.
size_t WholeCharBytes(BYTE b)
{
    if (unit::IsUtf8CodePage())
        return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return IsDBCSLeadByte(b) ? 2 : 1;
}

size_t CharBytes(const std::string &s, size_t i)
{
    size_t n = WholeCharBytes((BYTE)s[i]);
    return i + n <= s.size() ? n : s.size() - i;
}

// Byte offsets where characters start, plus the end.
std::vector<size_t> CharStarts(const std::string &s)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < s.size(); i += CharBytes(s, i))
        starts.push_back(i);
    starts.push_back(s.size());
    return starts;
}

// The generator's characters of 0x80 and above, taken from the code page in
// force: its single bytes, and double bytes with every kind of trail byte.
struct HighAlphabet { std::vector<std::string> single, twoByte; };

const HighAlphabet &CodePageAlphabet()
{
    static const HighAlphabet alphabet = [] {
        HighAlphabet a;
        if (unit::IsUtf8CodePage()) {
            a.twoByte = {"\xC3\xA9", "\xE3\x81\x82", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
            return a;
        }
        if (!unit::IsDoubleByteCodePage()) {
            a.single = {"\xE9", "\xFC", "\x95", "\xDF"};
            return a;
        }
        for (int b = 0x80; b <= 0xFF; b++) {
            const char one[2] = { (char)b, 0 };
            WCHAR wide[2];
            if (!IsDBCSLeadByte((BYTE)b) && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, one, 1, wide, 2) == 1)
                a.single.push_back(one);
        }
        const std::string found[] = {
            unit::FindDoubleByte(unit::IsBackslash, 0), unit::FindDoubleByte(unit::IsBackslash, 1),
            unit::FindDoubleByte(unit::IsAsciiLetter, 0), unit::FindDoubleByte(unit::IsAsciiLetter, 40),
            unit::FindDoubleByte(unit::IsLeadByte, 0), unit::FindDoubleByte(unit::IsLeadByte, 3000),
        };
        for (const std::string &c : found)
            if (!c.empty())
                a.twoByte.push_back(c);
        return a;
    }();
    return alphabet;
}

std::string Pick(Lcg &rng, const std::vector<std::string> &from) { return from[rng.Below((int)from.size())]; }

std::string RandomChar(Lcg &rng, bool dbcs)
{
    static const char *const kSingle[] = {"a", "Z", "7", " ", "-", "~", "_", "(", ")", "'"};
    const HighAlphabet &high = CodePageAlphabet();
    int r = rng.Below(100);
    if (r < 10) return ".";
    if (r < 15) return "&";
    if (r < 22 && !high.single.empty()) return Pick(rng, high.single);
    if (dbcs && r < 50) return Pick(rng, high.twoByte);
    return kSingle[rng.Below(10)];
}

std::string RandomPath(Lcg &rng, bool dbcs)
{
    static const char *const kRoots[] = {"C:\\", "\\\\srv\\share\\", "D:", "", "x"};
    std::string path = kRoots[rng.Below(5)];
    int depth = rng.Below(9);
    for (int i = 0; i < depth; i++) {
        int len = rng.Below(40);
        for (int k = 0; k < len; k++)
            path += RandomChar(rng, dbcs);
        path += "\\";
    }
    int nameLen = rng.Below(4) == 0 ? rng.Below(90) : rng.Below(25);
    for (int k = 0; k < nameLen; k++)
        path += RandomChar(rng, dbcs);
    if (rng.Below(6) == 0)
        path += ".";

    // Cut to a random size at a character boundary; keep lengths near the limit common.
    size_t limit = rng.Below(3) == 0 ? 55 + rng.Below(30) : 1 + rng.Below(260);
    std::vector<size_t> starts = CharStarts(path);
    size_t end = 0;
    for (size_t s : starts)
        if (s <= limit)
            end = s;
    path.resize(end);
    if (path.empty())
        path = "a";
    return path;
}

bool Unescape(const std::string &escaped, std::string *out)
{
    for (size_t i = 0; i < escaped.size(); i++) {
        if (IsDBCSLeadByte((BYTE)escaped[i]) && i + 1 < escaped.size()) {
            *out += escaped.substr(i++, 2);
        } else if (escaped[i] == '&') {
            if (i + 1 >= escaped.size() || escaped[i + 1] != '&')
                return false;
            *out += escaped[i++];
        } else {
            *out += escaped[i];
        }
    }
    return true;
}

bool NoSplitCharacter(const std::string &s)
{
    size_t i = 0;
    while (i < s.size())
        i += WholeCharBytes((BYTE)s[i]);
    return i == s.size();
}

bool GuardsIntact(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != 0xCD)
            return false;
    return true;
}

// The label is head + ["...\"] + tail + ["..."], the head a start of the path
// within its folder part, the tail a start of the name. Fails with the reason.
testing::AssertionResult LabelShapeHolds(const std::string &path, const std::string &label,
                                         bool *corner)
{
    std::vector<size_t> ps = CharStarts(path);
    int L = (int)ps.size() - 1;
    int lastSlash = -1, lastDot = -1;
    for (int i = 0; i < L; i++) {
        if (path[ps[i]] == '\\') lastSlash = i;
        if (path[ps[i]] == '.') lastDot = i;
    }
    // Without a backslash the name starts after the first character.
    int D = lastSlash >= 0 ? lastSlash + 1 : 1;
    int N = L - D;
    std::string name = path.substr(ps[D]);
    int K = CountChars(label.c_str());
    *corner = N > 0 && N <= 57 && lastDot == L - 1;

    if (*corner && K != 66)
        return testing::AssertionFailure() << "name ending in a dot: " << K << " characters";
    if (!*corner && K > 64)
        return testing::AssertionFailure() << K << " characters";

    for (int h = D < 3 ? D : 3; h <= D; h++) {
        if (label.compare(0, ps[h], path, 0, ps[h]) != 0)
            break;
        std::string rest = label.substr(ps[h]);
        bool marker = h < D;
        if (marker) {
            if (rest.compare(0, 4, "...\\") != 0 || h + 4 > D)
                continue;
            rest = rest.substr(4);
        }
        if (rest == name) {
            if (marker && h == 60 - N && K == 64)
                return testing::AssertionSuccess();
            continue;
        }
        if (rest.size() < 3 || rest.compare(rest.size() - 3, 3, "...") != 0)
            continue;
        size_t tailBytes = rest.size() - 3;
        if (tailBytes >= name.size() || name.compare(0, tailBytes, rest, 0, tailBytes) != 0)
            continue;
        std::vector<size_t> ns = CharStarts(name);
        int t = -1;
        for (size_t i = 0; i < ns.size(); i++)
            if (ns[i] == tailBytes)
                t = (int)i;
        int dotInName = lastDot >= D ? lastDot - D : -1;
        if (t < 0 || (dotInName >= 0 && t == dotInName + 1))
            continue;   // split character, or the tail ends on the final dot
        // Only a name that does not fit whole is cut; the folder then keeps its
        // minimum of 3 characters, or all of it when "...\" would save nothing.
        bool headOk = *corner ? (t == N - 1 && marker && h == 60 - N)
                              : (N > 57 && (D < 7 ? !marker && h == D : marker && h == 3));
        if (!headOk)
            continue;
        if (K == 64 || (K == 63 && t == dotInName) || (*corner && K == 66))
            return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "label does not have the expected shape";
}

void CheckGeneratedPaths(bool dbcs)
{
    Lcg rng = {GetACP()};
    int shortened = 0, corners = 0, doubleByte = 0, failures = 0;
    for (int n = 0; n < 4000 && failures < 5; n++) {
        std::string path = RandomPath(rng, dbcs);
        unsigned char region[64 + 261 + 64];
        memset(region, 0xCD, sizeof region);
        char *buf = (char *)region + 64;
        memcpy(buf, path.c_str(), path.size() + 1);
        ShortenMenuLabel(buf);
        std::string label = buf;

        unsigned char escRegion[64 + LABEL_BUFFER_SIZE + 64];
        memset(escRegion, 0xCD, sizeof escRegion);
        EscapeAmpersands((char *)escRegion + 64, buf);
        std::string unescaped;
        bool escapedOk = Unescape((char *)escRegion + 64, &unescaped) && unescaped == label;

        bool corner = false;
        testing::AssertionResult shape = testing::AssertionSuccess();
        if (CountChars(path.c_str()) <= 64) {
            if (label != path)
                shape = testing::AssertionFailure() << "a label within the limit was changed";
        } else {
            shape = LabelShapeHolds(path, label, &corner);
            shortened++;
        }
        corners += corner;
        doubleByte += CountChars(path.c_str()) < (int)path.size();

        bool ok = shape && NoSplitCharacter(label) && escapedOk &&
                  GuardsIntact(region, 64) && GuardsIntact(region + 64 + 261, 64) &&
                  GuardsIntact(escRegion, 64) && GuardsIntact(escRegion + 64 + LABEL_BUFFER_SIZE, 64);
        if (!ok) {
            failures++;
            ADD_FAILURE() << "path #" << n << " \"" << path << "\" -> \"" << label << "\": "
                          << shape.message() << (NoSplitCharacter(label) ? "" : " split character")
                          << (escapedOk ? "" : " escaping") << " guards "
                          << GuardsIntact(region, 64) << GuardsIntact(region + 64 + 261, 64)
                          << GuardsIntact(escRegion, 64)
                          << GuardsIntact(escRegion + 64 + LABEL_BUFFER_SIZE, 64);
        }
    }
    // The generator must reach the interesting shapes.
    EXPECT_GT(shortened, 1000);
    EXPECT_GT(corners, 50);
    if (dbcs)
        EXPECT_GT(doubleByte, 2000);
}

}  // namespace

TEST(MenuLabelPropertyTest, GeneratedPaths)
{
    CheckGeneratedPaths(unit::IsDoubleByteCodePage() || unit::IsUtf8CodePage());
}
