// The real main dialog, created from its template and driven from another
// thread as a person would: Start, Exit, Escape, close requests, with a
// stand-in worker behind the start that posts status texts and ends when the
// test lets it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/run_state.h"
#include "startup/run_context.h"
#include "support/win/main_dialog_watch.h"
#include "support/win/wine_test_support.h"
#include "ui/main_dialog.h"
#include "ui/marquee.h"
#include "ui/resource.h"
#include "ui/status_message.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kFinalWithReboot[] =
    L"Clearon has completed successfully.\r\nPlease reboot your system to continue.";
constexpr wchar_t kFinal[] = L"Clearon has completed successfully.";

// Nobody draws caption bars on the test display, which has no window
// manager: Wine is asked to draw window decorations itself, before its
// display driver starts, so the screenshots show the caption as Windows does.
const bool g_wineDrawsDecorations = [] {
    const wchar_t no[] = L"N";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Decorated", REG_SZ, no,
                    sizeof no);
    return true;
}();

// ---- The stand-in worker -------------------------------------------------

struct StandIn {
    std::vector<std::wstring> before;  // posted at the start, `pause` apart
    DWORD pause = 0;
    std::vector<std::wstring> after;  // posted once the test releases it
    UniqueKernelHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // The start returns only once the worker has ended: a run that is over
    // before the dialog's first tick, however slow the machine.
    bool endsBeforeTheFirstTick = false;
    std::atomic<int> starts{0};  // counted once the running state is entered
};
StandIn g_standIn;

DWORD WINAPI StandInWorker(void*) {
    for (const auto& text : g_standIn.before) {
        PostStatus(text);
        Sleep(g_standIn.pause);
    }
    WaitForSingleObject(g_standIn.release.get(), 120000);
    for (const auto& text : g_standIn.after) PostStatus(text);
    return 1;
}

// What the removal run's start does in a dialog run.
int StartStandIn() {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, StandInWorker, nullptr, 0, &id);
    if (thread == nullptr) {
        ++g_standIn.starts;
        return kStartNotPossible;
    }
    if (g_standIn.endsBeforeTheFirstTick) WaitForSingleObject(thread, 120000);
    g_runState.workerThread.Adopt(thread, id);
    EnterRunningState(g_runState.mainWindow);
    ++g_standIn.starts;
    return 0;
}

int FailingStart() {
    ++g_standIn.starts;
    return kStartNotPossible;
}

// ---- The dialog on a thread of its own -----------------------------------

// Sent by the test to read the marquee on the dialog's own thread, between
// two of its messages, so a picture is never caught halfway through a step.
constexpr UINT kSnapshotMessage = WM_APP + 1;
// Posted by the test after messages of its own: once the dialog has handled
// it, it has handled every message posted before it.
constexpr UINT kFenceMessage = WM_APP + 2;

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
bool Visible(HWND dialog, int id) {
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

std::wstring StatusOnScreen(HWND dialog) {
    wchar_t status[256] = {};
    GetDlgItemTextW(dialog, IDC_STATUS, status, 255);
    return status;
}

// What the dialog's own thread showed after each message that changes the
// screen: no sampling, so no change is ever missed however slow the machine.
struct Tick {
    MarqueePicture picture;
    std::wstring status;
    bool idle;  // Start usable again after this tick
};
struct Seen {
    std::vector<std::wstring> statuses;  // after each status message
    std::vector<Tick> ticks;             // after each completion tick
    int fences = 0;
    [[nodiscard]] int IdleReturns() const {
        return static_cast<int>(
            std::count_if(ticks.begin(), ticks.end(), [](const Tick& tick) { return tick.idle; }));
    }
};
std::mutex g_seenMutex;
Seen g_seen;

Seen SeenSoFar() {
    std::lock_guard lock(g_seenMutex);
    return g_seen;
}

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSnapshotMessage) {
        *reinterpret_cast<MarqueePicture*>(lParam) = ReadMarqueePicture(dialog);
        return TRUE;
    }
    if (message == kFenceMessage) {
        std::lock_guard lock(g_seenMutex);
        ++g_seen.fences;
        return TRUE;
    }
    const INT_PTR result = MainDialogProc(dialog, message, wParam, lParam);
    if (message == WM_TIMER && wParam == kCompletionTimerId) {
        Tick tick{ReadMarqueePicture(dialog), StatusOnScreen(dialog), Enabled(dialog, IDC_START)};
        std::lock_guard lock(g_seenMutex);
        g_seen.ticks.push_back(std::move(tick));
    } else if (message == kStatusMessage) {
        std::wstring status = StatusOnScreen(dialog);
        std::lock_guard lock(g_seenMutex);
        g_seen.statuses.push_back(std::move(status));
    }
    return result;
}

