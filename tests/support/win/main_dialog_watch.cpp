#include "support/win/main_dialog_watch.h"

#include <cstdio>
#include <filesystem>

#include "support/win/wine_test_support.h"
#include "ui/marquee.h"
#include "ui/resource.h"

namespace clearon::test {
namespace {

MarqueePicture ReadOnce(HWND dialog) {
    MarqueePicture picture;
    picture.frameVisible = IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS_FRAME)) != FALSE;
    for (int k = 1; k <= kMarqueeSquareCount; ++k) {
        if (IsWindowVisible(GetDlgItem(dialog, SquareControlId(k))))
            picture.litMask |= 1u << (k - 1);
    }
    return picture;
}

std::uint32_t MaskOfPosition(int position) {
    std::uint32_t mask = 0;
    for (int k = 1; k <= kMarqueeSquareCount; ++k) {
        if (IsSquareLit(k, position)) mask |= 1u << (k - 1);
    }
    return mask;
}

}  // namespace

MarqueePicture ReadMarqueePicture(HWND dialog) {
    MarqueePicture last = ReadOnce(dialog);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const MarqueePicture again = ReadOnce(dialog);
        if (again == last) return again;
        last = again;
    }
    return last;
}

int MarqueePositionOf(const MarqueePicture& picture) {
    for (int p = 0; p <= kMarqueeLastPosition; ++p) {
        if (MaskOfPosition(p) == picture.litMask) return p;
    }
    return -1;
}

bool IsMidStep(const MarqueePicture& picture) {
    for (int p = 1; p <= kMarqueeLastPosition; ++p) {
        const std::uint32_t from = MaskOfPosition(p);
        if (!picture.frameVisible) {
            // The reset hides the frame first, then the squares in turn.
            if ((picture.litMask & ~from) == 0) return true;
            continue;
        }
        // A step sets the squares in turn from the old position to the new.
        const std::uint32_t to = MaskOfPosition(NextMarqueePosition(p));
        const bool keepsShared = (picture.litMask & from & to) == (from & to);
        const bool staysWithin = (picture.litMask & ~(from | to)) == 0;
        if (keepsShared && staysWithin) return true;
    }
    return false;
}

std::string DescribePicture(const MarqueePicture& picture) {
    std::string text = picture.frameVisible ? "frame" : "no frame";
    text += ", squares";
    for (int k = 1; k <= kMarqueeSquareCount; ++k) {
        if ((picture.litMask & (1u << (k - 1))) != 0) text += " " + std::to_string(k);
    }
    return text;
}

std::wstring ControlText(HWND dialog, int id) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 1023,
                             reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 2000, &copied)) {
        return {};
    }
    return std::wstring(buffer, copied);
}

DialogRecorder::DialogRecorder(HWND dialog, PictureReader reader)
    : dialog_(dialog),
      reader_(std::move(reader)),
      start_(std::chrono::steady_clock::now()),
      thread_([this] { Run(); }) {}

DialogRecorder::~DialogRecorder() {
    Stop();
}

void DialogRecorder::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();
}

void DialogRecorder::Run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
        }
        if (!IsWindow(dialog_)) return;
        const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start_);
        std::wstring text = ControlText(dialog_, IDC_STATUS);
        const MarqueePicture picture = reader_(dialog_);
        {
            std::lock_guard lock(mutex_);
            if (status_.empty() || status_.back().value != text)
                status_.push_back({at, std::move(text)});
            if (pictures_.empty() || !(pictures_.back().value == picture))
                pictures_.push_back({at, picture});
        }
        Sleep(5);
    }
}

std::vector<DialogRecorder::Change<std::wstring>> DialogRecorder::StatusChanges() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::vector<DialogRecorder::Change<MarqueePicture>> DialogRecorder::PictureChanges() const {
    std::lock_guard lock(mutex_);
    return pictures_;
}

std::vector<std::wstring> DialogRecorder::StatusTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& change : StatusChanges()) {
        if (texts.empty() || texts.back() != change.value) texts.push_back(change.value);
    }
    return texts;
}

ProgramHold::ProgramHold() {
    static int count = 0;
    name_ = L"ClearonTestHold." + std::to_wstring(GetCurrentProcessId()) + L"." +
            std::to_wstring(++count);
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()));
}

void ProgramHold::Release() const {
    SetEvent(event_.get());
}

bool SeenThenReleased(const DialogRecorder& recorder, const std::wstring& text,
                      const ProgramHold& hold, const std::function<bool()>& also) {
    using namespace std::chrono_literals;
    const bool seen = WaitUntil(
        [&] {
            const auto changes = recorder.StatusChanges();
            return !changes.empty() && changes.back().value == text && (!also || also());
        },
        180s);
    hold.Release();
    return seen;
}

std::vector<int> LitPositions(const DialogRecorder& recorder) {
    std::vector<int> positions;
    for (const auto& change : recorder.PictureChanges()) {
        if (change.value.litMask != 0) positions.push_back(MarqueePositionOf(change.value));
    }
    return positions;
}

std::wstring SaveScreenshot(HWND window, const std::string& name) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return {};
    const int margin = 12;
    const int left = rect.left > margin ? rect.left - margin : 0;
    const int top = rect.top > margin ? rect.top - margin : 0;
    const int width = rect.right - rect.left + 2 * margin;
    const int height = rect.bottom - rect.top + 2 * margin;

    const std::string unixDir = std::string(CLEARON_BUILD_DIR) + "/artifacts";
    const std::string unixFinal = unixDir + "/" + name + ".png";
    const std::string unixPartial = unixDir + "/." + name + ".partial.png";
    std::wstring windowsFinal = L"Z:";
    for (char c : unixFinal) windowsFinal.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    std::error_code ignored;
    std::filesystem::remove(windowsFinal, ignored);

    // Wine starts Unix programs from a Windows process but cannot wait for
    // them: the picture is written under another name and renamed when it is
    // complete, and the rename is what we wait for.
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%dx%d+%d+%d", width, height, left, top);
    const std::string script = "mkdir -p '" + unixDir + "' && import -window root -crop " +
                               geometry + " +repage '" + unixPartial + "' && mv '" + unixPartial +
                               "' '" + unixFinal + "'";
    std::wstring command = L"Z:\\bin\\sh -c \"";
    for (char c : script) command.push_back(static_cast<wchar_t>(c));
    command += L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return {};
    }
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    for (int waited = 0; waited < 20000; waited += 50) {
        if (std::filesystem::exists(windowsFinal, ignored)) return windowsFinal;
        Sleep(50);
    }
    return {};
}

}  // namespace clearon::test
