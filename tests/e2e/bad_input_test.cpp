// Bad input against the real traymark.exe: every registry value the agent
// reads, in every bad shape (absent, wrong type, at and past its size limit,
// unterminated, cut inside a double-byte character, with quotes and blanks,
// huge), and odd command-line tails. Each case must end with exit code 0 or
// leave the agent alive, never hang, and do what a careful reading of the
// value gives: strings only, nothing past the limit, no half character.
#include "tests/e2e/driver.h"

#include <stdio.h>

#include <string>
#include <vector>

using namespace driver;

// Vista's, hidden by the project's target version; the tests run on a newer one.
extern "C" LONG WINAPI RegCopyTreeA(HKEY source, LPCSTR subkey, HKEY destination);

namespace {

const char kShellFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCacheKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache";
const char kCachePathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";
const UINT kRecentBase = 1034;
const std::string kRan = "ran, exit 0", kRefused = "refused, exit 0";

// --- Tally: one line for the whole sweep ------------------------------------

int g_tried, g_passed;

void Judge(const std::string &label, const std::string &expected, const std::string &observed)
{
    g_tried++;
    if (expected == observed)
        g_passed++;
    else
        ADD_FAILURE() << label << "\n  expected: " << expected << "\n  observed: " << observed;
}

class SweepTally : public ::testing::Environment {
    void TearDown() override
    {
        if (!g_tried)
            return;
        printf("bad input: %d cases tried, %d passed\n", g_tried, g_passed);
        ::testing::Test::RecordProperty("bad_input_cases_tried", g_tried);
        ::testing::Test::RecordProperty("bad_input_cases_passed", g_passed);
    }
};
::testing::Environment *const g_tally = ::testing::AddGlobalTestEnvironment(new SweepTally);

// --- Values and their bad shapes --------------------------------------------

enum Shape {
    MissingKey, MissingValue, Empty, DwordType, BinaryType, MultiSzType, AtLimit, PastLimit,
    NoNul, NoNulAtLimit, LeadCutByLimit, LeadAtEnd, QuotesAndBlanks, Huge, kShapeCount
};
const char *const kShapeNames[kShapeCount] = {
    "missing key", "missing value", "empty", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ",
    "exactly the limit", "one past the limit", "no NUL", "no NUL, filling the limit",
    "double-byte character cut by the limit", "high (lead) byte before the NUL",
    "quotes and blanks", "32 KiB",
};

// One value the agent reads, a content that works, and a fill character that
// stretches it (at the front or the end) without changing what it means.
struct Value {
    std::string label;
    HKEY root;
    std::string key, name;                 // name "": the key's default value
    DWORD limit;                           // bytes, terminator included
    std::string good;
    char fill;
    bool fillFront;
    std::string quoted;                    // works too, and holds quotes and blanks
};

std::string Stretch(const Value &v, size_t length)
{
    std::string fill(length > v.good.size() ? length - v.good.size() : 0, v.fill);
    return v.fillFront ? fill + v.good : v.good + fill;
}

void StoreRaw(HKEY root, const std::string &subkey, const std::string &name, DWORD type, const std::string &data)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    // Wine's ANSI call stores a NUL it was not given when the next byte is one.
    std::string guarded = data + '#';
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, type, (const BYTE *)guarded.data(),
                                            (DWORD)data.size())) << subkey << " " << name;
    RegCloseKey(key);
}

void Store(const Value &v, Shape shape)
{
    const std::string nul(1, '\0');
    auto sz = [&](const std::string &data) { StoreRaw(v.root, v.key, v.name, REG_SZ, data); };
    DeleteValue(v.root, v.key.c_str(), v.name.c_str());
    switch (shape) {
    case MissingKey: DeleteTree(v.root, v.key.c_str()); break;
    case MissingValue: sz(nul); DeleteValue(v.root, v.key.c_str(), v.name.c_str()); break;   // the key stays
    case Empty: sz(nul); break;
    case DwordType: StoreRaw(v.root, v.key, v.name, REG_DWORD, (v.good + nul + nul + nul).substr(0, 3) + nul); break;
    case BinaryType: StoreRaw(v.root, v.key, v.name, REG_BINARY, v.good + nul); break;
    case MultiSzType: StoreRaw(v.root, v.key, v.name, REG_MULTI_SZ, v.good + nul + nul); break;
    case AtLimit: sz(Stretch(v, v.limit - 1) + nul); break;
    case PastLimit: sz(Stretch(v, v.limit) + nul); break;
    case NoNul: sz(v.good); break;
    case NoNulAtLimit: sz(Stretch(v, v.limit)); break;
    // Under code page 932 only the limit can split a character: the ANSI call
    // will not store a lone lead byte as it is. Under 1252 these are plain high bytes.
    case LeadCutByLimit: sz(Stretch(v, v.limit - 2) + "\x82\xA0"); break;
    case LeadAtEnd: sz(Stretch(v, v.limit - 2) + "\x82" + nul); break;
    case QuotesAndBlanks: sz(v.quoted + nul); break;
    default: sz(Stretch(v, 32 * 1024 - 1) + nul); break;
    }
}

