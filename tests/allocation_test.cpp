// The image memory of the grabbers, counted: every buffer is freed when the
// buffers are cleared and when the module lets its grabbers go, and a failed
// allocation while a grabber is made reaches the caller with the half-made
// grabber reachable from nowhere. This program replaces the array allocation
// functions, so that it can count the image buffers and make one of them fail.
#include <atomic>
#include <cstdlib>
#include <new>

#include "TestSupport.h"

#include "GrabberList.h"
#include "Module.h"
#include "vorksim/com.h"
#include "vorksim/ui.h"

namespace {

// Counts the array allocations of exactly `failSize` bytes, and fails the n-th
// (1-based) of them when `failAt` says so.
std::atomic<size_t> g_failSize{0};
std::atomic<int> g_failAt{0};
std::atomic<int> g_seen{0};
std::atomic<long> g_liveOfFailSize{0};

void* Allocate(size_t size) {
    if (size == g_failSize.load() && size != 0) {
        if (++g_seen == g_failAt.load()) throw std::bad_alloc();
        ++g_liveOfFailSize;
    }
    // Room in front for the size, so that the matching release can count it.
    auto* block = static_cast<size_t*>(std::malloc(size + 2 * sizeof(size_t)));
    if (!block) throw std::bad_alloc();
    block[0] = size;
    return block + 2;
}

void Release(void* p) {
    if (!p) return;
    auto* block = static_cast<size_t*>(p) - 2;
    if (block[0] == g_failSize.load() && block[0] != 0) --g_liveOfFailSize;
    std::free(block);
}

}  // namespace

void* operator new[](size_t size) { return Allocate(size); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

using vorktest::BoardTest;

constexpr size_t kFrame = 640 * 480 * 3;

class ImageMemoryTest : public BoardTest {
protected:
    // From now on allocations of one frame are counted, and the n-th fails (0: none).
    static void CountFrames(int failAt = 0) {
        g_seen = 0;
        g_liveOfFailSize = 0;
        g_failAt = failAt;
        g_failSize = kFrame;
    }
    void TearDown() override {
        g_failSize = 0;
        BoardTest::TearDown();
    }
};

TEST_F(ImageMemoryTest, AGrabberWhoseBuffersCannotBeAllocatedLeavesNothingBehind) {
    AddCamera(L"Cam");
    // The first image buffer is allocated, the second fails: the additional
    // buffer is made first, then the ring's entries.
    for (int failAt : {1, 2, 3}) {
        SCOPED_TRACE(failAt);
        CountFrames(failAt);
        EXPECT_THROW(TestGrabber(L"Failing", true), std::bad_alloc);
        g_failSize = 0;
        EXPECT_TRUE(g_Grabbers.empty()) << "the half-made grabber is still listed";
        EXPECT_EQ(g_liveOfFailSize.load(), 0) << "an image buffer was lost";
        EXPECT_EQ(vorksim::WindowCount(), windows) << "its window is left";
        EXPECT_EQ(vorksim::LiveObjectCount(), liveObjects) << "its graph is left";
    }
    // A grabber made afterwards works, and its walks meet nothing destroyed.
    TestGrabber g(L"Working", true);
    EXPECT_TRUE(g.IsInitialized());
    EXPECT_NE(g.SnapToAddBuffer(5000), nullptr);
    g.DeInitGrabber();
}

TEST_F(ImageMemoryTest, ClearingTheBuffersFreesEveryImageBuffer) {
    AddCamera(L"Cam");
    CountFrames();
    TestGrabber g(L"Counted", true, 4);
    EXPECT_EQ(g_liveOfFailSize.load(), 5) << "the additional buffer and four ring entries";
    g.ClearImgBuffers();
    EXPECT_EQ(g_liveOfFailSize.load(), 0);
    g.m_lOldBufSize = -1;
    g.UpdateImgBufferSizes(0);
    EXPECT_EQ(g_liveOfFailSize.load(), 5);
    g.DeInitGrabber();
    EXPECT_EQ(g_liveOfFailSize.load(), 0);
}

TEST_F(ImageMemoryTest, DeInitDllClosesEveryGrabberAndLeavesNothing) {
    AddCamera(L"Cam");
    CountFrames();
    ASSERT_TRUE(InitDll(L"A", 0));
    ASSERT_TRUE(InitDll(L"B", 1));
    EXPECT_EQ(g_Grabbers.size(), 2u);
    EXPECT_EQ(g_liveOfFailSize.load(), 8) << "two grabbers of three ring entries and an additional buffer";
    EXPECT_TRUE(DeInitDll());
    EXPECT_TRUE(DeInitDll());
    EXPECT_EQ(GetGrabberContainer()->GetGrabberCount(), 0);
    EXPECT_EQ(g_liveOfFailSize.load(), 0) << "image buffers left behind";
    // BoardTest's tear-down checks the list, the windows and the COM objects.
}

}  // namespace
