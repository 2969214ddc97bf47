// The driver plays the user: it prepares the registry and the stand-in Corvex,
// starts traymark.exe with a tail, finds its windows and message boxes, presses
// their buttons and reads back what the agent left in the system.
// Every wait is bounded; every process it starts is stopped by its handle.
#ifndef TRAYMARK_E2E_DRIVER_H
#define TRAYMARK_E2E_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace driver {

// --- Locations -------------------------------------------------------------
std::string BuildDir();                    // folder of this test program, with trailing '\'
std::string TraymarkExe();                 // BuildDir() + "traymark.exe"
std::string StandinExe();                  // BuildDir() + "corvex32.exe"

// --- Registry --------------------------------------------------------------
void SetString(HKEY root, const char *key, const char *value, const char *data);
void SetBytes(HKEY root, const char *key, const char *value, DWORD type, const void *data, DWORD size);
void DeleteValue(HKEY root, const char *key, const char *value);
void DeleteTree(HKEY root, const char *key);
// Raw value bytes; false when absent.
bool ReadValue(HKEY root, const char *key, const char *value, std::string *data, DWORD *type);

extern const char kCorvexKey[];            // HKCU Software\Velmora\Corvex\Corvex
extern const char kWinIniKey[];            // Software\Velmora\Corvex\WinIni
extern const char kFileMenuKey[];          // HKCU Software\Velmora\Corvex\filemenu
extern const char kOpenCommandKey[];       // HKCR Corvex\Shell\Open\Command
extern const char kAppPathKey[];           // HKLM ...\App Paths\corvex32.exe
extern const char kHandleValue[];          // "Traymark Window Handle"
extern const char kMarkerName[];           // "Corvex Traymark Active"

// --- What the agent shows and takes ----------------------------------------
extern const char kAgentCaption[];         // "About Corvex Traymark": the hidden agent window
extern const char kCloseCaption[];         // "Corvex Traymark - Close"
extern const char kMessageCaption[];       // "Corvex Traymark": its message boxes
const UINT kIdmQuit = 3, kIdmAbout = 101, kIdmHelp = 104, kIdmClose = 106;
const UINT kIdAboutHelp = 9;               // the About box's Help button
// Its messages, naming the Startup folder of the family (nt: the common one).
std::string CorvexMissingText(bool nt);
std::string HelpMissingText(bool nt);

typedef std::vector<std::string> Lines;

// --- The stand-in Corvex ---------------------------------------------------
struct CorvexSetup {
    const char *version = "8.1";           // NULL: no version value at all
    bool classicHelp = true;               // place corvex.hlp
    bool wizardHelp = true;                // place cxwizard.hlp
};
// Removes every trace of Corvex from the registry (the handle record included).
void UninstallCorvex();
// Copies the stand-in to C:\Program Files\Corvex Test\corvex32.exe (a folder
// with a blank), registers its quoted open command and the version, and
// places the requested help files beside it. Returns the executable's path.
std::string InstallCorvex(const CorvexSetup &setup = CorvexSetup());
std::string CorvexFolder();                // with trailing '\'
// Puts an empty file of that name beside Corvex, or takes it away.
void PlaceHelpFile(const char *name, bool present);
// A copy of Corvex in a folder without blanks, kBareExe, with the help file
// beside it so that closing the agent needs no message; after InstallCorvex.
extern const char kBareExe[];              // C:\CorvexBare\corvex32.exe
bool InstallBareCopy();

// The stand-in appends each command line it is started with to this file.
std::string LaunchLogPath();
void ResetLaunchLog();
std::vector<std::string> LaunchLog();
// Waits until the log has at least `count` lines; returns the lines seen.
std::vector<std::string> WaitForLaunches(size_t count, DWORD timeoutMs = 5000);
// The command line the stand-in sees for `args` after its quoted path.
std::string ExpectedLaunch(const std::string &args);

