#include "tests/e2e/driver.h"
#include "tests/e2e/shell_tray.h"
#include "tests/e2e/menu_probe.h"

#include <shellapi.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace driver {

const char kCorvexKey[] = "Software\\Velmora\\Corvex\\Corvex";
const char kWinIniKey[] = "Software\\Velmora\\Corvex\\WinIni";
const char kFileMenuKey[] = "Software\\Velmora\\Corvex\\filemenu";
const char kOpenCommandKey[] = "Corvex\\Shell\\Open\\Command";
const char kAppPathKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvex32.exe";
const char kHandleValue[] = "Traymark Window Handle";
const char kMarkerName[] = "Corvex Traymark Active";
const char kAgentCaption[] = "About Corvex Traymark";
const char kCloseCaption[] = "Corvex Traymark - Close";
const char kMessageCaption[] = "Corvex Traymark";
const char kBareExe[] = "C:\\CorvexBare\\corvex32.exe";

static std::string StartupMessage(const char *first, bool nt)
{
    return std::string(first) + "\n\nEither:\n        reinstall Corvex 8.1 or later,\nor\n"
           "        remove the Corvex Traymark shortcut from the \"" + StartupFolder(nt) + "\" folder.";
}

std::string CorvexMissingText(bool nt)
{
    return StartupMessage("Corvex was not found or it is the incorrect version.", nt);
}

std::string HelpMissingText(bool nt) { return StartupMessage("The Corvex help file was not found.", nt); }

// ---------------------------------------------------------------- locations

std::string BuildDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    char *slash = strrchr(path, '\\');
    if (slash)
        slash[1] = 0;
    return path;
}

std::string TraymarkExe() { return BuildDir() + "traymark.exe"; }
std::string StandinExe() { return BuildDir() + "corvex32.exe"; }

// ----------------------------------------------------------------- registry

void SetBytes(HKEY root, const char *key, const char *value, DWORD type, const void *data, DWORD size)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL))
        << key;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, value, 0, type, (const BYTE *)data, size)) << key;
    RegCloseKey(k);
}

void SetString(HKEY root, const char *key, const char *value, const char *data)
{
    SetBytes(root, key, value, REG_SZ, data, (DWORD)strlen(data) + 1);
}

void DeleteValue(HKEY root, const char *key, const char *value)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, value);
        RegCloseKey(k);
    }
}