struct Reading {
    bool ok;
    std::string text;
};

// What the value gives when read the careful way, from what the registry
// holds: a string type, no more than the limit, terminated inside it (a value
// filling it loses its last byte), no lone lead byte left at the end.
Reading CarefulRead(const Value &v)
{
    std::string raw;
    DWORD type = 0;
    if (!ReadValue(v.root, v.key.c_str(), v.name.c_str(), &raw, &type) ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || raw.size() > v.limit)
        return { false, "" };
    std::string text = raw.substr(0, raw.find('\0'));
    if (text.size() >= v.limit)
        text.resize(v.limit - 1);
    for (size_t i = 0; i < text.size(); i += IsDBCSLeadByte((BYTE)text[i]) ? 2 : 1)
        if (IsDBCSLeadByte((BYTE)text[i]) && i + 1 == text.size())
            text.resize(i);
    return { true, text };
}

// Stretched and trimmed forms all still work: only a value that cannot be
// read, or reads empty, loses its meaning.
bool Effective(const Reading &r) { return r.ok && !r.text.empty(); }

// Stores each shape, then compares what its careful reading should lead to
// with what the agent did.
template <typename Expect, typename Observe> void Sweep(const Value &v, Expect expect, Observe observe)
{
    for (int shape = 0; shape < kShapeCount; shape++) {
        Store(v, (Shape)shape);
        Reading r = CarefulRead(v);
        Judge(v.label + ", " + kShapeNames[shape], expect(r), observe(r));
    }
}

// --- Watching the agent -------------------------------------------------------

std::string ExitText(HANDLE p)
{
    DWORD code = 99;
    if (!WaitForExitPumping(p, 10000, &code))
        return "did not end";
    char text[32];
    sprintf(text, "exit %#lx", (unsigned long)code);   // a crash shows as 0xc0000005
    return text;
}

HWND VisibleBox(DWORD pid)
{
    HWND box = FindProcessWindow(pid, "#32770", kMessageCaption);
    return box && IsWindowVisible(box) ? box : NULL;
}

// Starts traymark.exe and says what it did: "ran" (the agent window came up;
// it is asked to quit), "refused" (the Corvex-missing message; OK pressed) or
// "ended" by itself, and how the process ended.
std::string StartOutcome(const std::string &tail)
{
    HANDLE p = StartTraymark(tail.c_str());
    DWORD pid = ProcessId(p);
    std::string seen;
    PumpUntil([&] {
        if (HWND box = VisibleBox(pid)) {
            std::string text = MessageBoxText(box);
            seen = text.compare(0, 20, "Corvex was not found") ? "other message \"" + text + "\"" : "refused";
            PressButton(box, IDOK);
        } else if (HWND agent = FindProcessWindow(pid, "#32770", kAgentCaption)) {
            seen = "ran";
            PostMessageA(agent, WM_COMMAND, kIdmQuit, 0);
        } else if (!Running(p)) {
            seen = "ended";
        }
        return !seen.empty();
    }, 15000);
    return seen.empty() ? "hung" : seen + ", " + ExitText(p);
}

