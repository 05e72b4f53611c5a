// Grabbers driven from several threads at once while the host's thread pumps
// messages, changes formats and properties, lists cameras and unplugs and plugs
// cameras. Meant for the thread sanitizer: no data race, no deadlock (a watchdog
// ends a stuck run), no crash, and never more than one running graph.
//
// VORK_STRESS_SECONDS sets each run's length (default 2; longer by hand).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "TestSupport.h"

#include "GrabberList.h"
#include "Module.h"

namespace {

using vorktest::BoardTest;
using Clock = std::chrono::steady_clock;

double Seconds() {
    const char* v = std::getenv("VORK_STRESS_SECONDS");
    return v && *v ? std::atof(v) : 2.0;
}

// Ends the process when a run takes far longer than it should: a deadlock.
class Watchdog {
public:
    explicit Watchdog(double seconds) : thread_([this, seconds] {
        if (ended_.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) {
            std::fprintf(stderr, "watchdog: the run did not end within %.0f s, a deadlock\n", seconds);
            std::abort();
        }
    }) {}
    ~Watchdog() {
        finished_.set_value();
        thread_.join();
    }

private:
    std::promise<void> finished_;
    std::future<void> ended_ = finished_.get_future();
    std::thread thread_;
};

vorksim::CameraDescription SmallCamera(int index) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.friendlyName = L"Stress " + std::to_wstring(index);
    d.devicePath = L"stress-" + std::to_wstring(index);
    d.formats = {{64, 48, MEDIASUBTYPE_RGB24, 30}, {32, 24, MEDIASUBTYPE_RGB24, 30}, {64, 48, MEDIASUBTYPE_RGB32, 30}};
    d.unthrottled = true;
    return d;
}

// A camera for a grabber of the INI file's section, chosen by its name and path.
vorksim::CameraId AddCameraFor(const std::wstring& ini, const wchar_t* section, int index) {
    WritePrivateProfileStringW(section, L"FriendlyNamePart", (L"Stress " + std::to_wstring(index)).c_str(), ini.c_str());
    WritePrivateProfileStringW(section, L"DevicePath", (L"stress-" + std::to_wstring(index)).c_str(), ini.c_str());
    return vorksim::AddCamera(SmallCamera(index));
}

Clock::time_point After(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Snaps that delivered a frame, not attempts: a run whose snaps all fail has none.
using Frames = std::atomic<long>;

// One grabber's thread: single snaps, snaps into the ring, and continuous runs.
void Drive(TestGrabber& g, Clock::time_point end, Frames& frames) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (long i = 0; Clock::now() < end; ++i) {
        switch (i % 3) {
        case 0: if (g.SnapToAddBuffer(300)) ++frames; break;
        case 1: if (g.SnapToRing(300)) ++frames; break;
        default:
            if (g.StartGrabThread()) {
                for (int k = 0; k < 3; ++k)
                    if (g.GetLastGrabbedBufferInRingSynced(100)) ++frames;
                g.StopGrabThread(true);
            }
        }
        (void)g.IsContSnapRunning();
    }
    CoUninitialize();
}

class StressTest : public BoardTest {};

TEST_F(StressTest, GrabbersOnSeveralThreadsWhileTheHostChangesThings) {
    const double seconds = Seconds();
    for (int grabbers : {2, 4}) {
        SCOPED_TRACE(grabbers);
        Watchdog watchdog(seconds + 120);
        std::vector<vorksim::CameraId> cameras;
        std::vector<std::unique_ptr<TestGrabber>> all;
        for (int i = 0; i < grabbers; ++i) {
            const std::wstring name = L"S" + std::to_wstring(i);
            cameras.push_back(AddCameraFor(ini, name.c_str(), i));
            all.push_back(std::make_unique<TestGrabber>(name.c_str(), true));
            ASSERT_TRUE(all.back()->IsInitialized());
        }
        vorksim::ResetMostRunningGraphs();
        const auto end = After(seconds);
        std::vector<Frames> counts(static_cast<size_t>(grabbers));
        std::vector<std::thread> threads;
        for (int i = 0; i < grabbers; ++i)
            threads.emplace_back(Drive, std::ref(*all[static_cast<size_t>(i)]), end, std::ref(counts[static_cast<size_t>(i)]));
        // The host's thread: it owns the windows, so it pumps, and it changes
        // things at a person's pace (every change stops every graph).
        long hostOperations = 0;
        for (long i = 0; Clock::now() < end; ++i, ++hostOperations) {
            vorktest::PumpPending();
            Sleep(20);
            TestGrabber& g = *all[static_cast<size_t>(i) % all.size()];
            switch (i % 6) {
            case 0: g.SetProcAmpParam(VideoProcAmp_Brightness, static_cast<int>(i % 100), VideoProcAmp_Flags_Manual); break;
            case 1: {
                int count = 0;
                delete[] g.GetCamInfos(count);
                break;
            }
            case 2: g.SetColorMode(i % 12 == 2 ? VORKColorModeRGB32 : VORKColorModeRGB24); break;
            case 3: g.SetGrabRect(i % 12 == 3 ? 32 : 64, i % 12 == 3 ? 24 : 48); break;
            case 4: g.WriteFramerate(i % 2 ? 15.0 : 30.0); break;
            default:
                // The last camera is unplugged and plugged back in.
                vorksim::RemoveCamera(cameras.back());
                vorktest::PumpPending();
                cameras.back() = vorksim::AddCamera(SmallCamera(grabbers - 1));
            }
        }
        for (auto& t : threads) t.join();
        vorktest::PumpPending();
        EXPECT_LE(vorksim::MostRunningGraphs(), 1) << "two graphs ran at once";
        // One graph runs at a time and the host stops them all at every change,
        // so a grabber may wait its whole turn; together they deliver.
        long frames = 0;
        for (const Frames& delivered : counts) frames += delivered;
        EXPECT_GT(frames, 0) << "no grabber delivered a frame";
        std::printf("%d grabbers: %ld frames in %.1f s; host thread: %ld operations\n", grabbers, frames, seconds, hostOperations);
        for (auto& g : all) g->DeInitGrabber();
        all.clear();
        vorksim::RemoveAllCameras();
        vorktest::PumpPending();
    }
}