static void DeleteTreeRecursive(HKEY root, const char *key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
        return;
    char child[256];
    for (int guard = 0; guard < 1000; guard++) {
        DWORD size = sizeof child;
        if (RegEnumKeyExA(k, 0, child, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::string sub = std::string(key) + "\\" + child;
        DeleteTreeRecursive(root, sub.c_str());
    }
    RegCloseKey(k);
    RegDeleteKeyA(root, key);
}

void DeleteTree(HKEY root, const char *key) { DeleteTreeRecursive(root, key); }

bool ReadValue(HKEY root, const char *key, const char *value, std::string *data, DWORD *type)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    char buffer[70000];
    DWORD size = sizeof buffer;
    DWORD t = 0;
    LONG rc = RegQueryValueExA(k, value, NULL, &t, (BYTE *)buffer, &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS)
        return false;
    if (data)
        data->assign(buffer, size);
    if (type)
        *type = t;
    return true;
}

// --------------------------------------------------------- stand-in Corvex

std::string CorvexFolder() { return "C:\\Program Files\\Corvex Test\\"; }

static void WriteFileText(const std::string &path, const char *text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD written;
    WriteFile(f, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(f);
}

void UninstallCorvex()
{
    DeleteTree(HKEY_CLASSES_ROOT, "Corvex");
    DeleteTree(HKEY_LOCAL_MACHINE, kAppPathKey);
    DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Velmora");
    DeleteTree(HKEY_CURRENT_USER, "Software\\Velmora");
    DeleteFileA((CorvexFolder() + "corvex.hlp").c_str());
    DeleteFileA((CorvexFolder() + "cxwizard.hlp").c_str());
}

std::string InstallCorvex(const CorvexSetup &setup)
{
    std::string folder = CorvexFolder();
    CreateDirectoryA("C:\\Program Files", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    std::string exe = folder + "corvex32.exe";
    // A stand-in the last test started may still be ending, and a running
    // image cannot be replaced: under load that takes a while.
    DWORD error = 0;
    EXPECT_TRUE(WaitUntil([&] {
        if (CopyFileA(StandinExe().c_str(), exe.c_str(), FALSE))
            return true;
        error = GetLastError();
        return false;
    })) << StandinExe() << ": error " << error;
    std::string command = "\"" + exe + "\" \"%1\"";
    SetString(HKEY_CLASSES_ROOT, kOpenCommandKey, "", command.c_str());
    if (setup.version)
        SetString(HKEY_LOCAL_MACHINE, kWinIniKey, "win32_version", setup.version);
    DeleteFileA((folder + "corvex.hlp").c_str());
    DeleteFileA((folder + "cxwizard.hlp").c_str());
    if (setup.classicHelp)
        WriteFileText(folder + "corvex.hlp", "placeholder classic help\r\n");
    if (setup.wizardHelp)
        WriteFileText(folder + "cxwizard.hlp", "placeholder wizard help\r\n");
    return exe;
}

void PlaceHelpFile(const char *name, bool present)
{
    std::string path = CorvexFolder() + name;
    if (present)
        WriteFileText(path, "");
    else
        DeleteFileA(path.c_str());
}

bool InstallBareCopy()
{
    CreateDirectoryA("C:\\CorvexBare", NULL);
    return CopyFileA(StandinExe().c_str(), kBareExe, FALSE) &&
           CopyFileA((CorvexFolder() + "corvex.hlp").c_str(), "C:\\CorvexBare\\corvex.hlp", FALSE);
}

std::string LaunchLogPath()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "corvex-standin.log";
}

void ResetLaunchLog()
{
    std::string path = LaunchLogPath();
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("CORVEX_STANDIN_LOG", path.c_str());
}

std::vector<std::string> LaunchLog()
{
    std::vector<std::string> lines;
    HANDLE f = CreateFileA(LaunchLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return lines;
    std::string all;
    char buffer[4096];
    DWORD n;
    while (ReadFile(f, buffer, sizeof buffer, &n, NULL) && n > 0)
        all.append(buffer, n);
    CloseHandle(f);
    size_t start = 0;
    for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(all.substr(start, end - start));
    return lines;
}

std::vector<std::string> WaitForLaunches(size_t count, DWORD timeoutMs)
{
    std::vector<std::string> lines;
    WaitUntil([&] { lines = LaunchLog(); return lines.size() >= count; }, timeoutMs);
    return lines;
}

std::string ExpectedLaunch(const std::string &args)
{
    std::string line = "\"" + CorvexFolder() + "corvex32.exe\"";
    if (!args.empty())
        line += " " + args;
    return line;
}

// ------------------------------------------------------------------ process

static std::vector<HANDLE> g_processes;

// Starts "exe" args, or exe args unquoted; a failure is reported as the test's.
static bool Launch(const std::string &exe, const std::string &args, DWORD flags, PROCESS_INFORMATION *pi,
                   bool quoted = true)
{
    std::string commandLine = quoted ? "\"" + exe + "\"" : exe;
    if (!args.empty())
        commandLine += " " + args;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(0);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), buffer.data(), NULL, NULL, FALSE, flags, NULL, NULL, &si, pi)) {
        ADD_FAILURE() << "cannot start " << exe << " error " << GetLastError();
        return false;
    }
    return true;
}

HANDLE StartTraymark(const char *tail) { return StartTraymarkFrom(TraymarkExe(), tail, true); }

HANDLE StartTraymarkFrom(const std::string &exe, const char *tail, bool quoted)
{
    PROCESS_INFORMATION pi;
    // While the tray probe is up, every copy reports its tray calls to it;
    // while the menu probe is up (and the tray probe is not), its menus.
    bool hooked = TrayHookWanted();
    bool menuHooked = !hooked && MenuHookWanted();
    if (!Launch(exe, tail ? tail : "", hooked || menuHooked ? CREATE_SUSPENDED : 0, &pi, quoted))
        return NULL;
    std::string error;
    if (hooked && !ResumeWithTrayHook(pi, &error))
        ADD_FAILURE() << "no tray hook in " << exe << ": " << error;
    if (menuHooked && !ResumeWithMenuHook(pi, &error))
        ADD_FAILURE() << "no menu hook in " << exe << ": " << error;
    CloseHandle(pi.hThread);
    g_processes.push_back(pi.hProcess);
    return pi.hProcess;
}

