// Small pieces around the edges: the Corvex command line, the tray record,
// the published window handle and the string-table texts.
#include <windows.h>
#include <shellapi.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <string>

#include <gtest/gtest.h>

#include "app/handle_record.h"
#include "base/messages.h"
#include "mainapp/launcher.h"
#include "res/resource.h"
#include "ui/tray_icon.h"
#include "unit_fixture.h"

namespace {

TEST(BuildCommandLine, QuotedExecutableThenOptionOrArchive)
{
    const char *exe = "C:\\Corvex\\corvex32.exe";
    const char *spaced = "C:\\Program Files\\Corvex\\corvex32.exe";
    struct Case {
        const char *exe, *option, *archive;
        std::string line;
    } cases[] = {
        { exe, NULL, NULL, "\"C:\\Corvex\\corvex32.exe\"" },
        { exe, "", "", "\"C:\\Corvex\\corvex32.exe\"" },
        { exe, "/favorites", NULL, "\"C:\\Corvex\\corvex32.exe\" /favorites" },
        { exe, "/notm", "", "\"C:\\Corvex\\corvex32.exe\" /notm" },
        { exe, NULL, "D:\\My Files\\a.zip", "\"C:\\Corvex\\corvex32.exe\" \"D:\\My Files\\a.zip\"" },
        { exe, "", "D:\\a.zip", "\"C:\\Corvex\\corvex32.exe\" \"D:\\a.zip\"" },
        // Quotation marks inside the archive path are passed on unchanged.
        { exe, NULL, "D:\\say \"hi\".zip", "\"C:\\Corvex\\corvex32.exe\" \"D:\\say \"hi\".zip\"" },
        { spaced, NULL, NULL, "\"C:\\Program Files\\Corvex\\corvex32.exe\"" },
        { spaced, "/favorites", NULL, "\"C:\\Program Files\\Corvex\\corvex32.exe\" /favorites" },
        { spaced, NULL, "D:\\a.zip", "\"C:\\Program Files\\Corvex\\corvex32.exe\" \"D:\\a.zip\"" },
    };
    for (const Case &c : cases) {
        char line[COMMAND_LINE_SIZE];
        BuildCommandLine(line, c.exe, c.option, c.archive);
        EXPECT_EQ(c.line, std::string(line))
            << (c.option ? c.option : "(none)") << " / " << (c.archive ? c.archive : "(none)");
    }
}

TEST(BuildCommandLine, StaysInsideItsBuffer)
{
    std::string exe = "C:\\" + std::string(256, 'e');
    std::string archive = "D:\\" + std::string(600, 'a');
    char buffer[8 + COMMAND_LINE_SIZE + 8];
    memset(buffer, 0x5A, sizeof buffer);
    BuildCommandLine(buffer + 8, exe.c_str(), NULL, archive.c_str());
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(0x5A, (unsigned char)buffer[i]);
        EXPECT_EQ(0x5A, (unsigned char)buffer[8 + COMMAND_LINE_SIZE + i]);
    }
    std::string line(buffer + 8, strnlen(buffer + 8, COMMAND_LINE_SIZE));
    EXPECT_LT(line.size(), (size_t)COMMAND_LINE_SIZE);
    EXPECT_EQ("\"" + exe + "\" \"D:\\aaa", line.substr(0, exe.size() + 10));
}

TEST(FillTrayRecord, FixedFieldsAndTooltipCut)
{
    const std::string ascii70(70, 't');
    struct Case {
        const char *what;
        const char *tooltip;
        std::string expected;
        bool needsDoubleByte;
    } cases[] = {
        { "none", NULL, "", false },
        { "empty", "", "", false },
        { "short", "Corvex Traymark", "Corvex Traymark", false },
        { "63 characters", "", std::string(63, 't'), false },
        { "70 characters", ascii70.c_str(), std::string(63, 't'), false },
        // 62 bytes, then a character of two that would end at byte 64: left out.
        { "double-byte at the cut", "", std::string(62, 't'), true },
        // 61 bytes and the two-byte character end exactly at byte 63.
        { "double-byte just fitting", "", std::string(61, 't') + "\x82\xA0", true },
    };
    std::string at63 = std::string(63, 't');
    std::string dbcsCut = std::string(62, 't') + "\x82\xA0" + "tail";
    std::string dbcsFit = std::string(61, 't') + "\x82\xA0" + "tail";
    cases[3].tooltip = at63.c_str();
    cases[5].tooltip = dbcsCut.c_str();
    cases[6].tooltip = dbcsFit.c_str();

    HWND window = (HWND)(LONG_PTR)0x1234;
    HICON icon = (HICON)(LONG_PTR)0x5678;
    for (const Case &c : cases) {
        if (c.needsDoubleByte && !unit::IsCodePage932())
            continue;
        NOTIFYICONDATAA record;
        memset(&record, 0xA5, sizeof record);
        FillTrayRecord(&record, window, 1006, icon, c.tooltip);
        EXPECT_EQ(88u, record.cbSize) << c.what;
        EXPECT_EQ(window, record.hWnd);
        EXPECT_EQ(1006u, record.uID);
        EXPECT_EQ(7u, record.uFlags);
        EXPECT_EQ(0x8064u, record.uCallbackMessage);
        EXPECT_EQ(icon, record.hIcon);
        EXPECT_EQ(c.expected, std::string(record.szTip, strnlen(record.szTip, 64))) << c.what;
        // Everything past the text is zero, up to the end of the whole record.
        const BYTE *bytes = (const BYTE *)&record;
        size_t tipEnd = offsetof(NOTIFYICONDATAA, szTip) + c.expected.size();
        for (size_t i = tipEnd; i < sizeof record; i++) {
            if (bytes[i]) {
                ADD_FAILURE() << c.what << ": byte " << i << " not zeroed";
                break;
            }
        }
    }
}

