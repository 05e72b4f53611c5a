// The simulated window manager: classes, window ownership and message queues.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "vorksim/ui.h"

namespace {

std::atomic<int> g_created{0};
std::atomic<int> g_userMessages{0};
std::atomic<DWORD> g_dispatchThread{0};

LRESULT CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) ++g_created;
    if (message == WM_USER + 1) {
        ++g_userMessages;
        g_dispatchThread = GetCurrentThreadId();
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = TestProc;
        wc.lpszClassName = L"VorkTestClass";
        ASSERT_NE(RegisterClassW(&wc), 0);
        g_created = 0;
        g_userMessages = 0;
    }
    void TearDown() override { EXPECT_TRUE(UnregisterClassW(L"VorkTestClass", nullptr)); }
};

TEST_F(WindowTest, AClassIsRegisteredOnceByAnyCaseAndItsWindowsKeepTheirData) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = TestProc;
    wc.lpszClassName = L"VORKTESTCLASS";
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    int zero = 0;
    HWND hwnd = CreateWindowExW(0, L"VorkTestClass", L"Name", 0, 0, 0, 100, 100, GetDesktopWindow(), nullptr,
                                nullptr, &zero);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(g_created.load(), 1);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0);
    int object = 0;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&object));
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&object));
    wchar_t text[16];
    GetWindowTextW(hwnd, text, 16);
    EXPECT_STREQ(text, L"Name");
    EXPECT_FALSE(UnregisterClassW(L"VorkTestClass", nullptr));  // a window of the class exists
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
}

// A message posted from another thread waits until the window's own thread
// pumps; only that thread destroys the window, and its queued messages go with it.
TEST_F(WindowTest, MessagesAreDispatchedOnTheOwnerThreadAndGoWithTheWindow) {
    HWND hwnd = CreateWindowExW(0, L"VorkTestClass", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    std::thread other([hwnd] {
        EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
        MSG msg;
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // not this thread's message
        EXPECT_FALSE(DestroyWindow(hwnd));
    });
    other.join();
    EXPECT_EQ(g_userMessages.load(), 0);
    EXPECT_EQ(vorksim::QueuedMessageCount(GetCurrentThreadId()), 1u);
    vorktest::PumpPending();
    EXPECT_EQ(g_userMessages.load(), 1);
    EXPECT_EQ(g_dispatchThread.load(), GetCurrentThreadId());
    // GetMessage waits for the next one.
    std::thread poster([hwnd] { PostMessageW(hwnd, WM_USER + 1, 7, 8); });
    MSG msg;
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(msg.lParam, 8);
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
    EXPECT_TRUE(DestroyWindow(hwnd));
    vorktest::PumpPending();
    EXPECT_EQ(g_userMessages.load(), 1);
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
}

}  // namespace