HANDLE StartLookalike(HWND *window)
{
    *window = NULL;
    PROCESS_INFORMATION pi;
    // Its minute of life, stretched like every wait here: a slow host runs many
    // cases against one look-alike.
    if (!Launch(BuildDir() + "lookalike.exe", std::to_string(ScaledMs(60000)), 0, &pi))
        return NULL;
    CloseHandle(pi.hThread);
    g_processes.push_back(pi.hProcess);
    *window = WaitForProcessWindow(pi.dwProcessId, "#32770", kAgentCaption);
    return pi.hProcess;
}

DWORD MeasureStartFloor()
{
    ATOM added = MarkerPresent() ? 0 : GlobalAddAtomA(kMarkerName);
    DWORD took[3];
    for (DWORD &ms : took) {
        DWORD start = GetTickCount();
        if (!WaitForExit(StartTraymark(""), 10000))
            ADD_FAILURE() << "a plain start while a copy is marked did not end";
        ms = GetTickCount() - start;
    }
    if (added)
        GlobalDeleteAtom(added);
    std::sort(took, took + 3);
    return took[1];
}

DWORD ScaledMs(DWORD ms)
{
    char text[32];
    DWORD n = GetEnvironmentVariableA("TRAYMARK_TIME_FACTOR", text, sizeof text);
    double factor = n > 0 && n < sizeof text ? atof(text) : 1.0;
    if (ms == INFINITE || factor <= 1.0)
        return ms;
    double scaled = ms * factor;
    return scaled < INFINITE ? (DWORD)scaled : INFINITE - 1;
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD *exitCode)
{
    if (!process || WaitForSingleObject(process, ScaledMs(timeoutMs)) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(process, exitCode);
    return true;
}

void StopAll()
{
    for (HANDLE p : g_processes) {
        if (WaitForSingleObject(p, 0) == WAIT_TIMEOUT) {
            TerminateProcess(p, 99);
            WaitForSingleObject(p, ScaledMs(5000));
        }
        CloseHandle(p);
    }
    g_processes.clear();
}

DWORD ProcessId(HANDLE process) { return process ? GetProcessId(process) : 0; }

bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

HWND StartAgent(HANDLE *process, const char *tail)
{
    *process = StartTraymark(tail);
    return *process ? WaitForAgentReady(*process) : NULL;
}

bool SendCommand(HWND window, WPARAM id)
{
    DWORD_PTR result;
    return SendMessageTimeoutA(window, WM_COMMAND, id, 0, SMTO_NORMAL, ScaledMs(10000), &result) != 0;
}

bool Sync(HWND window)
{
    DWORD_PTR result;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ScaledMs(10000), &result) != 0;
}

void QuitAgent(HANDLE process, HWND window)
{
    EXPECT_TRUE(SendCommand(window, kIdmQuit));
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(process, 10000, &code)) << "agent did not end on IDM_QUIT";
    EXPECT_EQ(0u, code);
}

bool WaitForExitPumping(HANDLE process, DWORD timeoutMs, DWORD *exitCode)
{
    if (!process || !PumpUntil([&] { return !Running(process); }, timeoutMs))
        return false;
    if (exitCode)
        GetExitCodeProcess(process, exitCode);
    return true;
}

bool WaitForQuietExit(HANDLE process, DWORD *exitCode, bool *showedWindow, DWORD timeoutMs)
{
    DWORD pid = ProcessId(process);
    *showedWindow = false;
    auto ended = [&] {
        if (CountVisibleWindows(pid) > 0)
            *showedWindow = true;
        return !Running(process);
    };
    if (!process || !PumpUntil(ended, timeoutMs))
        return false;
    GetExitCodeProcess(process, exitCode);
    return true;
}

struct FindArgs {
    DWORD pid;
    const char *className;   // NULL: any
    const char *caption;     // NULL: any
    bool visibleOnly;
    std::vector<HWND> found;
};

