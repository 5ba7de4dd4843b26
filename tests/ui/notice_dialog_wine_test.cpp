// The removal notice: its template as the resource script builds it, and the
// pause itself (hidden, about five seconds, not ended by its buttons).
#include "ui/notice_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "platform/run_state.h"
#include "support/win/wine_test_support.h"
#include "ui/resource.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

// A reader of DLGTEMPLATEEX resources (the layout windres writes for
// DIALOGEX).
class TemplateReader {
public:
    explicit TemplateReader(const std::uint8_t* data) : at_(data), start_(data) {}
    template <typename T>
    T Read() {
        T value;
        std::memcpy(&value, at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    // A string or an ordinal (0xFFFF followed by the number).
    std::wstring ReadText() {
        std::wstring text;
        if (Peek() == 0xFFFF) {
            Read<std::uint16_t>();
            return L"#" + std::to_wstring(Read<std::uint16_t>());
        }
        while (const std::uint16_t c = Read<std::uint16_t>())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    void AlignToDword() {
        while ((at_ - start_) % 4 != 0) ++at_;
    }
    void Skip(std::size_t bytes) { at_ += bytes; }

private:
    std::uint16_t Peek() const {
        std::uint16_t value;
        std::memcpy(&value, at_, 2);
        return value;
    }
    const std::uint8_t* at_;
    const std::uint8_t* start_;
};

struct Control {
    DWORD style;
    short x, y, cx, cy;
    int id;
    std::wstring windowClass;
    std::wstring text;
};

TEST(NoticeTemplate, MatchesTheNoticeAsDesigned) {
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_NOTICE), RT_DIALOG);
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(data, nullptr);
    TemplateReader reader(data);
    ASSERT_EQ(reader.Read<std::uint16_t>(), 1);       // dlgVer
    ASSERT_EQ(reader.Read<std::uint16_t>(), 0xFFFF);  // DLGTEMPLATEEX
    reader.Read<DWORD>();                             // help id
    reader.Read<DWORD>();                             // extended style
    const DWORD style = reader.Read<DWORD>();
    EXPECT_EQ(style, static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP |
                                        WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(style & WS_VISIBLE, 0u);
    const auto count = reader.Read<std::uint16_t>();
    reader.Read<short>();
    reader.Read<short>();
    EXPECT_EQ(reader.Read<short>(), 429);
    EXPECT_EQ(reader.Read<short>(), 127);
    EXPECT_EQ(reader.ReadText(), L"");  // no menu
    EXPECT_EQ(reader.ReadText(), L"");  // the dialog class
    EXPECT_EQ(reader.ReadText(), L"Information");
    EXPECT_EQ(reader.Read<std::uint16_t>(), 8);  // points
    reader.Skip(4);                              // weight, italic, charset
    EXPECT_EQ(reader.ReadText(), L"MS Shell Dlg");

    std::vector<Control> controls;
    for (int i = 0; i < count; ++i) {
        reader.AlignToDword();
        Control control{};
        reader.Read<DWORD>();  // help id
        reader.Read<DWORD>();  // extended style
        control.style = reader.Read<DWORD>();
        control.x = reader.Read<short>();
        control.y = reader.Read<short>();
        control.cx = reader.Read<short>();
        control.cy = reader.Read<short>();
        control.id = static_cast<int>(reader.Read<DWORD>());
        control.windowClass = reader.ReadText();
        control.text = reader.ReadText();
        reader.Skip(reader.Read<std::uint16_t>());
        controls.push_back(control);
    }
    const std::wstring text =
        L"This product is being removed from your computer to prepare it for installing an updated "
        L"product.  Please wait while this process is performed.  This should be completed within "
        L"a "
        L"few minutes.";
    struct Expected {
        int id;
        std::wstring windowClass;  // #128 button, #130 static
        std::wstring text;
        short x, y, cx, cy;
        DWORD style;
    };
    const Expected expected[] = {
        {IDOK, L"#128", L"OK", 372, 7, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {IDCANCEL, L"#128", L"Cancel", 372, 24, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
        {-1, L"#130", text, 21, 18, 343, 72, SS_LEFT},
    };
    ASSERT_EQ(controls.size(), std::size(expected));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& c = controls[i];
        const auto& e = expected[i];
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.windowClass, e.windowClass);
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ((std::vector<short>{c.x, c.y, c.cx, c.cy}),
                  (std::vector<short>{e.x, e.y, e.cx, e.cy}));
        EXPECT_EQ(c.style & (e.style | 0xF), e.style) << i;
        EXPECT_TRUE(c.style & WS_VISIBLE) << i;
    }
}

// Every time a notice window is shown, however briefly: a poll of
// IsWindowVisible can miss a flash, the show event cannot.
std::atomic<int> g_noticeShows{0};

void CALLBACK CountNoticeShows(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    if (object != OBJID_WINDOW || window == nullptr) return;
    wchar_t className[16] = {};
    wchar_t caption[32] = {};
    GetClassNameW(window, className, 15);
    GetWindowTextW(window, caption, 31);
    if (std::wstring(className) == L"#32770" && std::wstring(caption) == L"Information")
        ++g_noticeShows;
}

TEST(NoticePause, LastsAboutFiveSecondsHiddenAndButtonsDoNotEndIt) {
    g_runState.instanceHandle = GetModuleHandleW(nullptr);
    // Out-of-context events reach this thread through its message queue,
    // which the wait below pumps.
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, CountNoticeShows,
                        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    g_noticeShows = 0;
    const auto start = std::chrono::steady_clock::now();
    auto pause =
        std::async(std::launch::async, [] { return RunNoticePause(g_runState.instanceHandle); });

    // Find the dialog (hidden windows included) and try everything a person
    // could do to end it.
    HWND notice = nullptr;
    while (notice == nullptr && std::chrono::steady_clock::now() - start < 3s) {
        notice = FindWindowExW(nullptr, nullptr, L"#32770", L"Information");
        if (notice == nullptr) Sleep(10);
    }
    ASSERT_NE(notice, nullptr) << "the notice was never created";
    int visibleSeen = 0;
    bool pressed = false;
    while (pause.wait_for(1ms) != std::future_status::ready) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (IsWindow(notice) && IsWindowVisible(notice)) ++visibleSeen;
        if (!pressed && std::chrono::steady_clock::now() - start > 1s) {
            pressed = true;
            PostMessageW(GetDlgItem(notice, IDOK), BM_CLICK, 0, 0);
            PostMessageW(GetDlgItem(notice, IDCANCEL), BM_CLICK, 0, 0);
            PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            PostMessageW(notice, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(notice, WM_CLOSE, 0, 0);
            PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        if (std::chrono::steady_clock::now() - start > 20s) {
            ADD_FAILURE() << "the notice did not end";
            TerminateProcess(GetCurrentProcess(), 99);
        }
    }
    const auto took = std::chrono::steady_clock::now() - start;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    UnhookWinEvent(hook);
    EXPECT_EQ(g_noticeShows.load(), 0) << "the notice was shown";
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(pause.get());
    EXPECT_GE(took, 4900ms);
    EXPECT_EQ(visibleSeen, 0);
    EXPECT_FALSE(IsWindow(notice));
}

TEST(NoticePause, RepeatedCallsEachCreateAFreshDialog) {
    g_runState.instanceHandle = GetModuleHandleW(nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunNoticePause(g_runState.instanceHandle));
    EXPECT_TRUE(RunNoticePause(g_runState.instanceHandle));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 9800ms);
    EXPECT_EQ(FindWindowExW(nullptr, nullptr, L"#32770", L"Information"), nullptr);
}

TEST(NoticePause, FailsWithoutItsTemplate) {
    // A module without dialog 135: the runner then falls back to its short
    // pause instead of spinning.
    g_runState.instanceHandle = GetModuleHandleW(L"kernel32.dll");
    EXPECT_FALSE(RunNoticePause(g_runState.instanceHandle));
    g_runState.instanceHandle = GetModuleHandleW(nullptr);
}

}  // namespace
}  // namespace clearon::test
