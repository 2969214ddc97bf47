// Drives a running traymark.exe through many rounds of everything the user and
// the shell do to it, to show that it gives back what it takes.
//   soak_driver install     installs the stand-in Corvex and a recent-file list
//   soak_driver cycles N    N rounds of menu, About, Close dialog, launch, help,
//                           help-file missing, "TaskbarCreated", WM_SYSCOLORCHANGE
//   soak_driver soak        2000 menu rounds and 200 left-click launches while the
//                           agent's handle and memory figures are sampled
// The agent is started by the caller (so that its stderr can carry a trace),
// after "install" and before the other modes; with the same CORVEX_STANDIN_LOG
// in its environment, since the stand-ins it starts inherit the agent's.
// Exit: 0 fine, 1 growth beyond the allowance, 2 the agent did not respond as
// expected or no figure here could show a leak.

// Newer than the agent itself: the process figures came with Windows XP.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#include <windows.h>

#include "app/handle_record.h"
#include "app/startup.h"
#include "ui/agent_window.h"
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const UINT kTrayNotify = 0x8064;
static const WPARAM kTrayIconId = 1006;
enum { kAbout = 101, kOpen = 102, kHelp = 104, kClose = 106, kDismiss = IDCANCEL };
static const char kCorvexFolder[] = "C:\\Program Files\\Corvex Soak\\";
static const char kArchives[] = "C:\\Soak Archives\\";
static const DWORD kStepTimeout = 15000;

static HWND g_agent;
static DWORD g_agentPid;
static char g_launchLog[MAX_PATH];
static volatile LONG g_helpRequests;

[[noreturn]] static void Die(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fprintf(stderr, "soak_driver: ");
    vfprintf(stderr, format, args);
    fprintf(stderr, "\n");
    va_end(args);
    exit(2);
}

template <typename Pred> static bool WaitFor(Pred pred, DWORD timeoutMs = kStepTimeout)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return pred();
        Sleep(5);
    }
    return true;
}

// --- Installation ------------------------------------------------------------

static void SetString(HKEY root, const char *key, const char *value, const char *data)
{
    HKEY handle;
    if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &handle, NULL) != ERROR_SUCCESS)
        Die("cannot create registry key %s", key);
    LONG rc = RegSetValueExA(handle, value, 0, REG_SZ, (const BYTE *)data, lstrlenA(data) + 1);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS)
        Die("cannot write registry value %s", value);
}

static void Touch(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        Die("cannot create %s", path);
    DWORD written;
    WriteFile(file, "placeholder\r\n", 13, &written, NULL);
    CloseHandle(file);
}

static void Install()
{
    char self[MAX_PATH], source[MAX_PATH], target[MAX_PATH], path[MAX_PATH], temp[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    *strrchr(self, '\\') = 0;
    sprintf(source, "%s\\corvex32.exe", self);
    CreateDirectoryA(kCorvexFolder, NULL);
    sprintf(target, "%scorvex32.exe", kCorvexFolder);
    if (!CopyFileA(source, target, FALSE))
        Die("cannot copy %s to %s", source, target);
    sprintf(path, "%scorvex.hlp", kCorvexFolder);
    Touch(path);

    char command[MAX_PATH + 16];
    sprintf(command, "\"%s\" \"%%1\"", target);
    SetString(HKEY_CLASSES_ROOT, "Corvex\\Shell\\Open\\Command", NULL, command);
    SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Corvex\\WinIni", "win32_version", "8.1");

    // Present and vanished archives, inside and outside the temporary folder,
    // so that the menu takes both paths of the existence check every round.
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp)
        Die("no temporary folder");
    CreateDirectoryA(kArchives, NULL);
    static const struct { const char *name; bool inTemp, present; } kRecent[12] = {
        { "letters.zip", false, true },     { "music.rar", false, true },
        { "download-1.zip", true, true },   { "vanished.7z", false, false },
        { "Tom & Jerry.zip", false, true }, { "download-2.zip", true, false },
        { "an archive whose name is far too long to fit into the tray menu.zip", false, true },
        { "mail-attachment.zip", true, true }, { "invoices.cab", false, true },
        { "download-3.zip", true, false },  { "photos.zip", false, true },
        { "source.tar.gz", false, true },
    };
    for (int i = 0; i < 12; i++) {
        char name[16];
        sprintf(path, "%s%s", kRecent[i].inTemp ? temp : kArchives, kRecent[i].name);
        if (kRecent[i].present)
            Touch(path);
        else
            DeleteFileA(path);
        sprintf(name, "filemenu%d", i + 1);
        SetString(HKEY_CURRENT_USER, "Software\\Velmora\\Corvex\\filemenu", name, path);
    }
    DeleteFileA(g_launchLog);
}

