// The real Clearon.exe with its main dialog, driven from this test program as
// a person at the screen would drive it: Start, Exit, Escape, close requests,
// the "Information" notice and the "Question" boxes answered. Products are
// played by the test uninstaller (an Uninstall entry whose uninstaller lingers
// and then deletes the entry); a copy of it beside the tool as setup.exe plays
// Aegira's installer. Each program a text must be seen during holds it on the
// screen until the test has read it (ProgramHold), so a watcher starved of
// the processor for seconds still sees it; texts that cannot be held
// ("Searching . . .") may be missed, but what was seen came in order. What is
// checked is what a person sees (the status line, the marquee, the boxes) and
// what an administrator finds afterwards (exit code, run log, registry).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "support/win/main_dialog_watch.h"
#include "support/win/wine_test_support.h"
#include "ui/resource.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the person reads on the screen.
const std::wstring kRunningBefore = L"Running programs before removal . . .";
const std::wstring kSearching = L"Searching . . .";
const std::wstring kRunningAfter = L"Running programs after removal . . .";
const std::wstring kInstallingAegira = L"Installing Aegira . . .";
const std::wstring kCompleted = L"Clearon has completed successfully.";
const std::wstring kCompletedReboot =
    L"Clearon has completed successfully.\r\nPlease reboot your system to continue.";
std::wstring Uninstalling(const std::wstring& name) {
    return L"Uninstalling " + name + L" . . .";
}
const std::wstring kInformation = L"Information";
const std::wstring kQuestion = L"Question";
std::wstring QuestionText(const std::wstring& name) {
    return name +
           L" may not be compatible with Aegira.  It is recommended to remove this product.  "
           L"Are you sure you want to remove " +
           name + L"?";
}

// What the administrator reads in the run log.
const std::wstring kStartLine = L" Clearon starting!";
const std::wstring kStopLine = L" Clearon stopping!";
const std::wstring kAegiraMissing = L" Aegira is NOT installed.";
const std::wstring kAddedToUserRunOnce =
    L" Added tool to current user's RunOnce key, please reboot to run tool again.";
const std::wstring kRemoving = L" Removing: ";
const std::wstring kDeclined = L" User chose not to remove: ";
const std::wstring kAttempting = L" Attempting to run: ";

// Registry places this test owns.
const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kTessaral = L"SOFTWARE\\Tessaral";
const std::wstring kAegiraKey = L"SOFTWARE\\Tessaral\\Aegira\\QRC";
const std::wstring kMarkerKey = L"Software\\Tessaral\\Clearon";
const std::wstring kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const std::wstring kInstalledVersion = L"11.0.5002.333";

struct Product {
    std::wstring subkey;
    std::wstring name;
};
const Product kWombat{L"ClearonDialogWombat", L"Wombat Dialog Antivirus"};
const Product kNumbat{L"ClearonDialogNumbat", L"Numbat Dialog Firewall"};
// Names that match nothing: each costs a full search of every root, which
// keeps "Searching . . ." on the screen long enough to be read.
const std::vector<std::wstring> kAbsentNames = {L"Quoll Absent Shield",  L"Bilby Absent Guard",
                                                L"Dunnart Absent Scan",  L"Potoroo Absent Suite",
                                                L"Bettong Absent Agent", L"Antechinus Absent AV"};

// A vendor's own uninstall key full of products that match no name: every
// name is searched through all of it, which keeps "Searching . . ." on the
// screen long enough to be read, as on a machine with much software.
const std::wstring kVendorRoot = L"SOFTWARE\\ClearonDialogTest\\Uninstall";
const std::wstring kVendorKey = L"SOFTWARE\\ClearonDialogTest";
constexpr int kVendorEntries = 600;

void CreateVendorRoot() {
    for (int i = 0; i < kVendorEntries; ++i) {
        const std::wstring number = std::to_wstring(1000 + i);
        SetString(HKEY_LOCAL_MACHINE, kVendorRoot + L"\\Tool" + number, L"DisplayName",
                  L"Unrelated Tool " + number);
    }
}

std::wstring EntryOf(const Product& product) {
    return kUninstallKey + L"\\" + product.subkey;
}

// The test program with these actions.
std::wstring Program(const std::wstring& actions) {
    return L"\"" + TestProgramPath(L"test_uninstaller.exe") + L"\" " + actions;
}

// Runs `actions` (a hold, say), then (when asked) deletes its own entry: a
// product that is really gone when its uninstaller has run.
void RegisterProduct(const Product& product, const std::wstring& actions, bool removesItself) {
    std::wstring command = Program(actions);
    if (removesItself) command += L" /delete-key=HKLM\\" + EntryOf(product);
    SetString(HKEY_LOCAL_MACHINE, EntryOf(product), L"DisplayName", product.name);
    SetString(HKEY_LOCAL_MACHINE, EntryOf(product), L"UninstallString", command);
}

// The test display has no window manager, and Wine is told so for Clearon's
// windows: it draws the caption bars itself, so the screenshots show the
// dialog as Windows does, and it does not wait for a window manager to take a
// closed dialog off the screen, which it gives up on only after two seconds
// (the process would end two seconds late). Clearon reads these values when
// its display driver starts; the suite puts back what it found.
const std::wstring kWineX11Key = L"Software\\Wine\\X11 Driver";
const std::vector<std::wstring> kWineNoWindowManager = {L"Decorated", L"Managed"};

std::vector<std::optional<std::wstring>> TellWineThereIsNoWindowManager() {
    std::vector<std::optional<std::wstring>> found;
    for (const auto& name : kWineNoWindowManager) {
        found.push_back(GetString(HKEY_CURRENT_USER, kWineX11Key, name));
        SetString(HKEY_CURRENT_USER, kWineX11Key, name, L"N");
    }
    return found;
}