static BOOL CALLBACK FindProc(HWND hwnd, LPARAM lParam)
{
    FindArgs *args = (FindArgs *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == args->pid && (!args->className || ClassName(hwnd) == args->className) &&
        (!args->caption || WindowText(hwnd) == args->caption) && (!args->visibleOnly || IsWindowVisible(hwnd)))
        args->found.push_back(hwnd);
    return TRUE;
}

// The process's top-level windows that match, in Z order.
static std::vector<HWND> ProcessWindows(DWORD pid, const char *className, const char *caption, bool visibleOnly)
{
    FindArgs args = { pid, className, caption, visibleOnly, {} };
    EnumWindows(FindProc, (LPARAM)&args);
    return args.found;
}

HWND FindProcessWindow(DWORD pid, const char *className, const char *caption)
{
    std::vector<HWND> found = ProcessWindows(pid, className, caption, false);
    return found.empty() ? NULL : found[0];
}

HWND WaitForProcessWindow(DWORD pid, const char *className, const char *caption, DWORD timeoutMs)
{
    HWND found = NULL;
    WaitUntil([&] { return (found = FindProcessWindow(pid, className, caption)) != NULL; }, timeoutMs);
    return found;
}

HWND WaitForAgentReady(HANDLE process, DWORD timeoutMs)
{
    DWORD pid = ProcessId(process);
    HWND agent = NULL;
    WaitUntil([&] {
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            return true;
        agent = FindProcessWindow(pid, "#32770", kAgentCaption);
        return agent && MarkerPresent() && HandleRecordText() == DecimalHandle(agent);
    }, timeoutMs);
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
        return NULL;
    return agent;
}

int CountProcessWindows(DWORD pid, const char *className, const char *caption)
{
    return (int)ProcessWindows(pid, className, caption, false).size();
}

int CountVisibleWindows(DWORD pid, const char *className, const char *caption)
{
    return (int)ProcessWindows(pid, className, caption, true).size();
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs)
{
    return WaitForProcessWindow(pid, "#32770", kMessageCaption, timeoutMs);
}

void AnswerMessageBox(DWORD pid, HWND owner, const std::string &text)
{
    HWND box = WaitForMessageBox(pid);
    ASSERT_NE((HWND)NULL, box) << "no message box";
    EXPECT_EQ(text, MessageBoxText(box));
    EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
    PressButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
}

bool ShowAboutBox(HWND agent)
{
    PostMessageA(agent, WM_COMMAND, kIdmAbout, 0);
    return WaitUntil([&] { return IsVisible(agent); });
}

HWND OpenCloseDialog(HWND agent, DWORD pid)
{
    PostMessageA(agent, WM_COMMAND, kIdmClose, 0);
    return WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
}

HWND CreateTestDialog(const char *caption, DLGPROC proc)
{
    DWORD storage[16] = {};   // DLGTEMPLATE, then empty menu, class and title
    DLGTEMPLATE *tpl = (DLGTEMPLATE *)storage;
    tpl->style = WS_POPUP | WS_CAPTION;
    tpl->cx = 100;
    tpl->cy = 50;
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(NULL), tpl, NULL, proc, 0);
    if (dialog)
        SetWindowTextA(dialog, caption);
    return dialog;
}

std::string WindowText(HWND hwnd)
{
    char text[2048];
    text[0] = 0;
    // WM_GETTEXT rather than GetWindowText: the latter does not read another
    // process's controls.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, ScaledMs(2000), NULL);
    return text;
}

std::string ClassName(HWND hwnd)
{
    char name[256];
    if (!GetClassNameA(hwnd, name, sizeof name))
        return "";
    return name;
}

std::string DialogItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? WindowText(item) : std::string();
}

std::string MessageBoxText(HWND box) { return DialogItemText(box, 0xFFFF); }

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

