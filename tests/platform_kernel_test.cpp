// The simulated kernel: events, waits, the tick count and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "vorkplatform.h"
#include "vorksim/kernel.h"

namespace {

TEST(Events, AutoResetReleasesOneWaitPerSignalAndManualResetStaysUntilReset) {
    for (BOOL manual : {FALSE, TRUE}) {
        HANDLE e = CreateEventW(nullptr, manual, FALSE, nullptr);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        SetEvent(e);
        SetEvent(e);  // a second signal before a wait is not counted
        EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << manual;
        EXPECT_EQ(WaitForSingleObject(e, 0), manual ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT)) << manual;
        ResetEvent(e);
        EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << manual;
        // A wait wakes when another thread signals.
        std::thread t([e] { SetEvent(e); });
        EXPECT_EQ(WaitForSingleObject(e, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        t.join();
        EXPECT_TRUE(CloseHandle(e));
    }
}

TEST(Events, WaitForMultipleObjectsReturnsTheFirstSignalledIndexAndBadHandlesFail) {
    HANDLE h[3] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr),
                   CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    SetEvent(h[2]);
    SetEvent(h[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), static_cast<DWORD>(WAIT_OBJECT_0 + 1));
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), static_cast<DWORD>(WAIT_OBJECT_0 + 2));
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), static_cast<DWORD>(WAIT_OBJECT_0 + 2));  // manual: stays
    ResetEvent(h[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 5), static_cast<DWORD>(WAIT_TIMEOUT));
    for (HANDLE x : h) EXPECT_TRUE(CloseHandle(x));
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(h[0]));
    EXPECT_FALSE(CloseHandle(h[0]));
    HANDLE none = nullptr;
    EXPECT_EQ(WaitForMultipleObjects(1, &none, FALSE, 0), WAIT_FAILED);
}

TEST(TickCount, WrapsAt32Bits) {
    DWORD now = GetTickCount();
    vorksim::SetTickCountOffset(0xFFFFFFFFu - now - 5);
    DWORD before = GetTickCount();
    Sleep(20);
    DWORD after = GetTickCount();
    vorksim::SetTickCountOffset(0);
    EXPECT_GT(before, 0xFFFFFF00u);
    EXPECT_LT(after, 0x1000u);
    EXPECT_GE(after - before, 20u);  // unsigned difference across the wrap
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::atomic<bool> entered{false};
    HANDLE tried = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread other([&] {
        EXPECT_FALSE(TryEnterCriticalSection(&cs));
        SetEvent(tried);
        EnterCriticalSection(&cs);
        entered = true;
        LeaveCriticalSection(&cs);
    });
    WaitForSingleObject(tried, INFINITE);
    CloseHandle(tried);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&cs);
}

}  // namespace