MarqueePicture SnapshotPicture(HWND dialog) {
    MarqueePicture picture;
    SendMessageTimeoutW(dialog, kSnapshotMessage, 0, reinterpret_cast<LPARAM>(&picture), SMTO_BLOCK,
                        10000, nullptr);
    return picture;
}

class DialogSession {
public:
    DialogSession() {
        thread_.reset(CreateThread(nullptr, 0, &DialogSession::ThreadMain, this, 0, nullptr));
        window_ = WaitForWindow(kMainDialogCaption, 60s);
    }
    ~DialogSession() {
        SetEvent(g_standIn.release.get());
        if (!WaitForEnd(0ms)) {
            (void)WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window_, IDC_EXIT)) != FALSE; },
                            30s);
            PostMessageW(window_, WM_COMMAND, IDC_EXIT, 0);
        }
        if (!WaitForEnd(30s)) ADD_FAILURE() << "the dialog did not end";
    }
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    [[nodiscard]] HWND window() const { return window_; }
    [[nodiscard]] std::optional<INT_PTR> WaitForEnd(std::chrono::milliseconds limit) {
        if (WaitForSingleObject(thread_.get(), static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        return result_;
    }

private:
    static DWORD WINAPI ThreadMain(void* self) {
        auto* session = static_cast<DialogSession*>(self);
        session->result_ = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN),
                                           nullptr, TestDialogProc, 0);
        return 0;
    }
    UniqueKernelHandle thread_;
    HWND window_ = nullptr;
    INT_PTR result_ = -1;
};

std::wstring WindowTextOf(HWND control) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        2000, &copied);
    return std::wstring(buffer, copied);
}

void PressEscape(HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0);
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEvent(g_standIn.release.get());
        g_standIn.before.clear();
        g_standIn.after.clear();
        g_standIn.pause = 0;
        g_standIn.endsBeforeTheFirstTick = false;
        g_standIn.starts = 0;
        g_runState.mainWindow = nullptr;
        g_runState.workerThread.reset();
        g_runState.startResult = 0;
        g_dialogRun.autoRun = false;
        g_dialogRun.start = StartStandIn;
        std::lock_guard lock(g_seenMutex);
        g_seen = Seen{};
    }
    void TearDown() override { g_dialogRun.start = nullptr; }

    // The idle state: buttons usable, no frame, no squares, no worker.
    static void ExpectIdle(HWND dialog) {
        EXPECT_TRUE(Enabled(dialog, IDC_START));
        EXPECT_TRUE(Enabled(dialog, IDC_EXIT));
        const MarqueePicture picture = SnapshotPicture(dialog);
        EXPECT_FALSE(picture.frameVisible);
        EXPECT_EQ(picture.litMask, 0u) << DescribePicture(picture);
        EXPECT_FALSE(g_runState.workerThread);
        EXPECT_EQ(g_runState.workerThread.id, 0u);
    }
};

// ---- The template ---------------------------------------------------------

// One control of template 103 as the resource holds it.
struct TemplateItem {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring className;  // from an ordinal (0x80 Button, 0x82 Static) or as written
    std::wstring text;
    int imageOrdinal = -1;  // the resource an icon or bitmap control shows
};

struct ParsedTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    WORD weight = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    template <typename T>
    T Read() {
        T value;
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    std::wstring ReadString() {
        std::wstring text;
        for (wchar_t c; (c = static_cast<wchar_t>(Read<WORD>())) != L'\0';) text.push_back(c);
        return text;
    }
    // sz_Or_Ord: empty, an ordinal after 0xFFFF, or a string.
    std::wstring ReadSzOrOrd(int& ordinal) {
        ordinal = -1;
        WORD first;
        std::memcpy(&first, p_, sizeof first);
        if (first == 0xFFFF) {
            p_ += 2;
            ordinal = Read<WORD>();
            return {};
        }
        return ReadString();
    }
    void AlignToDword(const BYTE* base) {
        while ((p_ - base) % 4 != 0) ++p_;
    }

private:
    const BYTE* p_;
};