// --- The running agent -------------------------------------------------------

// Read as a second copy of the agent reads it.
static HWND ReadAgentWindow()
{
    return (HWND)(LONG_PTR)ReadAgentWindowHandle();
}

static bool HasClassAndCaption(HWND hwnd, const char *className, const char *caption)
{
    char text[64];
    if (!GetClassNameA(hwnd, text, sizeof text) || strcmp(text, className) != 0)
        return false;
    if (!caption)
        return true;
    text[0] = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    return strcmp(text, caption) == 0;
}

static void FindAgent()
{
    bool ready = WaitFor([] {
        g_agent = ReadAgentWindow();
        return IsAgentWindow(g_agent) && GlobalFindAtomA(INSTANCE_MARKER) != 0;
    }, 30000);
    if (!ready)
        Die("no running agent");
    GetWindowThreadProcessId(g_agent, &g_agentPid);
    // The trace names processes by this number.
    printf("agent process id: %04lx\n", g_agentPid);
}

struct FindArgs {
    const char *className, *caption;
    bool mustBeVisible;
    HWND found;
};

static BOOL CALLBACK FindProc(HWND hwnd, LPARAM lParam)
{
    FindArgs *args = (FindArgs *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == g_agentPid && hwnd != g_agent && (!args->mustBeVisible || IsWindowVisible(hwnd)) &&
        HasClassAndCaption(hwnd, args->className, args->caption)) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND FindAgentWindow(const char *className, const char *caption, bool mustBeVisible)
{
    FindArgs args = { className, caption, mustBeVisible, NULL };
    EnumWindows(FindProc, (LPARAM)&args);
    return args.found;
}

static HWND WaitForAgentWindow(const char *className, const char *caption, bool mustBeVisible)
{
    HWND found = NULL;
    WaitFor([&] { return (found = FindAgentWindow(className, caption, mustBeVisible)) != NULL; });
    return found;
}

static void Post(UINT message, WPARAM wParam, LPARAM lParam = 0)
{
    if (!PostMessageA(g_agent, message, wParam, lParam))
        Die("the agent window is gone");
}

// --- Stand-in help viewer and launch log ------------------------------------

static LRESULT CALLBACK HelpViewerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        InterlockedIncrement(&g_helpRequests);
        return TRUE;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static DWORD WINAPI HelpViewerThread(LPVOID ready)
{
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = HelpViewerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "MS_WINHELP";
    RegisterClassA(&wc);
    CreateWindowA("MS_WINHELP", "Help viewer stand-in", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                  wc.hInstance, NULL);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    SetEvent((HANDLE)ready);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

static void StartHelpViewer()
{
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    CloseHandle(CreateThread(NULL, 0, HelpViewerThread, ready, 0, NULL));
    if (WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0)
        Die("the help viewer stand-in did not start");
    CloseHandle(ready);
}

static int LaunchCount()
{
    HANDLE file = CreateFileA(g_launchLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int lines = 0;
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        for (DWORD i = 0; i < got; i++)
            lines += buffer[i] == '\n';
    CloseHandle(file);
    return lines;
}

// --- One step each -----------------------------------------------------------

struct Counts {
    int cycles, menus, about, close, launches, help, helpMissing, taskbar, syscolor;
};
static Counts g_done;
static int g_round;

static void MenuRound()
{
    Post(kTrayNotify, kTrayIconId, WM_RBUTTONUP);
    if (!WaitForAgentWindow("#32768", NULL, true))
        Die("round %d: the tray menu did not open", g_round);
    // Dismissed through the owner window: needs no keyboard focus.
    Post(WM_CANCELMODE, 0);
    if (!WaitFor([] { return FindAgentWindow("#32768", NULL, true) == NULL; }))
        Die("round %d: the tray menu stayed open", g_round);
    g_done.menus++;
}

static void WaitForHelp(LONG before, const char *what)
{
    if (!WaitFor([before] { return g_helpRequests > before; }))
        Die("round %d: %s sent no help request", g_round, what);
}

static void AboutRound()
{
    Post(WM_COMMAND, kAbout);
    if (!WaitFor([] { return IsWindowVisible(g_agent) != 0; }))
        Die("round %d: the About box did not appear", g_round);
    LONG before = g_helpRequests;
    Post(WM_COMMAND, kDismiss);
    if (!WaitFor([] { return !IsWindowVisible(g_agent); }))
        Die("round %d: the About box stayed", g_round);
    WaitForHelp(before, "dismissing the About box");   // its help quit is its last act
    g_done.about++;
}

static void CloseDialogRound()
{
    Post(WM_COMMAND, kClose);
    HWND dialog = WaitForAgentWindow("#32770", "Corvex Traymark - Close", true);
    if (!dialog)
        Die("round %d: the Close dialog did not appear", g_round);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    if (!WaitFor([dialog] { return !IsWindow(dialog); }))
        Die("round %d: the Close dialog stayed", g_round);
    g_done.close++;
}

static void WaitForLaunch(int before, const char *what)
{
    if (!WaitFor([before] { return LaunchCount() > before; }))
        Die("round %d: %s started no Corvex (is CORVEX_STANDIN_LOG=%s exported to the agent?)",
            g_round, what, g_launchLog);
    g_done.launches++;
}

static void LaunchRound()
{
    int before = LaunchCount();
    Post(WM_COMMAND, kOpen);
    WaitForLaunch(before, "\"Open Corvex\"");
}

static void HelpRound()
{
    LONG before = g_helpRequests;
    Post(WM_COMMAND, kHelp);
    WaitForHelp(before, "\"Corvex Help\"");
    g_done.help++;
}

// Without the help file the agent names the Startup folder: the shell item list path.
static void HelpMissingRound()
{
    char file[MAX_PATH], away[MAX_PATH];
    sprintf(file, "%scorvex.hlp", kCorvexFolder);
    sprintf(away, "%scorvex.hlp.away", kCorvexFolder);
    if (!MoveFileExA(file, away, MOVEFILE_REPLACE_EXISTING))
        Die("cannot move %s away", file);
    Post(WM_COMMAND, kHelp);
    HWND box = WaitForAgentWindow("#32770", "Corvex Traymark", true);
    if (!box)
        Die("round %d: no message about the missing help file", g_round);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!WaitFor([box] { return !IsWindow(box); }))
        Die("round %d: the message box stayed", g_round);
    if (!MoveFileExA(away, file, MOVEFILE_REPLACE_EXISTING))
        Die("cannot move %s back", file);
    g_done.helpMissing++;
}

// Posted ones are handled in order, so a later step with a visible effect
// shows they were handled.
static void ShellNotificationsRound()
{
    static const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    Post(taskbarCreated, 0);
    g_done.taskbar++;
    Post(WM_SYSCOLORCHANGE, 0);
    g_done.syscolor++;
}

static void RunCycles(int rounds)
{
    for (g_round = 1; g_round <= rounds; g_round++) {
        MenuRound();
        AboutRound();
        CloseDialogRound();
        ShellNotificationsRound();
        LaunchRound();
        HelpRound();
        HelpMissingRound();
        g_done.cycles++;
    }
}

// --- Soak: figures of a process ----------------------------------------------

struct Sample {
    DWORD handles;          // GetProcessHandleCount; 0 when it fails or reports nothing
    DWORD listedHandles;    // handles the system handle list names for the process
    double workingSet, pagefile, privateBytes;   // KiB
    DWORD gdi, user;
};

typedef LONG(WINAPI *QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

static DWORD ListedHandles(DWORD pid)
{
    static QuerySystemInformation query =
        (QuerySystemInformation)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    static ULONG size = 1 << 16;
    if (!query)
        return 0;
    for (;;) {
        BYTE *buffer = (BYTE *)malloc(size);
        ULONG needed = 0;
        LONG status = query(16 /* SystemHandleInformation */, buffer, size, &needed);
        if (status == (LONG)0xC0000004) {   // the buffer was too small
            free(buffer);
            size = needed > size ? needed + 4096 : size * 2;
            continue;
        }
        DWORD count = 0;
        if (status == 0) {
            ULONG entries = *(ULONG *)buffer;
            const HandleEntry *entry = (const HandleEntry *)(buffer + sizeof(ULONG_PTR));
            for (ULONG i = 0; i < entries; i++)
                count += entry[i].ownerPid == pid;
        }
        free(buffer);
        return count;
    }
}

static Sample TakeSample(HANDLE process, DWORD pid)
{
    Sample s;
    ZeroMemory(&s, sizeof s);
    if (!GetProcessHandleCount(process, &s.handles))
        s.handles = 0;
    s.listedHandles = ListedHandles(pid);
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof memory);
    if (GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory)) {
        s.workingSet = memory.WorkingSetSize / 1024.0;
        s.pagefile = memory.PagefileUsage / 1024.0;
        s.privateBytes = memory.PrivateUsage / 1024.0;
    }
    s.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    s.user = GetGuiResources(process, GR_USEROBJECTS);
    return s;
}

static void PrintSample(const char *label, const Sample &s)
{
    printf("%-18s handles %4lu  listed handles %4lu  working set %6.0f KiB  pagefile %6.0f KiB  "
           "private %6.0f KiB  GDI %3lu  USER %3lu\n",
           label, s.handles, s.listedHandles, s.workingSet, s.pagefile, s.privateBytes, s.gdi, s.user);
}

// What one object left behind costs on this platform, measured in this process:
// the tolerances must stay below what one leak per round would add.
struct Costs {
    double menuWorkingSet, menuPagefile, iconWorkingSet, iconPagefile;   // KiB each
    double winExecHandles;   // handles a WinExec keeps although its caller gives nothing back
};

static Costs MeasureCosts()
{
    const int objects = 200, starts = 10;
    Costs c;
    HANDLE self = GetCurrentProcess();
    DWORD pid = GetCurrentProcessId();
    Sample before = TakeSample(self, pid);
    for (int i = 0; i < objects; i++) {   // as full as the tray menu
        HMENU menu = CreatePopupMenu();
        for (int item = 0; item < 16; item++)
            InsertMenuA(menu, (UINT)-1, MF_BYPOSITION | MF_STRING, 100 + item,
                        "C:\\Soak Archives\\an archive whose name is too long.zip");
    }
    Sample menus = TakeSample(self, pid);
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    strcpy(strrchr(path, '\\') + 1, "traymark.exe");
    HMODULE agentImage = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    for (int i = 0; i < objects; i++)
        if (!LoadImageA(agentImage, MAKEINTRESOURCEA(102), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR))
            Die("cannot load the agent's icon from %s", path);
    Sample icons = TakeSample(self, pid);
    c.menuWorkingSet = (menus.workingSet - before.workingSet) / objects;
    c.menuPagefile = (menus.pagefile - before.pagefile) / objects;
    c.iconWorkingSet = (icons.workingSet - menus.workingSet) / objects;
    c.iconPagefile = (icons.pagefile - menus.pagefile) / objects;

    char command[MAX_PATH + 2];
    sprintf(command, "\"%scorvex32.exe\"", kCorvexFolder);
    int logged = LaunchCount();
    DWORD handlesBefore = ListedHandles(pid);
    for (int i = 0; i < starts; i++)
        WinExec(command, SW_SHOWNORMAL);
    if (!WaitFor([logged] { return LaunchCount() >= logged + starts; }))
        Die("the stand-in Corvex did not log its starts");
    c.winExecHandles = ((double)ListedHandles(pid) - handlesBefore) / starts;
    return c;
}

// A figure that reads 0 at the start is not measured on this platform.
static bool CheckGrowth(const char *name, double first, double last, double tolerance, const char *unit,
                        int *checked)
{
    if (first == 0) {
        printf("  %-15s not available here (reads 0): not checked\n", name);
        return true;
    }
    ++*checked;
    bool ok = last - first <= tolerance;
    printf("  %-15s first %7.0f  last %7.0f  growth %+6.0f %-3s  allowed %+5.0f  %s\n", name, first, last,
           last - first, unit, tolerance, ok ? "ok" : "TOO MUCH");
    return ok;
}

static int RunSoak()
{
    // Wine fills its caches (fonts, menu bitmaps, registry key cache) during the
    // first rounds; the baseline is taken after them.
    const int warmupMenus = 50, warmupLaunches = 5, menus = 2000, launches = 200, samples = 5;
    const double handleSlack = 4, memorySlack = 1024;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, g_agentPid);
    if (!process)
        Die("cannot open the agent process (error %lu)", GetLastError());

    Costs cost = MeasureCosts();
    double leakWorkingSet = menus * (cost.menuWorkingSet < cost.iconWorkingSet ? cost.menuWorkingSet
                                                                                : cost.iconWorkingSet);
    double leakPagefile = menus * (cost.menuPagefile < cost.iconPagefile ? cost.menuPagefile
                                                                         : cost.iconPagefile);
    printf("measured here: a leaked 16-item menu costs %.2f KiB working set / %.2f KiB pagefile, "
           "a leaked 16x16 icon %.2f / %.2f KiB; one WinExec keeps %.1f handles in its caller\n",
           cost.menuWorkingSet, cost.menuPagefile, cost.iconWorkingSet, cost.iconPagefile,
           cost.winExecHandles);
    printf("so one menu or icon left behind per round would add at least %.0f KiB working set and "
           "%.0f KiB pagefile over %d rounds; one key or search handle per round +%d handles\n",
           leakWorkingSet, leakPagefile, menus, menus);

    UINT clickGap = GetDoubleClickTime() + 250;
    DWORD lastLaunch = GetTickCount() - clickGap;
    auto leftClickLaunch = [&] {
        // A click inside the double-click time of the previous launch is swallowed.
        DWORD since = GetTickCount() - lastLaunch;
        if (since < clickGap)
            Sleep(clickGap - since);
        int before = LaunchCount();
        Post(kTrayNotify, kTrayIconId, WM_LBUTTONUP);
        WaitForLaunch(before, "a left click");
        lastLaunch = GetTickCount();
    };

    // Launches fall between the samples: while one is under way the agent
    // holds the new process's handles.
    const int warmupStep = warmupMenus / warmupLaunches, step = menus / launches;
    for (g_round = 1; g_round <= warmupMenus; g_round++) {
        MenuRound();
        if (g_round % warmupStep == warmupStep / 2)
            leftClickLaunch();
    }
    Sample first = TakeSample(process, g_agentPid);
    DWORD count = 0;
    BOOL counted = GetProcessHandleCount(process, &count);
    SetLastError(0);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    printf("here GetProcessHandleCount gives %s, count %lu; GetGuiResources gives %lu, last error %lu\n",
           counted ? "TRUE" : "FALSE", count, gdi, GetLastError());
    PrintSample("after warm-up", first);
    Sample last = first;
    DWORD started = GetTickCount();
    g_done = Counts();
    for (g_round = 1; g_round <= menus; g_round++) {
        MenuRound();
        if (g_round % step == step / 2)
            leftClickLaunch();
        if (g_round % (menus / (samples - 1)) == 0) {
            char label[32];
            sprintf(label, "after %d rounds", g_round);
            last = TakeSample(process, g_agentPid);
            PrintSample(label, last);
        }
    }
    CloseHandle(process);
    printf("driven after the warm-up of %d menu rounds and %d launches: %d menu rounds, %d left-click "
           "launches, in %lu s\n",
           warmupMenus, warmupLaunches, g_done.menus, g_done.launches, (GetTickCount() - started) / 1000);

    // The slack is for heap growth that is no leak and Wine's late caches; what
    // WinExec itself keeps is not the agent's to give back.
    double launchHandles = cost.winExecHandles * g_done.launches;
    printf("growth from after the warm-up to the end (allowed: %.0f handles + %.0f kept by %d WinExec "
           "calls; %.0f KiB):\n", handleSlack, launchHandles, g_done.launches, memorySlack);
    int handleFigures = 0, memoryFigures = 0, unused = 0;
    bool ok = CheckGrowth("handle count", first.handles, last.handles, handleSlack + launchHandles, "",
                          &handleFigures);
    ok &= CheckGrowth("listed handles", first.listedHandles, last.listedHandles,
                      handleSlack + launchHandles, "", &handleFigures);
    ok &= CheckGrowth("working set", first.workingSet, last.workingSet, memorySlack, "KiB", &memoryFigures);
    ok &= CheckGrowth("pagefile usage", first.pagefile, last.pagefile, memorySlack, "KiB", &memoryFigures);
    ok &= CheckGrowth("private bytes", first.privateBytes, last.privateBytes, memorySlack, "KiB", &unused);
    ok &= CheckGrowth("GDI objects", first.gdi, last.gdi, 2, "", &unused);
    ok &= CheckGrowth("USER objects", first.user, last.user, 2, "", &unused);
    if (!handleFigures || !memoryFigures)
        Die("no working %s figure on this platform: the soak proves nothing", handleFigures ? "memory" : "handle");
    if ((first.workingSet && leakWorkingSet <= memorySlack) || (first.pagefile && leakPagefile <= memorySlack))
        Die("a leak of one menu or icon per round would stay within the memory slack here");
    printf(ok ? "soak: no growth beyond the allowance\n" : "soak: GROWTH beyond the allowance\n");
    return ok ? 0 : 1;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);   // the lines interleave with the script's
    DWORD n = GetEnvironmentVariableA("CORVEX_STANDIN_LOG", g_launchLog, sizeof g_launchLog);
    if (n == 0 || n >= sizeof g_launchLog)
        Die("set CORVEX_STANDIN_LOG (to the same file for the agent and for me)");
    const char *mode = argc > 1 ? argv[1] : "";

    if (strcmp(mode, "install") == 0) {
        Install();
        return 0;
    }
    if (strcmp(mode, "cycles") == 0 && argc == 3 && atoi(argv[2]) > 0) {
        FindAgent();
        StartHelpViewer();
        RunCycles(atoi(argv[2]));
        printf("driven: cycles=%d menus=%d about=%d close=%d launches=%d help=%d help_missing=%d "
               "taskbar_created=%d syscolorchange=%d\n",
               g_done.cycles, g_done.menus, g_done.about, g_done.close, g_done.launches, g_done.help,
               g_done.helpMissing, g_done.taskbar, g_done.syscolor);
        return 0;
    }
    if (strcmp(mode, "soak") == 0) {
        FindAgent();
        StartHelpViewer();
        return RunSoak();
    }
    Die("usage: soak_driver install | cycles N | soak");
}