void PutBackWineSettings(const std::vector<std::optional<std::wstring>>& found) {
    for (std::size_t i = 0; i < found.size() && i < kWineNoWindowManager.size(); ++i) {
        if (found[i]) {
            SetString(HKEY_CURRENT_USER, kWineX11Key, kWineNoWindowManager[i], *found[i]);
        } else {
            DeleteValue(HKEY_CURRENT_USER, kWineX11Key, kWineNoWindowManager[i]);
        }
    }
}

// ---- Clearon.ini -----------------------------------------------------------

struct Ini {
    bool showGui = true;
    bool autoRun = false;
    bool askBeforeRemoval = false;
    std::wstring messageBoxText;  // ShowMessageBox=Y with this text when not empty
    std::vector<std::wstring> before;
    std::vector<std::wstring> after;
    std::vector<std::wstring> products;
    bool vendorRoot = false;  // list kVendorRoot under [UninstallPaths]
};

std::string IniText(const Ini& ini) {
    std::wstring text = L"[Settings]\r\n";
    text += std::wstring(L"ShowGUI=") + (ini.showGui ? L"Y" : L"N") + L"\r\n";
    text += std::wstring(L"AutoRunAfterUILoads=") + (ini.autoRun ? L"Y" : L"N") + L"\r\n";
    text += std::wstring(L"AskBeforeRemoval=") + (ini.askBeforeRemoval ? L"Y" : L"N") + L"\r\n";
    text += L"SilentMSIInstaller=Y\r\nResumeAfterReboot=Y\r\nEnableLogging=Y\r\n";
    if (!ini.messageBoxText.empty()) {
        text += L"ShowMessageBox=Y\r\nMessageBoxText=" + ini.messageBoxText + L"\r\n";
    }
    for (const auto& command : ini.before) text += L"RunBeforeRemoval=" + command + L"\r\n";
    for (const auto& command : ini.after) text += L"RunAfterRemoval=" + command + L"\r\n";
    text += L"[ProductNames]\r\n";
    for (const auto& name : ini.products) text += name + L"\r\n";
    if (ini.vendorRoot) text += L"[UninstallPaths]\r\n" + kVendorRoot + L"\r\n";
    std::string bytes;
    for (wchar_t c : text) bytes.push_back(static_cast<char>(c));  // the test writes ASCII only
    return bytes;
}

// ---- The run log -----------------------------------------------------------

bool IsTimestamped(const std::wstring& line, const std::wstring& message) {
    return MessageOf(line) == message;
}

std::size_t CountLines(const std::vector<std::wstring>& lines, const std::wstring& message) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(),
                      [&](const auto& line) { return IsTimestamped(line, message); }));
}

// Lines whose message, after the timestamp, begins with `start`.
std::size_t CountLinesStarting(const std::vector<std::wstring>& lines, const std::wstring& start) {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
            const auto message = MessageOf(line);
            return message.has_value() && message->starts_with(start);
        }));
}

// Index of the last line that is `message` after a timestamp.
std::optional<std::size_t> LastLine(const std::vector<std::wstring>& lines,
                                    const std::wstring& message) {
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (IsTimestamped(lines[i], message)) return i;
    }
    return std::nullopt;
}

std::string Describe(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const auto& line : lines) text += "  " + Narrow(line) + "\n";
    return text;
}

// ---- Watching and waiting --------------------------------------------------

bool BelongsTo(HWND window, const RunningProgram& program) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == GetProcessId(program.process());
}

// A visible dialog-class window of `program` with this caption; nothing when
// none appears within `limit` or the program ends first.
HWND WaitForWindowOf(const RunningProgram& program, const std::wstring& caption,
                     std::chrono::milliseconds limit) {
    HWND found = nullptr;
    (void)WaitUntil(
        [&] {
            for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); w != nullptr;
                 w = FindWindowExW(nullptr, w, L"#32770", caption.c_str())) {
                if (IsWindowVisible(w) && BelongsTo(w, program)) {
                    found = w;
                    return true;
                }
            }
            return WaitForSingleObject(program.process(), 0) == WAIT_OBJECT_0;
        },
        limit);
    return found;
}

// The message of a box: its non-empty static texts (the icon has none).
std::wstring BoxText(HWND box) {
    std::wstring text;
    for (const auto& piece : StaticTexts(box)) {
        if (!piece.empty()) text += (text.empty() ? L"" : L"\n") + piece;
    }
    return text;
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// A close request as Alt+F4 or the task bar makes it. Sent, not posted, so
// that it has been handled when this returns.
bool SendClose(HWND dialog) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(dialog, WM_CLOSE, 0, 0, SMTO_BLOCK, 5000, &ignored) != 0;
}

bool SendCancelCommand(HWND dialog) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)), SMTO_BLOCK,
                               5000, &ignored) != 0;
}