ParsedTemplate ReadTemplate(int id) {
    ParsedTemplate parsed;
    HRSRC found =
        FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (found == nullptr) return parsed;
    const auto* base =
        static_cast<const BYTE*>(LockResource(LoadResource(GetModuleHandleW(nullptr), found)));
    TemplateReader in(base);
    EXPECT_EQ(in.Read<WORD>(), 1);       // dlgVer
    EXPECT_EQ(in.Read<WORD>(), 0xFFFF);  // signature of an extended template
    (void)in.Read<DWORD>();              // helpID
    (void)in.Read<DWORD>();              // exStyle
    parsed.style = in.Read<DWORD>();
    const WORD count = in.Read<WORD>();
    (void)in.Read<short>();
    (void)in.Read<short>();
    parsed.cx = in.Read<short>();
    parsed.cy = in.Read<short>();
    int ordinal = -1;
    (void)in.ReadSzOrOrd(ordinal);  // menu
    (void)in.ReadSzOrOrd(ordinal);  // class
    parsed.caption = in.ReadString();
    parsed.pointSize = in.Read<WORD>();
    parsed.weight = in.Read<WORD>();
    (void)in.Read<BYTE>();  // italic
    (void)in.Read<BYTE>();  // charset
    parsed.face = in.ReadString();
    for (WORD i = 0; i < count; ++i) {
        in.AlignToDword(base);
        TemplateItem item;
        (void)in.Read<DWORD>();  // helpID
        item.exStyle = in.Read<DWORD>();
        item.style = in.Read<DWORD>();
        item.x = in.Read<short>();
        item.y = in.Read<short>();
        item.cx = in.Read<short>();
        item.cy = in.Read<short>();
        item.id = static_cast<int>(in.Read<DWORD>());
        int classOrdinal = -1;
        item.className = in.ReadSzOrOrd(classOrdinal);
        if (classOrdinal == 0x0080) item.className = L"Button";
        if (classOrdinal == 0x0082) item.className = L"Static";
        item.text = in.ReadSzOrOrd(item.imageOrdinal);
        const WORD extra = in.Read<WORD>();
        for (WORD e = 0; e < extra; ++e) (void)in.Read<BYTE>();
        parsed.items.push_back(item);
    }
    return parsed;
}

constexpr wchar_t kButtonClass[] = L"Button";
constexpr wchar_t kStaticClass[] = L"Static";
constexpr wchar_t kSecondLine[] = L"Save your work, then press Start.";

struct ExpectedControl {
    int id;
    std::wstring className;
    DWORD typeBits;       // SS_* or BS_* type of the control
    DWORD requiredStyle;  // further style bits it must have
    DWORD requiredExStyle;
    std::wstring text;
    int imageOrdinal;
    short x, y, cx, cy;
    bool sizedByImage;  // icon and bitmap statics take their image's size
};

std::vector<ExpectedControl> ExpectedControls() {
    std::vector<ExpectedControl> controls = {
        {-1, kStaticClass, SS_LEFT, 0, 0, L"Clearon Version 1.09f", -1, 39, 10, 119, 8, false},
        {-1, kStaticClass, SS_LEFT, 0, 0, kSecondLine, -1, 39, 20, 119, 8, false},
        {IDC_START, kButtonClass, BS_DEFPUSHBUTTON, WS_TABSTOP, 0, L"Start", -1, 222, 135, 55, 14,
         false},
        {IDC_EXIT, kButtonClass, BS_DEFPUSHBUTTON, WS_TABSTOP, 0, L"Exit", -1, 283, 135, 45, 14,
         false},
        {IDC_CLEARON_ICON, kStaticClass, SS_ICON, 0, 0, L"", IDI_CLEARON, 9, 9, 20, 20, true},
        {-1, kStaticClass, SS_LEFT, 0, 0, L"This tool will detect and remove competitive products.",
         -1, 39, 31, 189, 11, false},
        {-1, kButtonClass, BS_GROUPBOX, 0, WS_EX_CLIENTEDGE, L"Clearon Status", -1, 10, 47, 318, 73,
         false},
        {IDC_STATUS, kStaticClass, SS_LEFT, 0, 0, L"", -1, 25, 62, 290, 47, false},
        {IDC_PROGRESS_FRAME, kStaticClass, SS_LEFT, WS_BORDER, WS_EX_CLIENTEDGE, L"", -1, 10, 138,
         196, 11, false},
        {IDC_SQUARE_FIRST, kStaticClass, SS_BITMAP, 0, 0, L"", IDB_SQUARE, 13, 140, 5, 6, true},
    };
    for (int k = 2; k <= kMarqueeSquareCount; ++k) {
        controls.push_back({1021 + k, kStaticClass, SS_BITMAP, 0, 0, L"", IDB_SQUARE,
                            static_cast<short>(21 + 8 * (k - 2)), 140, 5, 6, true});
    }
    return controls;
}