// --- The agent process -----------------------------------------------------
// Starts traymark.exe with the tail; the handle is closed by StopAll.
HANDLE StartTraymark(const char *tail = "");
// The same for a copy of traymark.exe elsewhere, its path quoted as a shortcut
// gives it, or bare, as an uninstaller may.
HANDLE StartTraymarkFrom(const std::string &exe, const char *tail, bool quoted);
// true and the exit code when the process ended within the time.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD *exitCode = NULL);
// Terminates every process started here that still runs, and closes the handles.
void StopAll();
bool Running(HANDLE process);
// A dialog of the agent window's class and caption in a process of its own; it
// ends with kLookalikeGotQuit on IDM_QUIT, and by itself after a minute.
// *window is NULL when it did not come up; StopAll ends it like the others.
HANDLE StartLookalike(HWND *window);
const DWORD kLookalikeGotQuit = 1;
// What a start costs on this host now: the median of three starts that end at
// once (plain, while a copy is marked), each from CreateProcess to its end.
DWORD MeasureStartFloor();
// A product's margin or a wait on this host: MS times the lane's measured time
// factor (TRAYMARK_TIME_FACTOR; 1 when unset or below), for hosts where every
// program is slower, such as a software-emulated or loaded guest.
DWORD ScaledMs(DWORD ms);
// StartTraymark, then WaitForAgentReady; NULL when the agent did not come up.
HWND StartAgent(HANDLE *process, const char *tail = "");
// IDM_QUIT as a second copy sends it; the process must end with 0.
void QuitAgent(HANDLE process, HWND window);
// WM_COMMAND sent, so handled on return; false when the agent did not answer.
bool SendCommand(HWND window, WPARAM id);
// Returns once the agent has handled whatever was posted or sent before.
bool Sync(HWND window);

// Top-level window of the process with that class and caption (either may be NULL).
HWND FindProcessWindow(DWORD pid, const char *className, const char *caption);
int CountProcessWindows(DWORD pid, const char *className = NULL, const char *caption = NULL);
int CountVisibleWindows(DWORD pid, const char *className = NULL, const char *caption = NULL);
HWND WaitForProcessWindow(DWORD pid, const char *className, const char *caption, DWORD timeoutMs = 10000);
// The hidden agent window, once its handle record and marker are in place.
HWND WaitForAgentReady(HANDLE process, DWORD timeoutMs = 15000);
DWORD ProcessId(HANDLE process);

std::string WindowText(HWND hwnd);
std::string ClassName(HWND hwnd);
std::string DialogItemText(HWND dialog, int id);
// The text of a message box (its static has the identifier 0xFFFF).
std::string MessageBoxText(HWND box);
// Presses a button the way a click would: WM_COMMAND BN_CLICKED to its dialog.
void PressButton(HWND dialog, int id);
bool IsVisible(HWND hwnd);
// Waits until pred() holds or the time is up; returns pred(). Every wait of
// the driver is stretched by the lane's time factor (ScaledMs).
template <typename Pred> bool WaitUntil(Pred pred, DWORD timeoutMs = 5000)
{
    timeoutMs = ScaledMs(timeoutMs);
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return pred();
        Sleep(20);
    }
    return true;
}
// Like WaitUntil, dispatching this thread's messages meanwhile: our own windows
// only receive what another process sends them while we pump.
template <typename Pred> bool PumpUntil(Pred pred, DWORD timeoutMs = 10000)
{
    timeoutMs = ScaledMs(timeoutMs);
    for (DWORD start = GetTickCount();; Sleep(5)) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (pred())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
}
bool WaitForExitPumping(HANDLE process, DWORD timeoutMs, DWORD *exitCode = NULL);
// For a start that must show nothing: pumps, and notes any visible window it puts up.
bool WaitForQuietExit(HANDLE process, DWORD *exitCode, bool *showedWindow, DWORD timeoutMs = 10000);

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs = 5000);
// Waits for the message box, checks its text and owner, presses OK, waits until it is gone.
void AnswerMessageBox(DWORD pid, HWND owner, const std::string &text);
// true once the About box (the agent window itself) is up.
bool ShowAboutBox(HWND agent);
HWND OpenCloseDialog(HWND agent, DWORD pid);
// A dialog of this thread, of the agent window's class, for a handle record to name.
HWND CreateTestDialog(const char *caption, DLGPROC proc);