bool IsVisible(HWND hwnd) { return (GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

// --------------------------------------------------- marker and handle record

bool MarkerPresent() { return GlobalFindAtomA(kMarkerName) != 0; }

void ClearMarkers()
{
    for (int i = 0; i < 1000; i++) {
        ATOM atom = GlobalFindAtomA(kMarkerName);
        if (!atom || GlobalDeleteAtom(atom) != 0)
            break;
    }
}

std::string HandleRecordText(DWORD *type, bool *present)
{
    std::string data;
    DWORD t = 0;
    bool ok = ReadValue(HKEY_CURRENT_USER, kCorvexKey, kHandleValue, &data, &t);
    if (present)
        *present = ok;
    if (type)
        *type = t;
    if (!ok)
        return std::string();
    // The ANSI query may append a terminator that is not stored.
    return data.substr(0, data.find('\0'));
}

int HandleRecordStoredChars()
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kCorvexKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return -1;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(k, L"Traymark Window Handle", NULL, NULL, NULL, &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? (int)(size / sizeof(WCHAR)) : -1;
}

std::string DecimalHandle(HWND hwnd) { return std::to_string((long)(LONG_PTR)hwnd); }

void WriteHandleRecord(HWND hwnd)
{
    std::string text = DecimalHandle(hwnd);
    SetBytes(HKEY_CURRENT_USER, kCorvexKey, kHandleValue, REG_SZ, text.c_str(), (DWORD)text.size());
}

// ------------------------------------------------------------ Windows version

void SetWindowsVersion(const char *wineVersion)
{
    const char *key = "Software\\Wine\\AppDefaults\\traymark.exe";
    if (wineVersion)
        SetString(HKEY_CURRENT_USER, key, "Version", wineVersion);
    else
        DeleteValue(HKEY_CURRENT_USER, key, "Version");
}

std::string StartupFolder(bool nt)
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, path, nt ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP, FALSE);
    return path;
}

// -------------------------------------------------------- help viewer stand-in

static CRITICAL_SECTION g_helpLockStorage;

static CRITICAL_SECTION *HelpLock()
{
    static bool initialised = false;
    if (!initialised) {
        InitializeCriticalSection(&g_helpLockStorage);
        initialised = true;
    }
    return &g_helpLockStorage;
}
static std::vector<HelpRequest> g_help;
static HANDLE g_helpThread;
static DWORD g_helpThreadId;
static HANDLE g_helpReady;

// Wine's WinHelpA sends WM_COPYDATA with this tag and a record
// {WORD size; WORD command; LONG data; LONG reserved; WORD ofsFilename; WORD ofsData}.
static const ULONG_PTR kWinHelpTag = 0xA1DE505;

#pragma pack(push, 1)
struct WinHelpRecord {
    WORD size;
    WORD command;
    LONG data;
    LONG reserved;
    WORD ofsFilename;
    WORD ofsData;
};
#pragma pack(pop)

static LRESULT CALLBACK HelpViewerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT *cds = (const COPYDATASTRUCT *)lParam;
        if (cds->dwData == kWinHelpTag && cds->cbData >= sizeof(WinHelpRecord)) {
            const WinHelpRecord *record = (const WinHelpRecord *)cds->lpData;
            HelpRequest request;
            request.command = record->command;
            request.data = record->data;
            request.sender = (HWND)wParam;
            if (record->ofsFilename && record->ofsFilename < cds->cbData) {
                const char *name = (const char *)cds->lpData + record->ofsFilename;
                request.file.assign(name, strnlen(name, cds->cbData - record->ofsFilename));
            }
            EnterCriticalSection(HelpLock());
            g_help.push_back(request);
            LeaveCriticalSection(HelpLock());
        }
        return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static DWORD WINAPI HelpViewerThread(LPVOID)
{
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = HelpViewerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "MS_WINHELP";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("MS_WINHELP", "Help viewer stand-in", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                              wc.hInstance, NULL);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);   // the queue exists before we say ready
    SetEvent(g_helpReady);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(hwnd);
    UnregisterClassA("MS_WINHELP", wc.hInstance);
    return 0;
}

void StartHelpViewer()
{
    if (g_helpThread)
        return;
    ClearHelpRequests();
    g_helpReady = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_helpThread = CreateThread(NULL, 0, HelpViewerThread, NULL, 0, &g_helpThreadId);
    WaitForSingleObject(g_helpReady, ScaledMs(5000));
    CloseHandle(g_helpReady);
}

void StopHelpViewer()
{
    if (!g_helpThread)
        return;
    PostThreadMessageA(g_helpThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_helpThread, ScaledMs(5000));
    CloseHandle(g_helpThread);
    g_helpThread = NULL;
}