TEST_F(MainDialog, TemplateHoldsTheLayoutControlByControl) {
    const ParsedTemplate parsed = ReadTemplate(IDD_MAIN);
    EXPECT_EQ(parsed.caption, kMainDialogCaption);
    EXPECT_EQ(parsed.cx, 337);
    EXPECT_EQ(parsed.cy, 157);
    EXPECT_EQ(parsed.face, L"Tahoma");
    EXPECT_EQ(parsed.pointSize, 8);
    EXPECT_EQ(parsed.weight, FW_NORMAL);
    const DWORD required = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
    EXPECT_EQ(parsed.style & required, required);
    EXPECT_EQ(parsed.style & WS_SYSMENU, 0u) << "no system menu, so no close box";
    EXPECT_EQ(parsed.style & WS_VISIBLE, 0u) << "the dialog manager shows it";

    const auto expected = ExpectedControls();
    ASSERT_EQ(parsed.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& want = expected[i];
        const auto& have = parsed.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(have.id, want.id);
        EXPECT_EQ(_wcsicmp(have.className.c_str(), want.className.c_str()), 0)
            << Narrow(have.className);
        const DWORD typeMask = want.className == kStaticClass ? SS_TYPEMASK : BS_TYPEMASK;
        EXPECT_EQ(have.style & typeMask, want.typeBits);
        EXPECT_EQ(have.style & want.requiredStyle, want.requiredStyle);
        EXPECT_EQ(have.exStyle & want.requiredExStyle, want.requiredExStyle);
        EXPECT_NE(have.style & WS_VISIBLE, 0u) << "every control is visible in the template";
        EXPECT_EQ(have.text, want.text);
        EXPECT_EQ(have.imageOrdinal, want.imageOrdinal);
        EXPECT_EQ(have.x, want.x);
        EXPECT_EQ(have.y, want.y);
        EXPECT_EQ(have.cx, want.cx);
        EXPECT_EQ(have.cy, want.cy);
    }
}

