// A bounded soak: grabbers opened and closed again and again, each taking single
// snaps and running continuous acquisition, while the process's resources are
// watched. After a first round has warmed up the allocator, nothing may grow:
// memory, kernel handles, windows, COM objects, threads and file descriptors.
//
// VORK_SOAK_SECONDS sets the length (default 3, as in CI); by hand, for example
//   VORK_SOAK_SECONDS=600 build/default/bin/soak_test
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"

#include "Module.h"
#include "vorksim/com.h"
#include "vorksim/kernel.h"
#include "vorksim/ui.h"

namespace {

using vorktest::BoardTest;

// A sanitizer keeps freed memory in quarantine and counts the heap its own way:
// there the memory figures say nothing, and the leak checker watches instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryFiguresMeanSomething = false;
#else
constexpr bool kMemoryFiguresMeanSomething = true;
#endif
using Clock = std::chrono::steady_clock;

size_t Entries(const char* folder) {
    size_t n = 0;
    if (DIR* d = opendir(folder)) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

struct Resources {
    long residentKb = 0, heapKb = 0, comObjects = 0;  // heap: allocated and not freed, whatever the allocator keeps
    size_t handles = 0, windows = 0, threads = 0, descriptors = 0;

    static Resources Now() {
        Resources r;
        std::ifstream statm("/proc/self/statm");
        long pages = 0, resident = 0;
        statm >> pages >> resident;
        r.residentKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
        r.heapKb = static_cast<long>(mallinfo2().uordblks / 1024);
        r.handles = vorksim::OpenHandleCount();
        r.windows = vorksim::WindowCount();
        r.comObjects = vorksim::LiveObjectCount();
        r.threads = Entries("/proc/self/task");
        r.descriptors = Entries("/proc/self/fd");
        return r;
    }
    void Print(const char* when) const {
        std::printf("%-6s resident %ld KB, heap %ld KB, %zu handles, %zu windows, %ld COM objects, %zu threads, "
                    "%zu descriptors\n",
                    when, residentKb, heapKb, handles, windows, comObjects, threads, descriptors);
    }
};

class SoakTest : public BoardTest {};

TEST_F(SoakTest, OpeningSnappingAcquiringAndClosingLeavesNothingGrowing) {
    const char* v = std::getenv("VORK_SOAK_SECONDS");
    const double seconds = v && *v ? std::atof(v) : 3.0;
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.unthrottled = true;
    vorksim::AddCamera(d);
    // The test's own records of log lines and events are emptied every round:
    // only the program's memory is measured.
    auto round = [this](long& frames) {
        log.Clear();
        events.Clear();
        if (!InitDll(L"Soak", 0)) return false;
        CVORKGrabberContainer* container = GetGrabberContainer();
        auto* g = dynamic_cast<CVORKDirectShowGrabber*>(container->GetGrabber(container->GetGrabberCount() - 1));
        for (int i = 0; i < 5; ++i)
            if (g->SnapToAddBuffer(2000)) ++frames;
        if (g->StartGrabThread()) {
            for (int i = 0; i < 20; ++i)
                if (g->GetLastGrabbedBufferInRingSynced(1000)) ++frames;
            g->StopGrabThread(true);
        }
        vorktest::PumpPending();
        return DeInitDll();
    };
    long frames = 0;
    for (int warmUp = 0; warmUp < 3; ++warmUp) ASSERT_TRUE(round(frames));
    const Resources before = Resources::Now();
    const auto start = Clock::now();
    long rounds = 0;
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        ASSERT_TRUE(round(frames));
        ++rounds;
    }
    vorktest::PumpPending();
    const Resources after = Resources::Now();
    before.Print("before");
    after.Print("after");
    std::printf("%ld rounds, %ld frames in %.0f s\n", rounds, frames, seconds);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.comObjects, before.comObjects);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.descriptors, before.descriptors);
    if (!kMemoryFiguresMeanSomething) return;
    // What the program holds may vary by a few records; a leak of a record a round would not fit.
    EXPECT_LT(after.heapKb - before.heapKb, 64) << rounds << " rounds";
    // The allocator may keep a little more; a leak of one frame a round would not fit.
    EXPECT_LT(after.residentKb - before.residentKb, 8 * 1024) << rounds << " rounds";
}

}  // namespace