// The Escape key on the dialog; the dialog manager turns it into IDCANCEL.
void PressEscape(HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

// Index of the first recorded status change at or after `from` holding `text`.
std::optional<std::size_t> FindStatus(
    const std::vector<DialogRecorder::Change<std::wstring>>& changes, const std::wstring& text,
    std::size_t from = 0) {
    for (std::size_t i = from; i < changes.size(); ++i) {
        if (changes[i].value == text) return i;
    }
    return std::nullopt;
}

std::string DescribeStatuses(const std::vector<DialogRecorder::Change<std::wstring>>& changes) {
    std::string text;
    for (const auto& change : changes) {
        std::string value = Narrow(change.value);
        for (std::size_t at = value.find("\r\n"); at != std::string::npos; at = value.find("\r\n"))
            value.replace(at, 2, "\\r\\n");
        text += "  " + std::to_string(change.at.count()) + " ms: \"" + value + "\"\n";
    }
    return text;
}

// The recorder polls: a text that stays on the screen is the latest in its
// record a moment later.
bool WaitForRecorded(const DialogRecorder& recorder, const std::wstring& text) {
    return WaitUntil(
        [&] {
            const auto changes = recorder.StatusChanges();
            return !changes.empty() && changes.back().value == text;
        },
        60s);
}

// The texts the status line showed, in their order. The line is empty only
// before the first run; an empty reading later is a read that timed out on a
// loaded machine (the recorder's bound is 2 s), not a text.
std::vector<std::wstring> TextsShown(const DialogRecorder& recorder) {
    std::vector<std::wstring> texts;
    for (const auto& change : recorder.StatusChanges()) {
        if (!change.value.empty() && (texts.empty() || texts.back() != change.value))
            texts.push_back(change.value);
    }
    return texts;
}

// A text of a run and whether a program holds it on the screen.
struct RunText {
    std::wstring text;
    bool held;
};

// `shown` is `expected` in its order, with only unheld texts missing, and
// ends with expected's last text.
::testing::AssertionResult ShownInOrder(const std::vector<std::wstring>& shown,
                                        const std::vector<RunText>& expected) {
    std::size_t next = 0;
    for (const RunText& item : expected) {
        if (next < shown.size() && shown[next] == item.text) {
            ++next;
        } else if (item.held) {
            return ::testing::AssertionFailure()
                   << "a held text was not seen in its place: " << Narrow(item.text);
        }
    }
    if (next != shown.size()) {
        return ::testing::AssertionFailure()
               << "a text out of order or unexpected: " << Narrow(shown[next]);
    }
    return ::testing::AssertionSuccess();
}

// Every recorded marquee picture is one the dialog can show: no frame and no
// square, or the frame with the squares of one position. Returns the
// positions in the order they were shown.
std::vector<int> CheckPictures(
    const std::vector<DialogRecorder::Change<MarqueePicture>>& pictures) {
    std::vector<int> positions;
    for (const auto& change : pictures) {
        const MarqueePicture& picture = change.value;
        if (picture.litMask == 0) continue;  // idle, or the frame alone before the first step
        const int position = MarqueePositionOf(picture);
        // A reader that the load held up can catch Clearon's thread between
        // one square and the next of a step or of the reset at the run's
        // end: such a picture is no position, but it must lie on the way.
        EXPECT_TRUE((picture.frameVisible && position > 0) || IsMidStep(picture))
            << "at " << change.at.count() << " ms the marquee showed " << DescribePicture(picture);
        if (position > 0) positions.push_back(position);
    }
    return positions;
}

// ---- The fixture -----------------------------------------------------------

class ClearonDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wineSettings_ = TellWineThereIsNoWindowManager();
        DeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
        CreateVendorRoot();
    }
    static void TearDownTestSuite() {
        DeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
        PutBackWineSettings(wineSettings_);
    }

    void SetUp() override {
        WipeRegistry();
        // Windows has the current user's RunOnce key, a fresh Wine prefix has
        // not; it is made for this test and taken away again after it.
        createdUserRunOnce_ = !KeyExists(HKEY_CURRENT_USER, kRunOnceKey);
        if (createdUserRunOnce_) {
            UniqueKey key;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                      ERROR_SUCCESS);
        }
        // A copy of the test uninstaller plays Aegira's installer: a bare
        // setup file name in the after-list is taken as the installer.
        CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), dir_ / L"setup.exe");
    }

    void TearDown() override {
        WipeRegistry();
        if (createdUserRunOnce_) DeleteTree(HKEY_CURRENT_USER, kRunOnceKey);
    }

    static void WipeRegistry() {
        DeleteTree(HKEY_LOCAL_MACHINE, EntryOf(kWombat));
        DeleteTree(HKEY_LOCAL_MACHINE, EntryOf(kNumbat));
        DeleteTree(HKEY_LOCAL_MACHINE, kTessaral);
        DeleteValue(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon");
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, L"Clearon");
    }

    void WriteIni(const Ini& ini) { WriteAnsi(dir_ / L"Clearon.ini", IniText(ini)); }

    [[nodiscard]] std::vector<std::wstring> LogLines() const {
        return TextLines(ReadUtf16File(dir_ / (L"Clearon." + ComputerName() + L".log")));
    }

    // Starts Clearon.exe and waits for its main dialog.
    HWND Launch() {
        program_ = StartClearon(dir_);
        if (!program_.started()) return nullptr;
        const HWND dialog = WaitForWindowOf(program_, kMainDialogCaption, 30s);
        EXPECT_NE(dialog, nullptr) << "no main dialog within 30 s";
        return dialog;
    }

    // The run has ended: the final text is up and Start may be pressed again.
    static bool WaitForIdleWith(HWND dialog, const std::wstring& finalText,
                                std::chrono::milliseconds limit) {
        return WaitUntil(
            [&] {
                return ControlText(dialog, IDC_STATUS) == finalText && Enabled(dialog, IDC_START) &&
                       Enabled(dialog, IDC_EXIT);
            },
            limit);
    }

    // Presses Exit on an idle dialog and returns the exit code.
    std::optional<DWORD> ExitDialog(HWND dialog) {
        PressButton(dialog, IDC_EXIT);
        return program_.WaitForExit(30s);
    }

    // The status texts of a whole run with one product, in their order;
    // "Searching . . ." is up only as long as a search takes.
    static std::vector<RunText> RunTexts(const std::wstring& productName,
                                         const std::wstring& finalText) {
        return {{kRunningBefore, true}, {kSearching, false},   {Uninstalling(productName), true},
                {kSearching, false},    {kRunningAfter, true}, {kInstallingAegira, true},
                {kRunningAfter, true},  {finalText, true}};
    }

    // The programs of a whole run, each holding its text on the screen.
    struct WholeRunHolds {
        ProgramHold before, uninstall, after, setup, lastAfter;
    };

    // An ini for a whole run: a program before, the product among names that
    // match nothing, a program, the installer and a program after.
    [[nodiscard]] static Ini WholeRunIni(const WholeRunHolds& holds) {
        Ini ini;
        ini.before = {Program(holds.before.Action())};
        ini.products = {kAbsentNames[0], kAbsentNames[1], kAbsentNames[2], kWombat.name,
                        kAbsentNames[3], kAbsentNames[4], kAbsentNames[5]};
        ini.after = {Program(holds.after.Action()), L"setup.exe " + holds.setup.Action(),
                     Program(holds.lastAfter.Action())};
        ini.vendorRoot = true;
        return ini;
    }

    // Lets the programs after the removal go on, each once its text was seen.
    static void ReleaseTheProgramsAfter(const DialogRecorder& recorder,
                                        const WholeRunHolds& holds) {
        EXPECT_TRUE(SeenThenReleased(recorder, kRunningAfter, holds.after))
            << DescribeStatuses(recorder.StatusChanges());
        EXPECT_TRUE(SeenThenReleased(recorder, kInstallingAegira, holds.setup))
            << DescribeStatuses(recorder.StatusChanges());
        EXPECT_TRUE(SeenThenReleased(recorder, kRunningAfter, holds.lastAfter))
            << DescribeStatuses(recorder.StatusChanges());
    }

    static inline std::vector<std::optional<std::wstring>> wineSettings_;
    ScratchDir dir_{L"dialogbb"};
    RunningProgram program_;
    bool createdUserRunOnce_ = false;
};