TEST_F(MainDialog, OpensCentredWithItsControlsWhereTheTemplatePutsThem) {
    DialogSession session;
    const HWND dialog = session.window();
    ASSERT_NE(dialog, nullptr) << "no window captioned Aegira Installation Prep tool";
    EXPECT_EQ(g_runState.mainWindow, dialog);
    EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & WS_SYSMENU, 0);

    // Centred on the screen (within a pixel of rounding).
    RECT window{};
    GetWindowRect(dialog, &window);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR(window.left + window.right, screenWidth, 2);
    EXPECT_NEAR(window.top + window.bottom, screenHeight, 2);

    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    ASSERT_NE(GetObjectW(font, sizeof logFont, &logFont), 0);
    EXPECT_STREQ(logFont.lfFaceName, L"Tahoma");
    EXPECT_EQ(logFont.lfWeight, FW_NORMAL);

    const auto expected = ExpectedControls();
    std::size_t index = 0;
    HDC dc = GetDC(dialog);
    const HGDIOBJ oldFont = SelectObject(dc, font);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ASSERT_LT(index, expected.size());
        const auto& want = expected[index++];
        SCOPED_TRACE("control id " + std::to_string(want.id));
        if (want.id != -1) {
            EXPECT_EQ(GetDlgCtrlID(child), want.id);
        }
        wchar_t className[32] = {};
        GetClassNameW(child, className, 31);
        EXPECT_STREQ(className, want.className.c_str());
        if (want.imageOrdinal == -1) {
            EXPECT_EQ(WindowTextOf(child), want.text);
        }

        // The dialog manager converts the origin and the size each on its
        // own, so they are mapped the same way here.
        RECT expectedRect{want.x, want.y, want.cx, want.cy};
        MapDialogRect(dialog, &expectedRect);
        RECT actual{};
        GetWindowRect(child, &actual);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expectedRect.left);
        EXPECT_EQ(actual.top, expectedRect.top);
        if (!want.sizedByImage) {
            EXPECT_EQ(actual.right - actual.left, expectedRect.right);
            EXPECT_EQ(actual.bottom - actual.top, expectedRect.bottom);
        } else if (want.imageOrdinal == IDB_SQUARE) {
            EXPECT_EQ(actual.right - actual.left, 8);
            EXPECT_EQ(actual.bottom - actual.top, 9);
        }
        // A one-line text must fit its control, or its end is lost.
        if (want.className == kStaticClass && want.cy <= 11 && !want.text.empty()) {
            SIZE extent{};
            GetTextExtentPoint32W(dc, want.text.c_str(), static_cast<int>(want.text.size()),
                                  &extent);
            RECT client{};
            GetClientRect(child, &client);
            EXPECT_LE(extent.cx, client.right) << Narrow(want.text) << " is cut";
            EXPECT_LE(extent.cy, client.bottom) << Narrow(want.text) << " is cut";
        }
    }
    SelectObject(dc, oldFont);
    ReleaseDC(dialog, dc);
    EXPECT_EQ(index, expected.size());

    // Frame and squares are hidden until a run starts.
    ExpectIdle(dialog);
    EXPECT_TRUE(Visible(dialog, IDC_STATUS));
    EXPECT_EQ(ControlText(dialog, IDC_STATUS), L"");
    EXPECT_FALSE(SaveScreenshot(dialog, "dialog-idle").empty());
}

// ---- Ending the dialog with no run in progress -----------------------------