// Opens the tray menu, presses the keys, and says whether the menu came and
// went and the agent lived through it.
std::string MenuRound(HANDLE agent, HWND window, const std::vector<BYTE> &keys)
{
    DWORD pid = ProcessId(agent);
    std::string seen = "menu";
    if (OpenTrayMenu(window, pid)) {
        TapKeys(keys);
        if (!WaitUntil([&] { return FindVisibleMenu(pid) == NULL; }))
            seen = "menu stuck";
    } else {
        seen = "no menu";
    }
    if (Running(agent) && !Sync(window))
        seen += ", not answering";
    return Running(agent) ? seen + ", alive" : seen + ", died, " + ExitText(agent);
}

// "Corvex Help" as the menu sends it: the viewer's request, or the
// help-missing message (dismissed).
std::string HelpOutcome(HANDLE agent, HWND window)
{
    ClearHelpRequests();
    PostMessageA(window, WM_COMMAND, kIdmHelp, 0);
    std::string seen = "no help outcome";
    WaitUntil([&] {
        std::vector<HelpRequest> help = HelpRequests();
        HWND box = VisibleBox(ProcessId(agent));
        if (!help.empty()) {
            std::string file = help[0].file.substr(help[0].file.rfind('\\') + 1);
            CharLowerBuffA(&file[0], (DWORD)file.size());
            seen = "help " + std::to_string(help[0].command) + " " + file;
        } else if (box) {
            seen = MessageBoxText(box).compare(0, 20, "The Corvex help file") ? "other message" : "help missing";
            PressButton(box, IDOK);
            WaitUntil([&] { return !IsWindow(box); });
        }
        return help.size() || box;
    });
    return seen;
}

// The first Corvex start after `command` (0: whatever already started it).
std::string LaunchAfter(HWND window, UINT command)
{
    if (command) {
        ResetLaunchLog();
        PostMessageA(window, WM_COMMAND, command, 0);
    }
    std::vector<std::string> lines = WaitForLaunches(1);
    return lines.empty() ? "no launch" : lines[0];
}

// --- A look-alike of the agent's window, in a process of its own ---------------

// A "/remove" or other start while a copy is marked: what it did, whether the
// look-alike got the close request, whether the marker is still there. The
// remover waits for the look-alike's end, so by its own end that is settled.
std::string MarkedStartOutcome(const std::string &tail, HANDLE lookalike)
{
    std::string seen = StartOutcome(tail);
    DWORD code = 0;
    std::string sent = Running(lookalike) ? "0"
                       : GetExitCodeProcess(lookalike, &code) && code == kLookalikeGotQuit ? "1"
                       : "? (look-alike ended with " + std::to_string(code) + ")";
    return seen + "; sent " + sent + (MarkerPresent() ? "; marker" : "; no marker");
}

// --- Shell keys the sweep changes: copied aside, put back however it ends ----

class KeyKeeper {
    std::vector<std::pair<HKEY, std::string>> kept_;
    static std::string Aside(size_t i) { return "Software\\TraymarkBadInputAside\\" + std::to_string(i); }
    // Nothing is copied from a key that does not exist, so it stays absent.
    static void Copy(HKEY fromRoot, const std::string &from, HKEY toRoot, const std::string &to)
    {
        HKEY src, dst;
        if (RegOpenKeyExA(fromRoot, from.c_str(), 0, KEY_READ, &src) != ERROR_SUCCESS)
            return;
        if (RegCreateKeyExA(toRoot, to.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &dst, NULL) == ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeA(src, NULL, dst)) << from;
            RegCloseKey(dst);
        }
        RegCloseKey(src);
    }

public:
    void Keep(HKEY root, const char *key)
    {
        DeleteTree(HKEY_CURRENT_USER, Aside(kept_.size()).c_str());   // left by a run that was killed
        Copy(root, key, HKEY_CURRENT_USER, Aside(kept_.size()));
        kept_.push_back({ root, key });
    }
    ~KeyKeeper()
    {
        for (size_t i = kept_.size(); i-- > 0;) {
            DeleteTree(kept_[i].first, kept_[i].second.c_str());
            Copy(HKEY_CURRENT_USER, Aside(i), kept_[i].first, kept_[i].second);
        }
        DeleteTree(HKEY_CURRENT_USER, "Software\\TraymarkBadInputAside");
    }
};

}  // namespace

// --- Values read at start-up -------------------------------------------------

// One row per source of a start-up fact and one for odd values, so that the
// sweep, a long one under emulation, spreads over the shards.
class BadStartValues : public AgentTest, public ::testing::WithParamInterface<int> {};
const char *const kStartValueRows[] = { "OpenCommand", "AppPaths", "MachineVersion", "UserVersion", "OddValues" };