// ---- A whole run as the person at the screen sees it ------------------------

TEST_F(ClearonDialog, ShowsEveryStatusOfARealRunInOrderWithAMovingMarquee) {
    // Aegira reports itself installed, so the run ends without a reboot.
    SetString(HKEY_LOCAL_MACHINE, kAegiraKey, L"ProductVersion", kInstalledVersion);
    const WholeRunHolds holds;
    RegisterProduct(kWombat, holds.uninstall.Action(), true);
    WriteIni(WholeRunIni(holds));

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);

    // Idle: Start and Exit usable, no status, no marquee.
    EXPECT_TRUE(Enabled(dialog, IDC_START));
    EXPECT_TRUE(Enabled(dialog, IDC_EXIT));
    EXPECT_EQ(ControlText(dialog, IDC_STATUS), L"");
    EXPECT_EQ(ReadMarqueePicture(dialog), MarqueePicture{});
    EXPECT_FALSE(SaveScreenshot(dialog, "dialog-idle").empty());

    const auto recorderStart = Clock::now();
    DialogRecorder recorder(dialog);
    ASSERT_TRUE(WaitUntil([&] { return !recorder.StatusChanges().empty(); }, 60s))
        << "the recorder never read the idle dialog";
    const auto pressedAt = Clock::now();
    PressButton(dialog, IDC_START);

    EXPECT_TRUE(SeenThenReleased(recorder, kRunningBefore, holds.before))
        << DescribeStatuses(recorder.StatusChanges());
    // While the product is being removed and the marquee has been seen to
    // move: the buttons are off, a close request is
    // refused, and the picture is taken.
    const bool removalSeen =
        SeenThenReleased(recorder, Uninstalling(kWombat.name), holds.uninstall, [&] {
            const auto lit = LitPositions(recorder);
            const std::set<int> distinct(lit.begin(), lit.end());
            if (distinct.size() < 3) return false;
            EXPECT_FALSE(Enabled(dialog, IDC_START));
            EXPECT_FALSE(Enabled(dialog, IDC_EXIT));
            EXPECT_FALSE(SaveScreenshot(dialog, "dialog-running").empty());
            EXPECT_TRUE(SendClose(dialog));
            EXPECT_TRUE(IsWindow(dialog));
            EXPECT_FALSE(program_.WaitForExit(0ms).has_value())
                << "a close request ended a running removal";
            return true;
        });
    ASSERT_TRUE(removalSeen) << "the run never showed the removal with a moving marquee:\n"
                             << DescribeStatuses(recorder.StatusChanges());
    ReleaseTheProgramsAfter(recorder, holds);

    ASSERT_TRUE(WaitForIdleWith(dialog, kCompleted, 120s))
        << "the run did not end:\n"
        << DescribeStatuses(recorder.StatusChanges());
    // The completion tick has hidden the marquee again.
    EXPECT_TRUE(WaitUntil([&] { return ReadMarqueePicture(dialog) == MarqueePicture{}; }, 60s));
    EXPECT_TRUE(WaitForRecorded(recorder, kCompleted));
    recorder.Stop();

    // The texts of the run, in their order, each read from the status line.
    EXPECT_EQ(recorder.StatusChanges().front().value, L"");
    EXPECT_TRUE(ShownInOrder(TextsShown(recorder), RunTexts(kWombat.name, kCompleted)))
        << DescribeStatuses(recorder.StatusChanges());

    // The marquee: only pictures the dialog can show, the block moving one
    // square at a time, and the first step not before the first tick.
    const auto pictures = recorder.PictureChanges();
    const std::vector<int> positions = CheckPictures(pictures);
    // A recorder starved of the processor sees few of the steps; the
    // removal was held until it had seen the block at three places.
    std::set<int> distinct(positions.begin(), positions.end());
    EXPECT_GE(distinct.size(), 3u) << "the marquee hardly moved during a run of seconds";
    ASSERT_FALSE(positions.empty());
    // When each lit picture was seen: the recorder notes the time before it
    // reads, so picture i was read after litAt[i] and before litAt[i + 1]
    // (the start of the next reading that found a change).
    std::vector<std::chrono::milliseconds> litAt;
    for (const auto& change : pictures) {
        if (change.value.litMask != 0) litAt.push_back(change.at);
    }
    const auto pressedAfter =
        std::chrono::duration_cast<std::chrono::milliseconds>(pressedAt - recorderStart);
    // The first tick comes 500 ms after the start: a figure, not a check
    // (how long things take is a matter for the benchmarks).
    const auto firstStep = litAt.front() - pressedAfter;
    // The block grows in from the left, square 1 first, then one step per
    // tick and never back. A recorder held up on a loaded machine misses one
    // step for every 100 ms it lost.
    auto mayMiss = [](std::chrono::milliseconds span) { return span.count() / 90 + 1; };
    if (litAt.size() > 1) {
        EXPECT_LE(positions.front(), mayMiss(litAt[1] - pressedAfter - 500ms))
            << "the block did not grow in from the left";
    }
    for (std::size_t i = 1; i + 1 < positions.size(); ++i) {
        const int step = (positions[i] - positions[i - 1] + 24) % 24;
        const long long missable = mayMiss(litAt[i + 1] - litAt[i - 1]);
        if (missable >= 23) continue;  // held up for a whole turn: nothing to compare
        EXPECT_TRUE(step >= 1 && step <= 1 + missable)
            << positions[i - 1] << " -> " << positions[i] << " within "
            << (litAt[i + 1] - litAt[i - 1]).count() << " ms";
    }
    std::printf(
        "[ figures  ] first marquee step %lld ms after Start; %zu steps seen, %zu positions\n",
        static_cast<long long>(firstStep.count()), positions.size(), distinct.size());

    // Idle again, a close request is accepted and the process ends with 0.
    ASSERT_TRUE(SendClose(dialog));
    const auto code = program_.WaitForExit(30s);
    ASSERT_TRUE(code.has_value()) << "an accepted close did not end Clearon";
    EXPECT_EQ(*code, 0u);

    const auto lines = LogLines();
    EXPECT_EQ(CountLines(lines, kRemoving + kWombat.name), 1u) << Describe(lines);
    EXPECT_EQ(CountLines(lines, L" Aegira " + kInstalledVersion + L" is installed."), 1u)
        << Describe(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(IsTimestamped(lines.back(), kStopLine)) << Describe(lines);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kWombat)));
    EXPECT_FALSE(GetString(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon").has_value());
}

// ---- Escape, the cancel command and a run that asks for a reboot ------------

TEST_F(ClearonDialog, EscapeAndCancelMidRunLeaveTheRunToFinishAndAskForAReboot) {
    // Aegira's installer runs but the product does not report itself: the
    // run registers the resume and asks for a reboot.
    const WholeRunHolds holds;
    RegisterProduct(kWombat, holds.uninstall.Action(), true);
    WriteIni(WholeRunIni(holds));

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    DialogRecorder recorder(dialog);
    PressButton(dialog, IDC_START);
    EXPECT_TRUE(SeenThenReleased(recorder, kRunningBefore, holds.before))
        << DescribeStatuses(recorder.StatusChanges());
    const bool removalSeen =
        SeenThenReleased(recorder, Uninstalling(kWombat.name), holds.uninstall, [&] {
            PressEscape(dialog);
            EXPECT_TRUE(SendCancelCommand(dialog));
            EXPECT_TRUE(IsWindow(dialog));
            EXPECT_FALSE(program_.WaitForExit(0ms).has_value())
                << "the cancel command ended the removal";
            return true;
        });
    ASSERT_TRUE(removalSeen) << DescribeStatuses(recorder.StatusChanges());
    // The key was posted before the worker's next status text, so once that
    // text is on the screen the dialog has handled the key too.
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlText(dialog, IDC_STATUS) != Uninstalling(kWombat.name); }, 60s));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(program_.WaitForExit(0ms).has_value()) << "Escape ended the removal";
    ReleaseTheProgramsAfter(recorder, holds);

    ASSERT_TRUE(WaitForIdleWith(dialog, kCompletedReboot, 120s))
        << DescribeStatuses(recorder.StatusChanges());
    EXPECT_FALSE(SaveScreenshot(dialog, "dialog-reboot").empty());
    EXPECT_TRUE(WaitForRecorded(recorder, kCompletedReboot));
    recorder.Stop();
    EXPECT_TRUE(ShownInOrder(TextsShown(recorder), RunTexts(kWombat.name, kCompletedReboot)))
        << DescribeStatuses(recorder.StatusChanges());

    // The run's final steps took place: the resume is registered with its
    // marker, and the log holds the reboot decision.
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon"),
              L"\"" + dir_ / L"Clearon.exe" + L"\" /RunOnce");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kMarkerKey, L"RebootRequired"), L"1");

    const auto code = ExitDialog(dialog);
    ASSERT_TRUE(code.has_value()) << "Exit did not end Clearon";
    EXPECT_EQ(*code, 0u);
    const auto lines = LogLines();
    const auto missing = LastLine(lines, kAegiraMissing);
    const auto added = LastLine(lines, kAddedToUserRunOnce);
    ASSERT_TRUE(missing && added) << Describe(lines);
    EXPECT_LT(*missing, *added);
    EXPECT_EQ(CountLines(lines, kStopLine), 1u) << Describe(lines);
    EXPECT_TRUE(IsTimestamped(lines.back(), kStopLine)) << Describe(lines);
}

