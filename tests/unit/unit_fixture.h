// Scaffolding for the in-process tests: registry and scratch folders cleared
// before and after each test (the two shell values put back as they were),
// import hooks, menus read back, and double-byte text.
#ifndef TRAYMARK_UNIT_FIXTURE_H
#define TRAYMARK_UNIT_FIXTURE_H

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/import_table.h"

namespace unit {

static const char kOpenCommandKey[] = "Corvex\\Shell\\Open\\Command";
static const char kAppPathKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvex32.exe";
static const char kWinIniKey[] = "Software\\Velmora\\Corvex\\WinIni";
static const char kCorvexKey[] = "Software\\Velmora\\Corvex\\Corvex";
static const char kFileMenuKey[] = "Software\\Velmora\\Corvex\\filemenu";
static const char kShellFoldersKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char kCachePathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";
static const char kScratchRoot[] = "C:\\TraymarkUnit";

// --- Text of the ANSI code page in force -----------------------------------
// The double-byte rows take their characters from the code page the run is
// under (932, 936, 949, 950), so that each row checks a real character there.

// Two bytes that make one character of the code page and come back unchanged
// from Unicode.
inline bool IsRealDoubleByte(BYTE lead, BYTE trail)
{
    const char bytes[3] = { (char)lead, (char)trail, 0 };
    WCHAR wide[2];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, 2, wide, 2) != 1)
        return false;
    char back[4];
    BOOL lossy = FALSE;
    return WideCharToMultiByte(CP_ACP, 0, wide, 1, back, sizeof back, NULL, &lossy) == 2 && !lossy &&
           back[0] == bytes[0] && back[1] == bytes[1];
}

// The skip-th real character (from 0) whose trail byte passes the test, or "".
inline std::string FindDoubleByte(bool (*trailWanted)(BYTE), int skip = 0)
{
    for (int lead = 0x81; lead <= 0xFE; lead++) {
        if (!IsDBCSLeadByte((BYTE)lead))
            continue;
        for (int trail = 0x40; trail <= 0xFE; trail++) {
            if (trailWanted((BYTE)trail) && IsRealDoubleByte((BYTE)lead, (BYTE)trail) && skip-- == 0)
                return std::string(1, (char)lead) + (char)trail;
        }
    }
    return "";
}

inline bool IsBackslash(BYTE b) { return b == '\\'; }
inline bool IsLeadByte(BYTE b) { return IsDBCSLeadByte(b) != 0; }
inline bool IsAsciiLetter(BYTE b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

inline UINT MaxCharSize()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) ? info.MaxCharSize : 0;
}
inline bool IsDoubleByteCodePage() { return MaxCharSize() == 2; }

// Trail bytes that are backslashes exist in 932, 936 and 950, not in 949.
inline bool HasBackslashTrail() { return !FindDoubleByte(IsBackslash, 1).empty(); }

// Two characters for the rows that cut, count and search: with a backslash as
// trail byte where the code page has such, else with a letter.
inline const std::string &Wide1()
{
    static const std::string c = HasBackslashTrail() ? FindDoubleByte(IsBackslash, 0)
                                                     : FindDoubleByte(IsAsciiLetter, 0);
    return c;
}
inline const std::string &Wide2()
{
    static const std::string c = HasBackslashTrail() ? FindDoubleByte(IsBackslash, 1)
                                                     : FindDoubleByte(IsAsciiLetter, 1);
    return c;
}
// A character whose trail byte is itself in the lead-byte range.
inline const std::string &LeadTrail()
{
    static const std::string c = FindDoubleByte(IsLeadByte, 0);
    return c;
}
// A lead byte on its own, as a text cut after it leaves it.
inline std::string LoneLead() { return Wide1().substr(0, 1); }

// Rows written in code page 932's own bytes, for the tests that run under 932 only.
inline bool IsCodePage932() { return GetACP() == 932; }
#define REQUIRE_CP932() \
    if (!unit::IsCodePage932()) GTEST_SKIP() << "needs the double-byte code page 932"
// Code page 65001: a manifest's activeCodePage, or Windows' UTF-8 setting.
inline bool IsUtf8CodePage() { return GetACP() == CP_UTF8; }
#define REQUIRE_UTF8_CP() \
    if (!unit::IsUtf8CodePage()) GTEST_SKIP() << "needs the UTF-8 code page 65001"
#define REQUIRE_DOUBLE_BYTE_CP() \
    if (!unit::IsDoubleByteCodePage()) GTEST_SKIP() << "needs a double-byte code page"
#define REQUIRE_BACKSLASH_TRAIL() \
    if (!unit::IsDoubleByteCodePage() || !unit::HasBackslashTrail()) \
        GTEST_SKIP() << "needs a code page with backslashes as trail bytes"