TEST_P(BadStartValues, RunOrRefuseAsTheyRead)
{
    const std::string exe = InstallCorvex(), bare = kBareExe;
    ASSERT_TRUE(InstallBareCopy());
    const struct Group {
        Value v;
        HKEY otherRoot;                    // the other source of the same fact, taken away
        const char *otherKey;
    } groups[] = {
        { { "open command", HKEY_CLASSES_ROOT, kOpenCommandKey, "", 260, "\"" + exe + "\" \"%1\"", 'x', false,
            "\"" + exe + "\" \"a \"\" b\"  \"%1\"" }, HKEY_LOCAL_MACHINE, kAppPathKey },
        // An unquoted path loses only its last blank-free argument.
        { { "App Paths", HKEY_LOCAL_MACHINE, kAppPathKey, "", 260, bare + " /x", 'x', false,
            "\"" + bare + "\" \"x y\"" }, HKEY_CLASSES_ROOT, "Corvex" },
        { { "machine version", HKEY_LOCAL_MACHINE, kWinIniKey, "win32_version", 32, "8.1", 'x', false,
            "8.1 \"beta 2\"" }, HKEY_CURRENT_USER, kWinIniKey },
        // The user's key counts only without the machine's.
        { { "user version", HKEY_CURRENT_USER, kWinIniKey, "win32_version", 32, "8.1", 'x', false,
            "8.1 \"beta 2\"" }, HKEY_LOCAL_MACHINE, kWinIniKey },
    };
    const size_t row = GetParam();
    if (row < sizeof groups / sizeof groups[0]) {
        const Group &g = groups[row];
        UninstallCorvex();
        InstallCorvex();
        DeleteTree(g.otherRoot, g.otherKey);
        Sweep(g.v, [](const Reading &r) { return Effective(r) ? kRan : kRefused; },
              [](const Reading &) { return StartOutcome(""); });
        return;
    }
    const struct { const char *label; HKEY root; const char *key, *name; std::string data; bool runs; } odd[] = {
        { "open command, quote never closed", HKEY_CLASSES_ROOT, kOpenCommandKey, "", "\"" + exe, true },
        { "open command, a lone quote", HKEY_CLASSES_ROOT, kOpenCommandKey, "", "\"", false },
        { "open command, blanks only", HKEY_CLASSES_ROOT, kOpenCommandKey, "", "   ", false },
        { "open command, empty quotes", HKEY_CLASSES_ROOT, kOpenCommandKey, "", "\"\" \"%1\"", false },
        // A blank sorts below the digit 8.
        { "version, leading blank", HKEY_LOCAL_MACHINE, kWinIniKey, "win32_version", " 8.1", false },
    };
    for (const auto &c : odd) {
        UninstallCorvex();
        InstallCorvex();
        SetString(c.root, c.key, c.name, c.data.c_str());
        Judge(c.label, c.runs ? kRan : kRefused, StartOutcome(""));
    }
}
INSTANTIATE_TEST_SUITE_P(Agent, BadStartValues,
                         ::testing::Range(0, (int)(sizeof kStartValueRows / sizeof kStartValueRows[0])),
                         [](const ::testing::TestParamInfo<int> &info) { return std::string(kStartValueRows[info.param]); });

// --- The handle record, read by "/remove" while a copy is marked -------------

TEST_F(AgentTest, BadHandleRecordsReachOnlyTheWindowTheyName)
{
    ASSERT_NE(0, GlobalAddAtomA(kMarkerName));
    HANDLE lookalike = NULL;
    HWND target = NULL;
    // Every shape, then the number between quotes.
    for (int shape = 0; shape <= kShapeCount; shape++) {
        // One that got the close request has ended; the next case needs one that runs.
        if (!lookalike || !Running(lookalike))
            lookalike = StartLookalike(&target);
        ASSERT_NE((HWND)NULL, target) << "the look-alike did not come up";
        const std::string handle = DecimalHandle(target);
        const Value record = { "handle record", HKEY_CURRENT_USER, kCorvexKey, kHandleValue, 32, handle, ' ',
                               true, "  " + handle + " \"x\"" };
        std::string label = record.label + ", quoted number";
        bool reaches = false;
        if (shape < kShapeCount) {
            Store(record, (Shape)shape);
            label = record.label + ", " + kShapeNames[shape];
            reaches = Effective(CarefulRead(record));
        } else {
            StoreRaw(record.root, record.key, record.name, REG_SZ, "\"" + handle + "\"");
        }
        Judge(label, std::string("ended, exit 0; sent ") + (reaches ? "1" : "0") + "; marker",
              MarkedStartOutcome("/remove", lookalike));
    }
}

