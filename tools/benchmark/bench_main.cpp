// Measures Traymark under Wine and prints one table, each figure beside a
// floor measured in the same run.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/agent_state.h"
#include "recent/recent_files.h"
#include "recent/volatile_folders.h"
#include "ui/tray_menu.h"

static const char kMarker[] = "Corvex Traymark Active";
static const char kFileMenuKey[] = "Software\\Velmora\\Corvex\\filemenu";

static std::string g_dir;

static double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)frequency.QuadPart;
}

static double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

static void SetString(HKEY root, const char *key, const char *value, const char *data)
{
    HKEY k;
    if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(k, value, 0, REG_SZ, (const BYTE *)data, lstrlenA(data) + 1);
        RegCloseKey(k);
    }
}

static void InstallStandin()
{
    std::string folder = "C:\\Program Files\\Corvex Bench\\";
    CreateDirectoryA("C:\\Program Files", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    CopyFileA((g_dir + "corvex32.exe").c_str(), (folder + "corvex32.exe").c_str(), FALSE);
    HANDLE f = CreateFileA((folder + "corvex.hlp").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    std::string command = "\"" + folder + "corvex32.exe\" \"%1\"";
    SetString(HKEY_CLASSES_ROOT, "Corvex\\Shell\\Open\\Command", "", command.c_str());
    SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Corvex\\WinIni", "win32_version", "8.1");
}

static void ClearMarker()
{
    for (int i = 0; i < 1000; i++) {
        ATOM a = GlobalFindAtomA(kMarker);
        if (!a || GlobalDeleteAtom(a))
            break;
    }
}

static HANDLE Start(const std::string &exe, const char *tail = "")
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::string line = "\"" + exe + "\"";
    if (*tail)
        line += std::string(" ") + tail;
    if (!CreateProcessA(exe.c_str(), &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return NULL;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

static HWND AgentWindow(DWORD pid)
{
    HWND w = NULL;
    while ((w = FindWindowExA(NULL, w, "#32770", "About Corvex Traymark")) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid)
            return w;
    }
    return NULL;
}

static void StopAgent(HANDLE process)
{
    HWND w = AgentWindow(GetProcessId(process));
    if (w)
        PostMessageA(w, WM_COMMAND, 3, 0);
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    CloseHandle(process);
    ClearMarker();
}

// Creation until the marker is set: the marker is the last thing the agent
// publishes before its message loop.
static double StartToReady(HANDLE *process)
{
    ClearMarker();
    double t0 = Now();
    *process = Start(g_dir + "traymark.exe");
    if (!*process)
        return -1;
    while (!GlobalFindAtomA(kMarker)) {
        if (WaitForSingleObject(*process, 0) == WAIT_OBJECT_0 || Now() - t0 > 20)
            return -1;
        Sleep(0);
    }
    return Now() - t0;
}

static double CreateAndWait(const char *tail = "")
{
    double t0 = Now();
    HANDLE p = Start(g_dir + "bench_floor.exe", tail);
    if (!p)
        return -1;
    WaitForSingleObject(p, 20000);
    CloseHandle(p);
    return Now() - t0;
}

static void WriteRecentValues(const char *folder)
{
    HKEY k;
    RegDeleteKeyA(HKEY_CURRENT_USER, kFileMenuKey);
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kFileMenuKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL) !=
        ERROR_SUCCESS)
        return;
    for (int n = 1; n <= 15; n++) {
        char name[16], path[MAX_PATH];
        wsprintfA(name, "filemenu%d", n);
        wsprintfA(path, "%sbench archive %d.zip", folder, n);
        RegSetValueExA(k, name, 0, REG_SZ, (const BYTE *)path, lstrlenA(path) + 1);
        HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
    }
    RegCloseKey(k);
}

static double MenuBuildMicros(int rounds, void (*build)(HMENU) = BuildTrayMenu)
{
    std::vector<double> samples;
    for (int i = 0; i < rounds; i++) {
        HMENU menu = CreatePopupMenu();
        double t0 = Now();
        build(menu);
        samples.push_back((Now() - t0) * 1e6);
        DestroyMenu(menu);
    }
    return Median(samples);
}

static void FolderLookupsOnly(HMENU)
{
    RefreshVolatileFolders();
}

static double RegistryReadsMicros(int rounds)
{
    std::vector<double> samples;
    for (int i = 0; i < rounds; i++) {
        double t0 = Now();
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kFileMenuKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
            for (int n = 15; n >= 1; n--) {
                char name[16], path[264];
                DWORD size = 261;
                wsprintfA(name, "filemenu%d", n);
                RegQueryValueExA(k, name, NULL, NULL, (BYTE *)path, &size);
            }
            RegCloseKey(k);
        }
        samples.push_back((Now() - t0) * 1e6);
    }
    return Median(samples);
}

