#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "app/command_tail.h"

namespace {

struct TailCase {
    const char *name;
    std::string commandLine;
    std::string tail;
};

// The tail of every row, whatever the code page; a row whose answer depends on
// it computes its expectation from the lead bytes of the page in force.
TEST(CommandTail, TailAfterTheProgramName)
{
    // A lead byte right before the blank takes the blank with it, as CharNextA steps.
    bool leadBeforeBlank = IsDBCSLeadByte(0x83) != 0;
    const TailCase cases[] = {
        { "quoted name", "\"C:\\Program Files\\Corvex\\traymark.exe\" /remove", "/remove" },
        { "unquoted name", "C:\\Corvex\\traymark.exe /remove", "/remove" },
        { "blanks and tabs after the name", "traymark.exe \t \t/clear", "/clear" },
        { "tab ends an unquoted name", "traymark.exe\t/clear", "/clear" },
        { "blanks inside and after the tail are kept", "traymark.exe  /remove now ", "/remove now " },
        { "no tail", "\"C:\\Corvex\\traymark.exe\"", "" },
        { "only blanks after the name", "traymark.exe \t ", "" },
        { "empty command line", "", "" },
        { "empty quoted name", "\"\" /clear", "/clear" },
        { "text straight after the closing quote", "\"traymark.exe\"/remove", "/remove" },
        { "no closing quote: all of it is the name", "\"C:\\Corvex Test\\traymark.exe /remove", "" },
        { "Western folder", "C:\\Programme\\J\xFCrgen\\traymark.exe /remove", "/remove" },
        { "folder starting with a byte of 0x80 and more", "C:\\\xC4pps\\traymark.exe /clear", "/clear" },
        { "no-break space is no blank", "C:\\a\xA0" "b\\traymark.exe /remove", "/remove" },
        { "double-byte folder, trail bytes 0x5C and 0x7C",
          "C:\\\x83\x5C\x83\x74\x83\x67\\\x83\x7C\\traymark.exe /clear", "/clear" },
        { "Chinese folder", "C:\\\xC8\xED\xBC\xFE\\traymark.exe /remove", "/remove" },
        { "lone lead byte before the blank", "C:\\x\x83 /remove", leadBeforeBlank ? "" : "/remove" },
    };
    for (const TailCase &c : cases) {
        const char *tail = CommandLineTail(c.commandLine.c_str());
        EXPECT_EQ(c.tail, tail) << c.name << " (code page " << GetACP() << ")";
        // The tail is the end of the command line itself, not a copy.
        EXPECT_EQ(c.commandLine.c_str() + c.commandLine.size() - c.tail.size(), tail) << c.name;
    }
}

}  // namespace