// ---- Exit without a run -----------------------------------------------------

TEST_F(ClearonDialog, ExitWithoutARunEndsWithZeroAndLogsOnlyTheStartAndStop) {
    RegisterProduct(kWombat, L"", true);
    Ini ini;
    ini.before = {Program(L"/mark=" + dir_ / L"before.txt")};
    ini.products = {kWombat.name};
    WriteIni(ini);

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    const auto code = ExitDialog(dialog);
    ASSERT_TRUE(code.has_value()) << "Exit did not end Clearon";
    EXPECT_EQ(*code, 0u);

    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 4u) << Describe(lines);
    EXPECT_EQ(lines[0], L"Computer Name: " + ComputerName());
    EXPECT_TRUE(IsTimestamped(lines[1], kStartLine)) << Narrow(lines[1]);
    EXPECT_TRUE(IsTimestamped(lines[2], L" Clearon version " CLEARON_VERSION_TEXT))
        << Narrow(lines[2]);
    EXPECT_TRUE(IsTimestamped(lines[3], kStopLine)) << Narrow(lines[3]);
    EXPECT_FALSE(FileExists(dir_ / L"before.txt")) << "a program ran without a start";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kWombat)));
}

// ---- The automatic run ------------------------------------------------------

struct AutoRunCase {
    const char* label;
    bool removesItself;
    DWORD exitCode;
};

