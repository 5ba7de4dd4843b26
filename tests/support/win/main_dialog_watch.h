// Watching Clearon's main dialog from outside, as a person at the screen
// would: its status line, which marquee squares are showing, screenshots.
// Works from another thread of the same process and from another process.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"

namespace clearon::test {

inline constexpr wchar_t kMainDialogCaption[] = L"Aegira Installation Prep tool";

// Which of the marquee's parts are showing.
struct MarqueePicture {
    bool frameVisible = false;
    std::uint32_t litMask = 0;  // bit k-1 set when square k is showing
    bool operator==(const MarqueePicture&) const = default;
};

// Reads the picture; retries until two reads agree, so a picture caught in
// the middle of a step is not reported.
MarqueePicture ReadMarqueePicture(HWND dialog);

// The marquee position whose picture this is (0 to 26), or -1 when no
// position shows these squares.
int MarqueePositionOf(const MarqueePicture& picture);
// True when the picture shows a step or the reset half done: in a step every
// square a position and its successor share is lit and nothing outside the
// two; in the reset the frame is gone and what is lit lies within a position.
bool IsMidStep(const MarqueePicture& picture);
std::string DescribePicture(const MarqueePicture& picture);  // for messages

// A control's text, read with a bounded WM_GETTEXT (empty when it fails).
std::wstring ControlText(HWND dialog, int id);

// Records, on a thread of its own, every change of the status line and of
// the marquee picture, with the time since the recorder started.
class DialogRecorder {
public:
    using PictureReader = std::function<MarqueePicture(HWND)>;
    explicit DialogRecorder(HWND dialog, PictureReader reader = ReadMarqueePicture);
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    template <typename T>
    struct Change {
        std::chrono::milliseconds at;
        T value;
    };
    void Stop();
    [[nodiscard]] std::vector<Change<std::wstring>> StatusChanges() const;
    [[nodiscard]] std::vector<Change<MarqueePicture>> PictureChanges() const;
    [[nodiscard]] std::vector<std::wstring> StatusTexts() const;  // distinct, in order

private:
    void Run();
    HWND dialog_;
    PictureReader reader_;
    std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::vector<Change<std::wstring>> status_;
    std::vector<Change<MarqueePicture>> pictures_;
    bool stop_ = false;
    std::thread thread_;
};

// Holds a text on the screen until the test has seen it: a test program
// started with Action() (test_uninstaller's /wait=NAME) lingers until
// Release(); a hold that goes out of scope releases, so a test that failed
// early leaves no program waiting. The name is unique within this process.
class ProgramHold {
public:
    ProgramHold();
    ~ProgramHold() { Release(); }
    ProgramHold(const ProgramHold&) = delete;
    ProgramHold& operator=(const ProgramHold&) = delete;
    [[nodiscard]] std::wstring Action() const { return L"/wait=" + name_; }
    void Release() const;

private:
    std::wstring name_;
    UniqueKernelHandle event_;
};

// True once the recorder's latest reading of the status line is `text` and
// `also` holds; then (seen or not, so that the run goes on) releases `hold`.
bool SeenThenReleased(const DialogRecorder& recorder, const std::wstring& text,
                      const ProgramHold& hold, const std::function<bool()>& also = {});

// The marquee positions the recorder has seen lit, in their order.
std::vector<int> LitPositions(const DialogRecorder& recorder);

// Saves a picture of `window` (whole screen cut to the window and a margin)
// as <build>/artifacts/<name>.png with ImageMagick's import on the test
// display; returns the file's Windows path, or empty when it did not appear
// within 20 seconds.
std::wstring SaveScreenshot(HWND window, const std::string& name);

}  // namespace clearon::test