int main(int argc, char **argv)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    *(strrchr(self, '\\') + 1) = 0;
    g_dir = self;
    int starts = 15, rounds = 2000;
    if (argc > 1 && !lstrcmpA(argv[1], "--quick")) {
        starts = 5; rounds = 200;
    }

    AgentState.hInstance = GetModuleHandleA(NULL);
    InstallStandin();

    // Warm both programs up once so that the first start's disk reads count for neither.
    CreateAndWait();
    HANDLE warm = NULL;
    StartToReady(&warm);
    if (warm)
        StopAgent(warm);

    std::vector<double> ready, floor, windowFloor;
    for (int i = 0; i < starts; i++) {
        HANDLE agent = NULL;
        double r = StartToReady(&agent);
        if (agent)
            StopAgent(agent);
        double f = CreateAndWait();
        double fw = CreateAndWait("window");
        windowFloor.push_back(fw * 1000);
        if (r < 0 || f < 0 || fw < 0) {
            printf("start measurement failed\n");
            return 1;
        }
        ready.push_back(r * 1000);
        floor.push_back(f * 1000);
    }

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    CreateDirectoryA("C:\\Bench Archives", NULL);
    WriteRecentValues("C:\\Bench Archives\\");
    double outside = MenuBuildMicros(rounds);
    double recentOnly = MenuBuildMicros(rounds, BuildRecentFileItems);
    double folderLookups = MenuBuildMicros(rounds, FolderLookupsOnly);
    double readsFloor = RegistryReadsMicros(rounds);
    WriteRecentValues(temp);
    double inside = MenuBuildMicros(rounds);
    double readsFloorInside = RegistryReadsMicros(rounds);
    RegDeleteKeyA(HKEY_CURRENT_USER, kFileMenuKey);

    double rm = Median(ready), fm = Median(floor);
    printf("%-34s %12s %12s %8s %s\n", "measure", "traymark", "floor", "ratio", "target");
    printf("%-34s %9.1f ms %9.1f ms %8.2f %s\n", "start to ready (median)", rm, fm, rm / fm, "ratio <= 1.3");
    printf("%-34s %9.1f ms %9.1f ms %8.2f %s\n", "  floor with one window instead", rm, Median(windowFloor),
           rm / Median(windowFloor), "(reported)");
    printf("%-34s %9.1f us %9.1f us %8.2f %s\n", "menu build, 15 outside (median)", outside, readsFloor,
           outside / readsFloor, "ratio <= 2");
    printf("%-34s %9.1f us %9.1f us %8.2f %s\n", "  recent section alone", recentOnly, readsFloor,
           recentOnly / readsFloor, "(reported)");
    printf("%-34s %9.1f us %9.1f us %8.2f %s\n", "  temp/cache folder look-ups alone", folderLookups,
           readsFloor, folderLookups / readsFloor, "(reported)");
    printf("%-34s %9.1f us %9.1f us %8.2f %s\n", "menu build, 15 in temp (median)", inside, readsFloorInside,
           inside / readsFloorInside, "(reported)");
    printf("(%d starts, %d menu builds per figure)\n", starts, rounds);
    return 0;
}