class ClearonAutoRun : public ClearonDialog, public ::testing::WithParamInterface<AutoRunCase> {};

// The process's end as local time in 100 ns units, as the log's timestamps.
std::optional<ULONGLONG> LocalExitTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{}, local{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
    if (exited.dwHighDateTime == 0 && exited.dwLowDateTime == 0) return std::nullopt;
    if (!FileTimeToLocalFileTime(&exited, &local)) return std::nullopt;
    return (static_cast<ULONGLONG>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}

long long Milliseconds(ULONGLONG later, ULONGLONG earlier) {
    return static_cast<long long>(later - earlier) / 10000;
}

TEST_P(ClearonAutoRun, StartsAsTheDialogShowsAndClosesItAtTheRunsEnd) {
    const AutoRunCase& c = GetParam();
    const ProgramHold before;
    const ProgramHold uninstall;
    RegisterProduct(kWombat, uninstall.Action(), c.removesItself);
    Ini ini;
    ini.autoRun = true;
    ini.before = {Program(before.Action())};
    ini.products = {kWombat.name};
    WriteIni(ini);

    program_ = StartClearon(dir_);
    ASSERT_TRUE(program_.started());
    const HWND dialog = WaitForWindowOf(program_, kMainDialogCaption, 30s);
    ASSERT_NE(dialog, nullptr);
    const auto recorderStart = Clock::now();
    DialogRecorder recorder(dialog);
    // Nobody pressed Start: the run began as the dialog showed.
    EXPECT_TRUE(SeenThenReleased(recorder, kRunningBefore, before))
        << DescribeStatuses(recorder.StatusChanges());
    EXPECT_TRUE(SeenThenReleased(recorder, Uninstalling(kWombat.name), uninstall))
        << DescribeStatuses(recorder.StatusChanges());
    const auto code = program_.WaitForExit(120s);
    const auto exitSeen = Clock::now();
    recorder.Stop();
    ASSERT_TRUE(code.has_value()) << "the dialog did not close itself after the run:\n"
                                  << DescribeStatuses(recorder.StatusChanges());
    EXPECT_EQ(*code, c.exitCode);
    const auto changes = recorder.StatusChanges();

    const auto lines = LogLines();
    EXPECT_EQ(CountLines(lines, kRemoving + kWombat.name), 1u) << Describe(lines);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kWombat)), !c.removesItself);
    const auto workerLast = LastLine(lines, kAegiraMissing);
    const auto stop = LastLine(lines, kStopLine);
    ASSERT_TRUE(workerLast && stop) << Describe(lines);
    ASSERT_EQ(*stop, lines.size() - 1) << Describe(lines);
    ASSERT_EQ(*workerLast, lines.size() - 2)
        << "the worker's last line comes just before the stop" << Describe(lines);

    // How long after the run's end the dialog closed: the stop line is
    // written as the dialog has ended, the exit follows it. Printed as
    // figures only: how long that takes is a matter for the benchmarks.
    const ULONGLONG workerAt = *TimestampOf(lines[*workerLast]);
    const long long stopAfter = Milliseconds(*TimestampOf(lines[*stop]), workerAt);
    EXPECT_GE(stopAfter, 0);
    const auto exitAt = LocalExitTime(program_.process());
    const long long exitAfter = exitAt ? Milliseconds(*exitAt, workerAt) : -1;
    // The final text is up for that moment only; the recorder catches it
    // when it is not held up itself.
    const auto finalShown = FindStatus(changes, kCompleted);
    const std::string afterFinal =
        finalShown ? std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        exitSeen - recorderStart - changes[*finalShown].at)
                                        .count()) +
                         " ms after the final text was seen"
                   : "the final text was up too briefly to be seen";
    std::printf(
        "[ figures  ] %s: stop line %lld ms after the worker's last line, process exit "
        "%lld ms after it; exit noticed %s\n",
        c.label, stopAfter, exitAfter, afterFinal.c_str());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ClearonAutoRun,
                         ::testing::Values(AutoRunCase{"all removed", true, 0},
                                           AutoRunCase{"product stayed", false, 1}),
                         [](const ::testing::TestParamInfo<AutoRunCase>& param) {
                             return std::string(param.param.removesItself ? "AllRemoved"
                                                                          : "ProductStayed");
                         });

// ---- A short run, then a second, complete one --------------------------------