// --- Command-line tails --------------------------------------------------------

// Marked and not marked as two rows, so that the shards can run them at once.
class OddTails : public AgentTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OddTails, FollowTheStartTable)
{
    const struct Tail { const char *label; std::string tail; bool closes, clears; } tails[] = {
        { "/remove", "/remove", true, false },
        { "/REMOVE", "/REMOVE", true, false },
        { "/remove and a blank", "/remove ", false, false },
        { "/clear", "/clear", false, true },
        { "/Clear", "/Clear", false, true },
        { "/clear and a blank", "/clear ", false, false },
        { "empty", "", false, false },
        { "blanks only", "     ", false, false },
        { "quoted /remove", "\"/remove\"", false, false },
        { "two options", "/remove /clear", false, false },
        { "4000 characters", std::string(4000, 'a'), false, false },
        { "/remove and 3993 blanks", "/remove" + std::string(3993, ' '), false, false },
        { "high bytes", "\xE9\x82\xA0\xFF\x81", false, false },
        { "format directives", "%s%s%n%n", false, false },
    };
    // A copy marked as running (our marker, our look-alike of its window):
    // only the whole tail "/remove" or "/clear", in any case, acts. Corvex is
    // not looked at, so its absence brings up nothing.
    if (GetParam()) {
        HANDLE lookalike = NULL;
        HWND target = NULL;
        for (const Tail &t : tails) {
            // One that got the close request has ended; the next tail needs one that runs.
            if (!lookalike || !Running(lookalike)) {
                lookalike = StartLookalike(&target);
                ASSERT_NE((HWND)NULL, target) << "the look-alike did not come up";
                StoreRaw(HKEY_CURRENT_USER, kCorvexKey, kHandleValue, REG_SZ, DecimalHandle(target));
            }
            if (!MarkerPresent())
                ASSERT_NE(0, GlobalAddAtomA(kMarkerName));
            Judge(std::string("marked, ") + t.label,
                  std::string("ended, exit 0; sent ") + (t.closes ? "1" : "0") + (t.clears ? "; no marker" : "; marker"),
                  MarkedStartOutcome(t.tail, lookalike));
        }
        ClearMarkers();
        return;
    }

    // No copy marked: every tail runs the agent, or refuses while Corvex is missing.
    InstallCorvex();
    for (const Tail &t : tails)
        Judge(std::string("not marked, ") + t.label, kRan, StartOutcome(t.tail));
    UninstallCorvex();
    for (int i : { 0, 3, 10, 13 })
        Judge(std::string("not marked, no Corvex, ") + tails[i].label, kRefused, StartOutcome(tails[i].tail));
}
INSTANTIATE_TEST_SUITE_P(Agent, OddTails, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "Marked" : "NotMarked");
                         });

// --- Values read when the menu opens: one agent per group ---------------------

TEST_F(AgentTest, BadHelpValuesAtMenuTimeChooseTheHelpFileOrReportIt)
{
    const std::string exe = InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());
    auto observe = [&](const Reading &) {
        return MenuRound(agent, window, { VK_ESCAPE }) + "; " + HelpOutcome(agent, window);
    };
    const Value wizard = { "Wizard", HKEY_CURRENT_USER, kCorvexKey, "Wizard", 7, "1", '1', false, "1 \"x\"" };
    Sweep(wizard, [](const Reading &r) {
        return std::string("menu, alive; ") + (Effective(r) ? "help 3 cxwizard.hlp" : "help 11 corvex.hlp");
    }, observe);
    // The open command is read again for the menu's help item and for each request.
    const Value command = { "open command at menu time", HKEY_CLASSES_ROOT, kOpenCommandKey, "", 260,
                            "\"" + exe + "\" \"%1\"", 'x', false, "\"" + exe + "\" \"a \"\" b\"  \"%1\"" };
    Sweep(command, [](const Reading &r) {
        return std::string("menu, alive; ") + (Effective(r) ? "help 11 corvex.hlp" : "help missing");
    }, observe);
    Store(command, NoNul);   // quitting needs the help file found again
    QuitAgent(agent, window);
}