// --- Instance marker and handle record -------------------------------------
bool MarkerPresent();
void ClearMarkers();                       // deletes every reference of the atom
// The record's text up to any terminator; type and presence on request.
std::string HandleRecordText(DWORD *type = NULL, bool *present = NULL);
// Characters stored for the record, a terminator included if one was stored; -1 when absent.
int HandleRecordStoredChars();
std::string DecimalHandle(HWND hwnd);      // as the record holds it
void WriteHandleRecord(HWND hwnd);         // as the agent writes it: the digits, no terminator

// --- Windows version seen by traymark.exe (Wine's per-program setting) ----
void SetWindowsVersion(const char *wineVersion);   // "win98", "winme", "win2k", "winxp"; NULL resets

// --- Stand-in help viewer: a window of class "MS_WINHELP" ------------------
struct HelpRequest {
    WORD command;
    LONG data;
    std::string file;
    HWND sender;
};
void StartHelpViewer();
void StopHelpViewer();
std::vector<HelpRequest> HelpRequests();
void ClearHelpRequests();
// Waits until at least `count` requests arrived.
std::vector<HelpRequest> WaitForHelpRequests(size_t count, DWORD timeoutMs = 5000);
// "command data file", so that a mismatch shows every field; with a sender,
// a request from another window says so.
std::string HelpRequestText(const HelpRequest &request, HWND sender = NULL);
// The same for a help file beside Corvex.
std::string ExpectedHelpRequest(WORD command, LONG data, const char *file);

// Folder paths as the agent would name them in its messages.
std::string StartupFolder(bool nt);

// --- Tray callbacks, the tray menu and keys ------------------------------
// The shell's own tray answers a modify without flags only for an icon it holds.
bool RealTrayKnows(HWND window, UINT id);
// Posts WM_TRAYNOTIFY (0x8064) the way the shell does: icon identifier, mouse message.
void PostTrayClick(HWND agent, UINT mouseMessage, UINT iconId = 1006);
// A visible pop-up menu window (class "#32768") of the process, or NULL.
HWND FindVisibleMenu(DWORD pid);
HWND WaitForVisibleMenu(DWORD pid, DWORD timeoutMs = 5000);
// Right-clicks the icon; the menu once it is up.
HWND OpenTrayMenu(HWND agent, DWORD pid);
// Wine opens the menu with nothing selected: the first Down selects the top
// item, the first Up the bottom one, and the selection wraps. Home selects the
// top item whatever was selected before, so the count of Downs after it is the
// item's position from the top, separators not counted.
void ChooseFromTop(int position);
// The agent takes its deadline only after the launch returns, which is a
// moment after the stand-in has written its line; the margin covers that.
void WaitPastDoubleClickTime();
// Presses and releases keys in the foreground thread's input, one after another.
void TapKeys(const std::vector<BYTE> &keys);
// Posts "Favorites..." (105) behind everything posted before and returns the
// launch log once its line is in. The agent starts Corvex one at a time and
// waits for each start, so whatever earlier messages launched is logged by then.
std::vector<std::string> LaunchesUpToMarker(HWND agent);

// --- Fixture ---------------------------------------------------------------
// Each test starts from no marker, no Corvex, an empty launch log and no help
// requests, with the Windows version left to Wine's default; every process
// started is stopped at the end.
class AgentTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the agent into agent, window and pid; true once it is ready.
    bool Start(const char *tail = "");

    HANDLE agent = NULL;
    HWND window = NULL;
    DWORD pid = 0;
};

}  // namespace driver

#endif
