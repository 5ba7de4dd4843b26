// Status texts cross from the worker to the dialog as heap copies: every
// copy must end up freed, by the dialog when the post went through, by the
// poster when it did not.
#include "ui/status_message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/run_state.h"

namespace {
std::atomic<long> g_liveArrays{0};
}  // namespace

// Counts the array allocations of this test program: the status copies are
// the only ones made between the measurements below.
void* operator new[](std::size_t size) {
    ++g_liveArrays;
    if (void* p = std::malloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++g_liveArrays;
    return std::malloc(size);
}
void operator delete[](void* p) noexcept {
    if (p != nullptr) --g_liveArrays;
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete[](p);
}

namespace clearon {
namespace {

TEST(PostStatus, ACopyThatCannotBePostedIsFreedAtOnce) {
    // A window that does not exist: PostMessageW fails.
    const HWND gone = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFFFFF0));
    ASSERT_FALSE(IsWindow(gone));
    const long before = g_liveArrays;
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(PostStatusTo(gone, L"Searching . . ."));
    EXPECT_EQ(g_liveArrays, before);
}

TEST(PostStatus, NothingIsAllocatedInASilentRun) {
    g_runState.mainWindow = nullptr;
    const long before = g_liveArrays;
    PostStatus(L"Searching . . .");
    EXPECT_EQ(g_liveArrays, before);
}

TEST(PostStatus, APostedCopyBelongsToTheReceiverWhichFreesIt) {
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const long before = g_liveArrays;
    const std::wstring longText(300, L'x');
    ASSERT_TRUE(PostStatusTo(window, longText));
    EXPECT_EQ(g_liveArrays, before + 1);

    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, kStatusMessage, kStatusMessage, PM_REMOVE));
    {
        const auto text = TakeStatusText(message.lParam);
        // The copy holds at most 254 characters and its terminator.
        EXPECT_EQ(std::wstring(text.get()), std::wstring(254, L'x'));
    }
    EXPECT_EQ(g_liveArrays, before);
    DestroyWindow(window);
}

}  // namespace
}  // namespace clearon