TEST(ParseHandleText, LeadingSignedDecimal)
{
    struct Case {
        const char *text;
        DWORD length;
        LONG value;
    } cases[] = {
        { "123", 3, 123 },
        { "   42", 5, 42 },
        { "-17", 3, -17 },
        { "+5", 2, 5 },
        { "12ab34", 6, 12 },
        { "12 34", 5, 12 },
        { "abc", 3, 0 },
        { "", 0, 0 },
        { "   ", 3, 0 },
        { "-", 1, 0 },
        { "- 5", 3, 0 },
        { "2147483647", 10, 2147483647 },
        { "-2147483648", 11, (LONG)0x80000000 },
        // Only the bytes the query returned count; what follows is stale.
        { "12345", 3, 123 },
        { "  7789", 3, 7 },
        { "99", 0, 0 },
        { "-5", 1, 0 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.value, ParseHandleText(c.text, c.length)) << "\"" << c.text << "\" length " << c.length;
}

class HandleRecordTest : public unit::CorvexRegistryTest {};

// What the agent hands to RegSetValueExA for the handle record.
struct SetValueCall {
    int calls;
    std::string name;
    DWORD type;
    std::string data;   // exactly the bytes counted
};
SetValueCall gSetValue;
typedef LONG(WINAPI *RegSetValueExAFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
RegSetValueExAFn gRealRegSetValueExA;

LONG WINAPI RecordingRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                                    DWORD size)
{
    gSetValue.calls++;
    gSetValue.name = name ? name : "";
    gSetValue.type = type;
    gSetValue.data.assign((const char *)data, size);
    return gRealRegSetValueExA(key, name, reserved, type, data, size);
}

TEST_F(HandleRecordTest, RoundTripCountsNoTerminator)
{
    HWND real = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(real);
    HWND handles[] = { real, (HWND)(LONG_PTR)7, (HWND)(LONG_PTR)123456789, (HWND)(LONG_PTR)-42 };
    for (HWND hwnd : handles) {
        LONG value = (LONG)(LONG_PTR)hwnd;
        std::string text = std::to_string(value);
        gSetValue = SetValueCall();
        {
            unit::ImportHook hook("advapi32.dll", "RegSetValueExA", (void *)RecordingRegSetValueExA);
            ASSERT_TRUE(hook.Installed());
            gRealRegSetValueExA = (RegSetValueExAFn)hook.Original();
            WriteAgentWindowHandle(hwnd);
        }
        EXPECT_EQ(1, gSetValue.calls) << text;
        EXPECT_EQ("Traymark Window Handle", gSetValue.name);
        EXPECT_EQ((DWORD)REG_SZ, gSetValue.type);
        EXPECT_EQ(text, gSetValue.data) << "the length given is the text length";
        EXPECT_EQ(value, ReadAgentWindowHandle()) << text;

        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Velmora\\Corvex\\Corvex", 0,
                                               KEY_READ, &key));
        DWORD type = 0, size = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Traymark Window Handle", NULL, &type, NULL, &size));
        RegCloseKey(key);
        printf("[ stored   ] handle %s: %lu bytes in the wide view\n", text.c_str(), (unsigned long)size);
    }
    DestroyWindow(real);
}

TEST_F(HandleRecordTest, ReadingOddRecords)
{
    struct Case {
        const char *what;
        DWORD type;        // 0: no value
        std::string data;
        LONG value;
    } cases[] = {
        { "no value", 0, "", 0 },
        { "with terminator", REG_SZ, std::string("321", 4), 321 },
        { "blanks and trailing text", REG_SZ, "  77xyz", 77 },
        { "no digits", REG_SZ, "window", 0 },
        { "number type", REG_DWORD, std::string("\x05\x00\x00\x00", 4), 0 },
        { "over the 32-byte limit", REG_SZ, std::string(40, '9'), 0 },
    };
    for (const Case &c : cases) {
        unit::ResetKeyWithValue(HKEY_CURRENT_USER, unit::kCorvexKey, "Traymark Window Handle", c.type, c.data);
        EXPECT_EQ(c.value, ReadAgentWindowHandle()) << c.what;
    }
    unit::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Velmora");
    EXPECT_EQ(0, ReadAgentWindowHandle()) << "no key";
}

TEST(LoadText, StringTableOrFallback)
{
    struct Case {
        UINT id;
        const char *fallback;
        int size;
        std::string text;
    } cases[] = {
        { IDS_TITLE, "x", 256, "Corvex Traymark" },
        { IDS_FAVORITES, "x", 261, "Favorites..." },
        { IDS_OPEN, "x", 261, "Open Corvex" },
        { IDS_HELP, "x", 261, "Corvex Help" },
        { IDS_ABOUT, "x", 261, "About..." },
        { IDS_CLOSE, "x", 261, "Close..." },
        { 4711, "compiled in", 261, "compiled in" },
        { 4711, "compiled in", 5, "comp" },
        { 4711, "", 16, "" },
    };
    for (const Case &c : cases) {
        char buffer[300];
        memset(buffer, 0x5A, sizeof buffer);
        int n = LoadText(c.id, c.fallback, buffer, c.size);
        EXPECT_EQ(c.text, std::string(buffer)) << c.id;
        EXPECT_EQ((int)c.text.size(), n) << c.id;
        EXPECT_EQ(0x5A, (unsigned char)buffer[c.size]) << "written past the size, id " << c.id;
    }
}

}  // namespace