#define REQUIRE_SINGLE_BYTE_CP() \
    if (unit::MaxCharSize() != 1) GTEST_SKIP() << "needs a single-byte code page"

inline bool KeyExists(HKEY root, const std::string &subkey)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void DeleteKeyTree(HKEY root, const std::string &subkey)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    std::vector<std::string> children;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string &child : children)
        DeleteKeyTree(root, subkey + "\\" + child);
    RegDeleteKeyA(root, subkey.c_str());
}

// name NULL or "" is the key's default value; bytes are stored exactly.
// RegSetValueExA stores a NUL it was not given when the byte after a string's
// data happens to be one; a non-NUL byte there keeps the data exactly as given.
inline void SetRaw(HKEY root, const char *subkey, const char *name, DWORD type, const std::string &bytes)
{
    std::string padded = bytes + '#';
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
        << subkey;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)padded.data(), (DWORD)bytes.size()))
        << subkey;
    RegCloseKey(key);
}

inline void SetText(HKEY root, const char *subkey, const char *name, const std::string &text)
{
    SetRaw(root, subkey, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

// Stored without a terminating NUL, as some writers leave it.
inline void SetTextNoNul(HKEY root, const char *subkey, const char *name, const std::string &text)
{
    SetRaw(root, subkey, name, REG_SZ, text);
}

inline void SetNumber(HKEY root, const char *subkey, const char *name, DWORD number)
{
    SetRaw(root, subkey, name, REG_DWORD, std::string((const char *)&number, sizeof number));
}

inline void RemoveValue(HKEY root, const char *subkey, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

inline void CreateEmptyKey(HKEY root, const char *subkey)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegCloseKey(key);
}

// The key afresh, holding only this value; type 0 leaves it empty.
inline void ResetKeyWithValue(HKEY root, const char *subkey, const char *name, DWORD type,
                              const std::string &bytes)
{
    DeleteKeyTree(root, subkey);
    CreateEmptyKey(root, subkey);
    if (type)
        SetRaw(root, subkey, name, type, bytes);
}

// One value as it was before the test; Restore puts it back, deleting the
// keys the test created on the way to it.
class SavedValue {
public:
    SavedValue(HKEY root, const char *subkey, const char *name)
        : root_(root), subkey_(subkey), name_(name) {}

    void Save()
    {
        firstMissing_.clear();
        for (size_t pos = 0;;) {
            size_t next = subkey_.find('\\', pos);
            std::string part = subkey_.substr(0, next);
            if (!KeyExists(root_, part)) {
                firstMissing_ = part;
                break;
            }
            if (next == std::string::npos)
                break;
            pos = next + 1;
        }
        present_ = false;
        HKEY key;
        if (RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        if (RegQueryValueExA(key, name_.c_str(), NULL, &type_, NULL, &size) == ERROR_SUCCESS) {
            data_.assign(size, 0);
            present_ = RegQueryValueExA(key, name_.c_str(), NULL, &type_,
                                        size ? (BYTE *)&data_[0] : NULL, &size) == ERROR_SUCCESS;
            data_.resize(size);
        }
        RegCloseKey(key);
    }

    void Restore() const
    {
        if (!firstMissing_.empty()) {
            DeleteKeyTree(root_, firstMissing_);
            return;
        }
        if (present_)
            SetRaw(root_, subkey_.c_str(), name_.c_str(), type_, data_);
        else
            RemoveValue(root_, subkey_.c_str(), name_.c_str());
    }

private:
    HKEY root_;
    std::string subkey_;
    std::string name_;
    std::string firstMissing_;
    bool present_ = false;
    DWORD type_ = 0;
    std::string data_;
};

inline void ClearCorvexKeys()
{
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Corvex");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Velmora");
    DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Velmora");
}

// --- Watching the program's own calls ---------------------------------------
// Swaps this program's import address table entries for one function, so that
// every call the agent's code makes goes to a stand-in first; calls made inside
// system DLLs are not seen. Restored when the hook ends.
class ImportHook {
public:
    ImportHook(const char *dll, const char *function, void *replacement)
        : slots_(ImportSlots(dll, function))
    {
        original_ = slots_.empty() ? NULL : *slots_[0];
        for (void **slot : slots_)
            WriteSlot(slot, replacement);
    }
    ~ImportHook()
    {
        for (void **slot : slots_)
            WriteSlot(slot, original_);
    }
    bool Installed() const { return !slots_.empty(); }
    void *Original() const { return original_; }

private:
    static std::vector<void **> ImportSlots(const char *dll, const char *function)
    {
        std::vector<void **> slots;
        VisitImportSlots(GetModuleHandleA(NULL), dll, function, [&](void **slot) { slots.push_back(slot); });
        return slots;
    }
    static void WriteSlot(void **slot, void *value) { WriteImportSlot(slot, value); }
    std::vector<void **> slots_;
    void *original_;
};

// --- Menus -----------------------------------------------------------------
struct MenuItem {
    UINT id;
    std::string text;
    bool separator;
};

// The items a builder puts into a fresh pop-up menu, read back.
inline std::vector<MenuItem> BuildAndReadMenu(void (*build)(HMENU))
{
    HMENU menu = CreatePopupMenu();
    build(menu);
    std::vector<MenuItem> items;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[600] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        bool separator = (GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR) != 0;
        items.push_back({ GetMenuItemID(menu, i), text, separator });
    }
    DestroyMenu(menu);
    return items;
}

// --- Files -----------------------------------------------------------------
inline void MakeFolders(const std::string &path)
{
    for (size_t pos = 3; pos != std::string::npos; pos = path.find('\\', pos + 1))
        CreateDirectoryA(path.substr(0, pos).c_str(), NULL);
    CreateDirectoryA(path.c_str(), NULL);
}

inline void MakeFile(const std::string &path)
{
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 2)
        MakeFolders(path.substr(0, slash));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    CloseHandle(file);
}

