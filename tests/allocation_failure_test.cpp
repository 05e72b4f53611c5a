// Allocation failures while a grabber is made: the failure reaches the caller,
// and the half-made grabber is reachable from nowhere. This program replaces the
// array allocation functions, so that it can make one chosen allocation fail.
#include <atomic>
#include <cstdlib>
#include <new>

#include "TestSupport.h"

#include "GrabberList.h"
#include "vorksim/com.h"
#include "vorksim/ui.h"

namespace {

// Fails the n-th (1-based) array allocation of exactly `failSize` bytes.
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

class AllocationFailureTest : public BoardTest {
protected:
    void TearDown() override {
        g_failSize = 0;
        BoardTest::TearDown();
    }
};

TEST_F(AllocationFailureTest, AGrabberWhoseBuffersCannotBeAllocatedLeavesNothingBehind) {
    AddCamera(L"Cam");
    constexpr size_t kFrame = 640 * 480 * 3;
    // The first image buffer is allocated, the second fails: the additional
    // buffer is made first, then the ring's entries.
    for (int failAt : {1, 2, 3}) {
        SCOPED_TRACE(failAt);
        g_seen = 0;
        g_liveOfFailSize = 0;
        g_failAt = failAt;
        g_failSize = kFrame;
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

}  // namespace