TEST_F(ClearonDialog, ShortRunIsNoticedAtTheFirstTickAndStartRunsAgain) {
    // Nothing to run and nothing installed at first: the run is over in far
    // less than the first tick's 500 ms.
    Ini ini;
    ini.products = {kWombat.name};
    WriteIni(ini);

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    // Watched twice: by the recorder on its own thread, and here between
    // the waits, so that one observer held up on a loaded machine does not
    // leave the run unwatched.
    auto recorder = std::make_unique<DialogRecorder>(dialog);
    bool litSeen = false;
    auto picture = [&] {
        const MarqueePicture now = ReadMarqueePicture(dialog);
        litSeen = litSeen || now.litMask != 0;
        return now;
    };
    const auto pressedAt = Clock::now();
    PressButton(dialog, IDC_START);
    // The run leaves the idle state (the line was empty before it; the
    // progress frame is up for a moment only and may be missed), then comes
    // back to it.
    ASSERT_TRUE(WaitUntil(
        [&] {
            (void)picture();
            return !ControlText(dialog, IDC_STATUS).empty();
        },
        60s))
        << "the run never showed a status";
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !picture().frameVisible && Enabled(dialog, IDC_START) &&
                   ControlText(dialog, IDC_STATUS) == kCompleted;
        },
        60s));
    const auto idleAt = Clock::now();
    recorder->Stop();

    // No square was ever lit: had the first tick, 500 ms after the start,
    // not noticed the run's end, it would have lit square 1.
    EXPECT_FALSE(litSeen) << "a square lit during a run shorter than the first tick";
    const auto pictures = recorder->PictureChanges();
    for (const auto& change : pictures) {
        EXPECT_EQ(change.value.litMask, 0u)
            << "a square lit at " << change.at.count() << " ms: " << DescribePicture(change.value);
    }
    std::optional<std::chrono::milliseconds> frameShown;
    std::optional<std::chrono::milliseconds> frameHidden;
    for (const auto& change : pictures) {
        if (change.value.frameVisible && !frameShown) frameShown = change.at;
        if (!change.value.frameVisible && frameShown && !frameHidden) frameHidden = change.at;
    }
    const std::string frameFor = frameShown && frameHidden
                                     ? std::to_string((*frameHidden - *frameShown).count()) + " ms"
                                     : "a time the recorder missed";
    std::printf(
        "[ figures  ] short run: progress frame shown for %s, idle again %lld ms after "
        "Start was pressed, no square lit\n",
        frameFor.c_str(),
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(idleAt - pressedAt).count()));
    ASSERT_EQ(CountLines(LogLines(), kAegiraMissing), 1u) << Describe(LogLines());

    // The product turns up; Start begins a second run, which is complete:
    // its removal is seen with the marquee moving, then the final text.
    const ProgramHold uninstall;
    RegisterProduct(kWombat, uninstall.Action(), true);
    recorder = std::make_unique<DialogRecorder>(dialog);
    PressButton(dialog, IDC_START);
    ASSERT_TRUE(SeenThenReleased(*recorder, Uninstalling(kWombat.name), uninstall, [&] {
        return !LitPositions(*recorder).empty();
    })) << DescribeStatuses(recorder->StatusChanges());
    ASSERT_TRUE(WaitForIdleWith(dialog, kCompleted, 60s))
        << DescribeStatuses(recorder->StatusChanges());
    EXPECT_TRUE(WaitForRecorded(*recorder, kCompleted));
    recorder->Stop();
    const auto changes = recorder->StatusChanges();
    const auto uninstalling = FindStatus(changes, Uninstalling(kWombat.name));
    ASSERT_TRUE(uninstalling.has_value()) << DescribeStatuses(changes);
    EXPECT_TRUE(FindStatus(changes, kCompleted, *uninstalling).has_value())
        << DescribeStatuses(changes);
    EXPECT_FALSE(CheckPictures(recorder->PictureChanges()).empty()) << "the marquee never moved";

    const auto code = ExitDialog(dialog);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    const auto lines = LogLines();
    const auto removing = LastLine(lines, kRemoving + kWombat.name);
    ASSERT_TRUE(removing.has_value()) << Describe(lines);
    EXPECT_EQ(CountLines(lines, kRemoving + kWombat.name), 1u);
    // Two whole runs in one process: each ends with the reboot decision.
    std::vector<std::size_t> decisions;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsTimestamped(lines[i], kAegiraMissing)) decisions.push_back(i);
    }
    ASSERT_EQ(decisions.size(), 2u) << Describe(lines);
    EXPECT_LT(decisions[0], *removing);
    EXPECT_LT(*removing, decisions[1]);
    EXPECT_EQ(CountLines(lines, kStartLine), 1u);
    EXPECT_TRUE(IsTimestamped(lines.back(), kStopLine)) << Describe(lines);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kWombat)));
}

// ---- The notice before each start --------------------------------------------

// In the file the notice's line break is written as \n.
const std::wstring kNoticeInFile = L"Please save your work.\\nThe removal starts now.";
const std::wstring kNoticeShown = L"Please save your work.\nThe removal starts now.";

// While the notice is up nothing of the run happens: no program starts.
void ExpectNothingStartedBehindTheNotice(const std::wstring& mark) {
    EXPECT_FALSE(WaitUntil([&] { return FileExists(mark); }, 1500ms))
        << "the run started before the notice was dismissed";
}

std::size_t MarkCount(const std::wstring& mark) {
    return TextLines(ReadUtf16File(mark)).size();
}

TEST_F(ClearonDialog, NoticeIsShownBeforeEachStartOfTheDialog) {
    const std::wstring mark = dir_ / L"before.txt";
    Ini ini;
    ini.messageBoxText = kNoticeInFile;
    ini.before = {Program(L"/mark=" + mark)};
    ini.products = {kAbsentNames[0]};
    WriteIni(ini);

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    for (std::size_t run = 1; run <= 2; ++run) {
        SCOPED_TRACE("start " + std::to_string(run));
        PressButton(dialog, IDC_START);
        const HWND box = WaitForWindowOf(program_, kInformation, 30s);
        ASSERT_NE(box, nullptr) << "no notice before the start";
        EXPECT_EQ(BoxText(box), kNoticeShown);
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog) << "the notice belongs to the dialog";
        if (run == 1) ExpectNothingStartedBehindTheNotice(mark);
        EXPECT_EQ(MarkCount(mark), run - 1);
        ASSERT_TRUE(PressButtonByText(box, L"OK"));
        ASSERT_TRUE(WaitUntil([&] { return MarkCount(mark) == run; }, 60s))
            << "the run did not start after the notice";
        ASSERT_TRUE(WaitForIdleWith(dialog, kCompleted, 60s));
    }
    const auto code = ExitDialog(dialog);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    EXPECT_EQ(CountLines(LogLines(), kAegiraMissing), 2u) << Describe(LogLines());
}