TEST_F(AgentTest, BadRecentFileValuesListAndLaunchSoundly)
{
    InstallCorvex();
    ASSERT_TRUE(Start());
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    // Even numbers lie in the temporary folder, so building the menu tests them on disk.
    auto recent = [&](int n) {
        std::string folder = n % 2 ? "C:\\Archives\\" : temp, name = "filemenu" + std::to_string(n);
        return Value{ name, HKEY_CURRENT_USER, kFileMenuKey, name, 261, folder + "recent.zip", 'p', false,
                      folder + "a \"q\" & b.zip" };
    };
    // The archive goes between quotes as read; nothing read, no archive at all.
    auto launchOf = [](const Reading &r) { return ExpectedLaunch(Effective(r) ? "\"" + r.text + "\"" : ""); };
    const int numbers[kShapeCount] = { 1, 2, 15, 14, 7, 10, 9, 8, 3, 4, 5, 6, 11, 12 };
    for (int shape = 0; shape < kShapeCount; shape++) {
        const Value v = recent(numbers[shape]);
        Store(v, (Shape)shape);
        std::string expected = "menu, alive; " + launchOf(CarefulRead(v));
        std::string seen = MenuRound(agent, window, { VK_ESCAPE });
        seen += "; " + LaunchAfter(window, kRecentBase + numbers[shape]);
        Judge(v.label + ", " + kShapeNames[shape], expected, seen);
    }
    // All fifteen filling the limit at once: ten long items, five left out.
    for (int n = 1; n <= 15; n++)
        Store(recent(n), NoNulAtLimit);
    std::string expected = "menu, alive", seen = MenuRound(agent, window, { VK_ESCAPE });
    for (int n : { 1, 8, 15 }) {
        expected += "; " + launchOf(CarefulRead(recent(n)));
        seen += "; " + LaunchAfter(window, kRecentBase + n);
    }
    Judge("all fifteen filemenu values filling the limit", expected, seen);
    QuitAgent(agent, window);
}

TEST_F(AgentTest, BadCacheFolderValuesFilterOnlyWhenTheyRead)
{
    KeyKeeper keep;
    keep.Keep(HKEY_CURRENT_USER, kShellFoldersKey);
    keep.Keep(HKEY_LOCAL_MACHINE, kCacheKey);
    InstallCorvex();
    ASSERT_TRUE(Start());
    const std::string kept = "C:\\Archives\\kept.zip";
    DeleteValue(HKEY_LOCAL_MACHINE, kCachePathsKey, "Directory");
    for (HKEY root : { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE }) {
        bool user = root == HKEY_CURRENT_USER;
        // The machine's folder is the second choice: it counts only without the user's.
        if (!user)
            DeleteValue(HKEY_CURRENT_USER, kShellFoldersKey, "Cache");
        const Value v = { user ? "user cache folder" : "machine cache folder", root,
                          user ? kShellFoldersKey : kCachePathsKey, user ? "Cache" : "Directory", 261,
                          "C:\\BadCache", 'p', false, "C:\\Bad Cache \"q\"" };
        // A vanished archive inside a folder that reads is left out, so the
        // top item, chosen with Home and Enter, is the other one.
        auto inside = [&](const Reading &r) {
            return !Effective(r) ? v.good + "\\gone.zip" : r.text.size() + 9 <= 260 ? r.text + "\\gone.zip" : r.text;
        };
        Sweep(v,
              [&](const Reading &r) {
                  return "menu, alive; " + ExpectedLaunch("\"" + (Effective(r) ? kept : inside(r)) + "\"");
              },
              [&](const Reading &r) {
                  SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu1", kept.c_str());
                  SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu2", inside(r).c_str());
                  ResetLaunchLog();
                  std::string seen = MenuRound(agent, window, { VK_HOME, VK_RETURN });
                  return seen + "; " + LaunchAfter(window, 0);
              });
    }
    QuitAgent(agent, window);
}