TEST_F(MainDialog, EndsWithoutARunByExitEscapeOrCloseWithTheirIds) {
    struct Case {
        const char* how;
        void (*act)(HWND);
        INT_PTR result;
    };
    const Case cases[] = {
        {"Exit", [](HWND d) { PressButton(d, IDC_EXIT); }, IDC_EXIT},
        {"Escape", PressEscape, IDCANCEL},
        {"close request", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, IDCANCEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        DialogSession session;
        ASSERT_NE(session.window(), nullptr);
        c.act(session.window());
        EXPECT_EQ(session.WaitForEnd(30s), std::optional<INT_PTR>(c.result));
        EXPECT_EQ(g_standIn.starts.load(), 0);
    }
}

// ---- A run -------------------------------------------------------------------

TEST_F(MainDialog, RunShowsStatusAndMarqueeRefusesEndingAndReturnsToIdle) {
    g_standIn.before = {L"Running programs before removal . . .", L"Searching . . .",
                        L"Uninstalling Acme AntiVirus . . ."};
    g_standIn.pause = 250;
    g_standIn.after = {L"Running programs after removal . . .", kFinalWithReboot};
    DialogSession session;
    const HWND dialog = session.window();
    ASSERT_NE(dialog, nullptr);

    PressButton(dialog, IDC_START);
    // Leaving the idle state: both buttons disabled, then the frame shown.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !Enabled(dialog, IDC_START) && !Enabled(dialog, IDC_EXIT) &&
                   SnapshotPicture(dialog).frameVisible;
        },
        60s));
    EXPECT_EQ(g_runState.startResult, 0);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const Seen seen = SeenSoFar();
            return seen.statuses.size() == 3 && seen.ticks.size() >= 5;
        },
        60s));
    EXPECT_FALSE(SaveScreenshot(dialog, "dialog-running").empty());

    // Nothing a person can do ends the dialog or starts a second worker now.
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    PressEscape(dialog);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(dialog, WM_COMMAND, IDC_EXIT, 0);
    PostMessageW(dialog, WM_COMMAND, IDC_START, 0);
    PostMessageW(dialog, kFenceMessage, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return SeenSoFar().fences == 1; }, 60s));
    EXPECT_EQ(session.WaitForEnd(0ms), std::nullopt) << "the dialog ended during a run";
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the dialog was ended during a run";
    EXPECT_EQ(g_standIn.starts.load(), 1);
    EXPECT_FALSE(Enabled(dialog, IDC_START));

    // Long enough for the block to go round and wrap: 26 steps and two more.
    ASSERT_TRUE(WaitUntil([&] { return SeenSoFar().ticks.size() >= 28; }, 120s));
    SetEvent(g_standIn.release.get());
    // Back to the idle state, and the worker's last text shown.
    ASSERT_TRUE(WaitUntil([&] { return SeenSoFar().IdleReturns() == 1; }, 60s));
    ExpectIdle(dialog);
    EXPECT_EQ(ControlText(dialog, IDC_STATUS), kFinalWithReboot);
    EXPECT_EQ(session.WaitForEnd(0ms), std::nullopt)
        << "without the automatic start the dialog stays";
    EXPECT_FALSE(SaveScreenshot(dialog, "dialog-after-run").empty());

    // Every status text, in the order the worker posted it, the last one
    // already on the screen at the tick that ended the run.
    const Seen seen = SeenSoFar();
    EXPECT_EQ(seen.statuses, (std::vector<std::wstring>{
                                 L"Running programs before removal . . .", L"Searching . . .",
                                 L"Uninstalling Acme AntiVirus . . .",
                                 L"Running programs after removal . . .", kFinalWithReboot}));
    ASSERT_FALSE(seen.ticks.empty());
    EXPECT_EQ(seen.ticks.back().status, kFinalWithReboot);

    // The marquee: one step per tick, growing in from the left, wrapping
    // from 26 to 3; the tick that finds the worker ended hides it.
    int previous = 0;
    bool wrapped = false;
    for (std::size_t i = 0; i + 1 < seen.ticks.size(); ++i) {
        SCOPED_TRACE("tick " + std::to_string(i + 1));
        const MarqueePicture& picture = seen.ticks[i].picture;
        EXPECT_FALSE(seen.ticks[i].idle);
        EXPECT_TRUE(picture.frameVisible) << DescribePicture(picture);
        const int position = MarqueePositionOf(picture);
        EXPECT_EQ(position, NextMarqueePosition(previous)) << DescribePicture(picture);
        if (position < previous) wrapped = true;
        previous = position;
    }
    EXPECT_TRUE(wrapped);
    EXPECT_TRUE(seen.ticks.back().idle);
    EXPECT_EQ(seen.ticks.back().picture, MarqueePicture{})
        << DescribePicture(seen.ticks.back().picture);

    // Idle again: a close request is accepted now.
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(session.WaitForEnd(30s), std::optional<INT_PTR>(IDCANCEL));
}

TEST_F(MainDialog, ShortRunIsNoticedAtTheFirstTickAndASecondRunFollows) {
    SetEvent(g_standIn.release.get());
    g_standIn.endsBeforeTheFirstTick = true;
    DialogSession session;
    const HWND dialog = session.window();
    ASSERT_NE(dialog, nullptr);

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::wstring final = run == 1 ? kFinal : kFinalWithReboot;
        g_standIn.after = {L"Searching . . .", final};
        PressButton(dialog, IDC_START);
        // Leaving the idle state, then coming back to it at a tick.
        ASSERT_TRUE(WaitUntil([&] { return g_standIn.starts.load() == run; }, 60s));
        ASSERT_TRUE(WaitUntil([&] { return SeenSoFar().IdleReturns() == run; }, 60s));
        const Seen seen = SeenSoFar();
        // The first tick of each run noticed the end: the marquee never moved.
        ASSERT_EQ(seen.ticks.size(), static_cast<std::size_t>(run));
        EXPECT_EQ(seen.ticks.back().picture, MarqueePicture{})
            << "the marquee moved: " << DescribePicture(seen.ticks.back().picture);
        EXPECT_EQ(seen.ticks.back().status, final);
        EXPECT_EQ(g_runState.startResult, 0);
        ExpectIdle(dialog);
    }
    PressButton(dialog, IDC_EXIT);
    EXPECT_EQ(session.WaitForEnd(30s), std::optional<INT_PTR>(IDC_EXIT));
}