TEST_F(StressTest, InitDllAndDeInitDllCyclesWhileAnotherGrabberAcquires) {
    const double seconds = Seconds();
    Watchdog watchdog(seconds + 120);
    AddCameraFor(ini, L"Acquiring", 0);
    AddCameraFor(ini, L"Cycled", 1);
    TestGrabber acquiring(L"Acquiring", true);
    ASSERT_TRUE(acquiring.IsInitialized());
    Frames frames{0};
    const HANDLE frameCame = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (!done) {
            if (acquiring.StartGrabThread()) {
                while (!done && acquiring.IsGrabThreadRunning())
                    if (acquiring.GetLastGrabbedBufferInRingSynced(100)) {
                        ++frames;
                        SetEvent(frameCame);
                    }
                acquiring.StopGrabThread(true);
            }
        }
        CoUninitialize();
    });
    // Each opening stops the other grabber's graph: before the next one, the
    // other grabber must have got going again and delivered a frame.
    long cycles = 0;
    for (const auto end = After(seconds); Clock::now() < end; ++cycles) {
        if (WaitForSingleObject(frameCame, 10000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "no frame after cycle " << cycles;
            break;
        }
        const bool opened = InitDll(L"Cycled", 0);
        vorktest::PumpPending();
        if (!opened || !DeInitDll()) {
            ADD_FAILURE() << "cycle " << cycles << " failed";
            break;
        }
    }
    done = true;
    worker.join();
    CloseHandle(frameCame);
    std::printf("%ld InitDll/DeInitDll cycles, %ld frames acquired meanwhile\n", cycles, frames.load());
    EXPECT_GT(cycles, 0);
    acquiring.DeInitGrabber();
    vorktest::PumpPending();
}

// A format change stops every graph of the process; the walk must not reach a
// grabber that DeInitDll on another thread destroys meanwhile. The hook holds the
// walk at its first grabber while the host's thread closes the other: DeInitDll
// must wait for the walk (the wait for it ends after a bound, since it cannot
// finish while the walk holds the camera lock).
TEST_F(StressTest, AFormatChangeNeverStopsAGrabberThatDeInitDllDestroys) {
    Watchdog watchdog(120);
    AddCameraFor(ini, L"Changing", 0);
    AddCameraFor(ini, L"Cycled", 1);
    TestGrabber changing(L"Changing", true);
    ASSERT_TRUE(changing.IsInitialized());
    const HANDLE walking = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < 3; ++i) {
        ResetEvent(walking);
        ResetEvent(closed);
        ASSERT_TRUE(InitDll(L"Cycled", 0));
        std::thread writer([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            changing.SnapAsyncToRing();
            auto once = std::make_shared<std::atomic<bool>>(false);
            vorksim::SetCallHook("IMediaControl::GetState", [&, once] {
                if (once->exchange(true)) return;
                SetEvent(walking);
                WaitForSingleObject(closed, 200);
            });
            changing.WriteColorMode(i % 2 ? VORKColorModeRGB24 : VORKColorModeRGB32);
            vorksim::SetCallHook("IMediaControl::GetState", nullptr);
            changing.StopSnap();
            CoUninitialize();
        });
        EXPECT_EQ(WaitForSingleObject(walking, 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(DeInitDll());
        SetEvent(closed);
        writer.join();
        vorktest::PumpPending();
    }
    CloseHandle(walking);
    CloseHandle(closed);
    changing.DeInitGrabber();
}

}  // namespace