TEST_F(ClearonDialog, NoticeIsShownBeforeASilentRunToo) {
    const std::wstring mark = dir_ / L"before.txt";
    Ini ini;
    ini.showGui = false;
    ini.messageBoxText = kNoticeInFile;
    ini.before = {Program(L"/mark=" + mark)};
    ini.products = {kAbsentNames[0]};
    WriteIni(ini);

    program_ = StartClearon(dir_);
    ASSERT_TRUE(program_.started());
    const HWND box = WaitForWindowOf(program_, kInformation, 30s);
    ASSERT_NE(box, nullptr) << "no notice before the silent run";
    EXPECT_EQ(BoxText(box), kNoticeShown);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "a silent run has no window to own it";
    EXPECT_EQ(FindWindowExW(nullptr, nullptr, L"#32770", kMainDialogCaption), nullptr);
    ExpectNothingStartedBehindTheNotice(mark);
    EXPECT_EQ(CountLinesStarting(LogLines(), kAttempting), 0u) << Describe(LogLines());
    ASSERT_TRUE(PressButtonByText(box, L"OK"));
    const auto code = program_.WaitForExit(60s);
    ASSERT_TRUE(code.has_value()) << "the silent run did not end after the notice";
    EXPECT_EQ(*code, 0u);
    EXPECT_EQ(MarkCount(mark), 1u);
    EXPECT_EQ(CountLinesStarting(LogLines(), kAttempting), 1u) << Describe(LogLines());
    const auto lines = LogLines();
    EXPECT_EQ(CountLines(lines, kAegiraMissing), 1u) << Describe(lines);
    EXPECT_TRUE(IsTimestamped(lines.back(), kStopLine)) << Describe(lines);
}

// ---- Questions while the dialog goes on ---------------------------------------

// A "Question" box of `program` asking about `name`.
HWND WaitForQuestion(const RunningProgram& program, const std::wstring& name,
                     std::chrono::milliseconds limit) {
    HWND found = nullptr;
    (void)WaitUntil(
        [&] {
            const HWND box = WaitForWindowOf(program, kQuestion, 50ms);
            if (box != nullptr && BoxText(box) == QuestionText(name)) found = box;
            return found != nullptr || WaitForSingleObject(program.process(), 0) == WAIT_OBJECT_0;
        },
        limit);
    return found;
}

TEST_F(ClearonDialog, QuestionsAreAnsweredWhileTheDialogStaysResponsive) {
    const ProgramHold wombatUninstall;
    RegisterProduct(kWombat, wombatUninstall.Action(), true);
    RegisterProduct(kNumbat, L"", true);
    Ini ini;
    ini.askBeforeRemoval = true;
    ini.products = {kWombat.name, kNumbat.name};
    WriteIni(ini);

    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    DialogRecorder recorder(dialog);
    PressButton(dialog, IDC_START);

    struct Answer {
        const Product& product;
        const wchar_t* button;
    };
    for (const Answer& answer : {Answer{kWombat, L"Yes"}, Answer{kNumbat, L"No"}}) {
        SCOPED_TRACE(Narrow(answer.product.name));
        const HWND box = WaitForQuestion(program_, answer.product.name, 180s);
        ASSERT_NE(box, nullptr) << "no question about the product";
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);

        // While the question waits the dialog answers at once, refuses to
        // close, and its marquee goes on moving.
        EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_STATUS) == kSearching; }, 60s))
            << "the dialog did not answer while the question waited";
        ASSERT_TRUE(SendClose(dialog));
        EXPECT_TRUE(IsWindow(dialog));
        const int position = MarqueePositionOf(ReadMarqueePicture(dialog));
        EXPECT_TRUE(WaitUntil(
            [&] { return MarqueePositionOf(ReadMarqueePicture(dialog)) != position; }, 60s))
            << "the marquee stood still while the question waited";
        EXPECT_TRUE(IsWindow(box)) << "the question went away unanswered";

        ASSERT_TRUE(PressButtonByText(box, answer.button));
        if (&answer.product == &kWombat) {
            EXPECT_TRUE(SeenThenReleased(recorder, Uninstalling(kWombat.name), wombatUninstall))
                << DescribeStatuses(recorder.StatusChanges());
        }
    }
    ASSERT_TRUE(WaitForIdleWith(dialog, kCompleted, 120s))
        << DescribeStatuses(recorder.StatusChanges());
    recorder.Stop();
    const auto changes = recorder.StatusChanges();
    EXPECT_TRUE(FindStatus(changes, Uninstalling(kWombat.name)).has_value())
        << DescribeStatuses(changes);
    EXPECT_FALSE(FindStatus(changes, Uninstalling(kNumbat.name)).has_value())
        << DescribeStatuses(changes);

    const auto code = ExitDialog(dialog);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u) << "a declined product is not a failed removal";
    const auto lines = LogLines();
    EXPECT_EQ(CountLines(lines, kRemoving + kWombat.name), 1u) << Describe(lines);
    EXPECT_EQ(CountLines(lines, kDeclined + kNumbat.name), 1u) << Describe(lines);
    EXPECT_EQ(CountLines(lines, kRemoving + kNumbat.name), 0u) << Describe(lines);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kWombat)));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryOf(kNumbat)));
}

}  // namespace
}  // namespace clearon::test