std::vector<HelpRequest> HelpRequests()
{
    EnterCriticalSection(HelpLock());
    std::vector<HelpRequest> copy = g_help;
    LeaveCriticalSection(HelpLock());
    return copy;
}

void ClearHelpRequests()
{
    EnterCriticalSection(HelpLock());
    g_help.clear();
    LeaveCriticalSection(HelpLock());
}

std::vector<HelpRequest> WaitForHelpRequests(size_t count, DWORD timeoutMs)
{
    std::vector<HelpRequest> seen;
    WaitUntil([&] { seen = HelpRequests(); return seen.size() >= count; }, timeoutMs);
    return seen;
}

std::string HelpRequestText(const HelpRequest &request, HWND sender)
{
    char text[400];
    snprintf(text, sizeof text, "%u %ld %s%s", request.command, (long)request.data, request.file.c_str(),
             sender && request.sender != sender ? " from another window" : "");
    return text;
}

std::string ExpectedHelpRequest(WORD command, LONG data, const char *file)
{
    HelpRequest request = { command, data, CorvexFolder() + file, NULL };
    return HelpRequestText(request);
}

// ------------------------------------------------------ tray clicks and keys

bool RealTrayKnows(HWND window, UINT id)
{
    NOTIFYICONDATAA record;
    ZeroMemory(&record, sizeof record);
    record.cbSize = 88;
    record.hWnd = window;
    record.uID = id;
    return Shell_NotifyIconA(NIM_MODIFY, &record) != FALSE;
}

void PostTrayClick(HWND agent, UINT mouseMessage, UINT iconId)
{
    PostMessageA(agent, 0x8064, iconId, mouseMessage);
}

HWND FindVisibleMenu(DWORD pid)
{
    std::vector<HWND> found = ProcessWindows(pid, "#32768", NULL, true);
    return found.empty() ? NULL : found[0];
}

HWND WaitForVisibleMenu(DWORD pid, DWORD timeoutMs)
{
    HWND found = NULL;
    WaitUntil([&] { return (found = FindVisibleMenu(pid)) != NULL; }, timeoutMs);
    return found;
}

HWND OpenTrayMenu(HWND agent, DWORD pid)
{
    PostTrayClick(agent, WM_RBUTTONUP);
    return WaitForVisibleMenu(pid);
}

void ChooseFromTop(int position)
{
    std::vector<BYTE> keys(1, VK_HOME);
    keys.insert(keys.end(), position, VK_DOWN);
    keys.push_back(VK_RETURN);
    TapKeys(keys);
}

void WaitPastDoubleClickTime() { Sleep(GetDoubleClickTime() + 800); }

void TapKeys(const std::vector<BYTE> &keys)
{
    for (BYTE vk : keys) {
        keybd_event(vk, (BYTE)MapVirtualKeyA(vk, 0), 0, 0);
        Sleep(30);
        keybd_event(vk, (BYTE)MapVirtualKeyA(vk, 0), KEYEVENTF_KEYUP, 0);
        Sleep(60);
    }
}

std::vector<std::string> LaunchesUpToMarker(HWND agent)
{
    const std::string marker = ExpectedLaunch("/favorites");
    auto markers = [&](const std::vector<std::string> &lines) {
        size_t n = 0;
        for (const std::string &line : lines)
            n += line == marker;
        return n;
    };
    size_t before = markers(LaunchLog());
    PostMessageA(agent, WM_COMMAND, 105, 0);
    std::vector<std::string> lines;
    WaitUntil([&] { lines = LaunchLog(); return markers(lines) > before; }, 10000);
    return lines;
}

// ------------------------------------------------------------------ fixture

void AgentTest::SetUp()
{
    ClearMarkers();
    UninstallCorvex();
    ResetLaunchLog();
    SetWindowsVersion(NULL);
}

bool AgentTest::Start(const char *tail)
{
    window = StartAgent(&agent, tail);
    pid = ProcessId(agent);
    return window != NULL;
}

void AgentTest::TearDown()
{
    StopAll();
    StopMenuProbe();
    StopHelpViewer();
    ClearMarkers();
    SetWindowsVersion(NULL);
}

}  // namespace driver