TEST_F(MainDialog, AutomaticStartRunsAsShownAndClosesAtTheTickThatFindsTheWorkerEnded) {
    g_dialogRun.autoRun = true;
    g_standIn.before = {L"Running programs before removal . . ."};
    g_standIn.after = {kFinal};
    DialogSession session;
    const HWND dialog = session.window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return g_standIn.starts.load() == 1; }, 60s))
        << "no start as the dialog was shown";
    EXPECT_FALSE(Enabled(dialog, IDC_START));
    // The run outlasts a tick of the marquee before the worker is let go.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const Seen seen = SeenSoFar();
            return !seen.statuses.empty() && !seen.ticks.empty();
        },
        60s));
    SetEvent(g_standIn.release.get());
    EXPECT_EQ(session.WaitForEnd(60s), std::optional<INT_PTR>(kAutoRunDialogResult));
    const Seen seen = SeenSoFar();
    ASSERT_GE(seen.ticks.size(), 2u);
    for (std::size_t i = 0; i + 1 < seen.ticks.size(); ++i) EXPECT_FALSE(seen.ticks[i].idle);
    EXPECT_TRUE(seen.ticks.back().idle);
    EXPECT_EQ(seen.ticks.back().status, kFinal)
        << "the final text was not on the screen at the close";
    EXPECT_EQ(g_standIn.starts.load(), 1);
    EXPECT_EQ(g_runState.startResult, 0);
    EXPECT_FALSE(g_runState.workerThread);
}

TEST_F(MainDialog, FailedStartStaysIdleAndStoresTheResult) {
    struct Case {
        const char* what;
        StartRunFunction start;
    };
    const Case cases[] = {{"worker not created", FailingStart}, {"no start installed", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_dialogRun.start = c.start;
        g_runState.startResult = 0;
        DialogSession session;
        const HWND dialog = session.window();
        ASSERT_NE(dialog, nullptr);
        PressButton(dialog, IDC_START);
        // The start's result is stored after it returns: a start that had
        // entered the running state would show it by now.
        ASSERT_TRUE(WaitUntil([&] { return g_runState.startResult != 0; }, 60s));
        EXPECT_EQ(g_runState.startResult, kStartNotPossible);
        ExpectIdle(dialog);
        PressButton(dialog, IDC_EXIT);
        EXPECT_EQ(session.WaitForEnd(30s), std::optional<INT_PTR>(IDC_EXIT));
        EXPECT_TRUE(SeenSoFar().ticks.empty()) << "a failed start set the completion timer";
    }
}

// ---- Status texts ------------------------------------------------------------

TEST_F(MainDialog, StatusTextsAreShownWholeUpTo254CharactersAndCutAfter) {
    DialogSession session;
    const HWND dialog = session.window();
    ASSERT_NE(dialog, nullptr);

    std::wstring longText;
    for (int i = 0; longText.size() < 400; ++i)
        longText += L"Uninstalling product " + std::to_wstring(i) + L" ";
    struct Case {
        const char* what;
        std::wstring text;
        bool raw;  // posted as an unterminated buffer past the capacity, not by PostStatus
        std::wstring shown;
    };
    const std::vector<Case> cases = {
        {"plain", L"Searching . . .", false, L"Searching . . ."},
        {"two lines", kFinalWithReboot, false, kFinalWithReboot},
        {"254 characters", longText.substr(0, 254), false, longText.substr(0, 254)},
        {"300 characters", longText.substr(0, 300), false, longText.substr(0, 254)},
        {"400 characters, raw", longText.substr(0, 400), true, longText.substr(0, 254)},
        {"empty", L"", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetDlgItemTextW(dialog, IDC_STATUS, L"(before)");
        if (c.raw) {
            auto* buffer = new wchar_t[c.text.size()];  // no terminator at all
            std::copy(c.text.begin(), c.text.end(), buffer);
            ASSERT_TRUE(PostMessageW(dialog, kStatusMessage, 0, reinterpret_cast<LPARAM>(buffer)));
        } else {
            ASSERT_TRUE(PostStatusTo(dialog, c.text));
        }
        EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_STATUS) == c.shown; }, 30s))
            << "shown: " << Narrow(ControlText(dialog, IDC_STATUS));
    }
}

}  // namespace
}  // namespace clearon::test