inline void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            // The short name keeps deep trees within the ANSI path limit.
            std::string child = path + "\\" + (found.cAlternateFileName[0] ? found.cAlternateFileName : name);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

inline std::string ShortPath(const std::string &path)
{
    char buffer[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return n && n < sizeof buffer ? std::string(buffer) : std::string();
}

inline std::string Lower(std::string text)
{
    if (!text.empty())
        CharLowerA(&text[0]);
    return text;
}

inline std::string Upper(std::string text)
{
    if (!text.empty())
        CharUpperA(&text[0]);
    return text;
}

// GetTempPathA reads TMP first, then TEMP; both point elsewhere while it lives.
class TempPathOverride {
public:
    explicit TempPathOverride(const std::string &folder)
    {
        Save("TMP", &tmp_, &hadTmp_);
        Save("TEMP", &temp_, &hadTemp_);
        SetEnvironmentVariableA("TMP", folder.c_str());
        SetEnvironmentVariableA("TEMP", folder.c_str());
    }
    ~TempPathOverride()
    {
        SetEnvironmentVariableA("TMP", hadTmp_ ? tmp_.c_str() : NULL);
        SetEnvironmentVariableA("TEMP", hadTemp_ ? temp_.c_str() : NULL);
    }

private:
    static void Save(const char *name, std::string *value, bool *had)
    {
        char buffer[1024];
        DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        *had = n > 0 && n < sizeof buffer;
        if (*had)
            *value = buffer;
    }
    std::string tmp_, temp_;
    bool hadTmp_ = false, hadTemp_ = false;
};

// Each test starts with no Corvex in the registry and a fresh scratch folder
// of its own (Scratch()), and leaves the machine as it found it.
class CorvexRegistryTest : public testing::Test {
protected:
    CorvexRegistryTest()
        : cache_(HKEY_CURRENT_USER, kShellFoldersKey, "Cache"),
          directory_(HKEY_LOCAL_MACHINE, kCachePathsKey, "Directory") {}

    void SetUp() override
    {
        ClearCorvexKeys();
        cache_.Save();
        directory_.Save();
        RemoveTree(kScratchRoot);
        MakeFolders(Scratch());
    }

    void TearDown() override
    {
        ClearCorvexKeys();
        cache_.Restore();
        directory_.Restore();
        RemoveTree(kScratchRoot);
    }

    static std::string Scratch() { return std::string(kScratchRoot) + "\\Work"; }

    static void SetOpenCommand(const std::string &command)
    {
        SetText(HKEY_CLASSES_ROOT, kOpenCommandKey, NULL, command);
    }

    static void SetAppPath(const std::string &path) { SetText(HKEY_LOCAL_MACHINE, kAppPathKey, NULL, path); }

    // A registered Corvex in a scratch folder: the executable and its classic
    // help file. Returns the folder with its trailing backslash.
    static std::string InstallCorvex(const std::string &folderName)
    {
        std::string folder = Scratch() + "\\" + folderName + "\\";
        MakeFile(folder + "corvex32.exe");
        MakeFile(folder + "corvex.hlp");
        SetOpenCommand("\"" + folder + "corvex32.exe\" \"%1\"");
        return folder;
    }

private:
    SavedValue cache_;
    SavedValue directory_;
};

}  // namespace unit

#endif
