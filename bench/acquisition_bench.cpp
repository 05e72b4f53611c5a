// Frame rates and latencies of the simulated camera and of the plug-in's snaps.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "vorksim/cameras.h"

namespace {

vorksim::CameraDescription Camera(LONG width, LONG height, bool unthrottled, GUID subtype = MEDIASUBTYPE_RGB24) {
    vorksim::CameraDescription d = vorksim::DefaultCameraDescription();
    d.friendlyName = L"Bench camera";
    d.formats = {{width, height, subtype, 30.0}};
    d.unthrottled = unthrottled;
    return d;
}

// A host's set-up: COM, the plug-in loaded, an INI file, one camera.
struct Host {
    vorktest::ComScope com;
    vorktest::TempDir dir;
    vorktest::PluginModule module;
    explicit Host(const vorksim::CameraDescription& camera) {
        vorksim::RemoveAllCameras();
        vorksim::AddCamera(camera);
        VORKSetIniFileName(dir.File("bench.ini").c_str());
        VORKSetErrorLogFile(dir.File("bench.log").c_str());
    }
    ~Host() { vorksim::RemoveAllCameras(); }
};

// Counts frames on the streaming thread.
class FrameSignal : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override {
        SetEvent(frame);
        return S_OK;
    }
    HANDLE frame = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~FrameSignal() { CloseHandle(frame); }
};

// The simulated camera alone, unthrottled: frames per second it produces.
void SimulatedCameraRate(benchmark::State& state) {
    Host host(Camera(static_cast<LONG>(state.range(0)), static_cast<LONG>(state.range(1)), true));
    TestGrabber g(L"Bench");
    g.InitBoard();
    g.ConnectGraph();
    FrameSignal signal;
    g.m_pSampleGrabber->SetOneShot(FALSE);
    g.m_pSampleGrabber->SetCallback(&signal, 1);
    g.m_pMediaControl->Run();
    for (auto _ : state)
        if (WaitForSingleObject(signal.frame, 5000) != WAIT_OBJECT_0) {
            state.SkipWithError("no frame came within 5 s");
            break;
        }
    g.m_pMediaControl->Stop();
    g.m_pSampleGrabber->SetCallback(nullptr, 1);
    g.CloseBoard();
    state.SetItemsProcessed(state.iterations());
}

// Continuous acquisition through the plug-in into the ring, unthrottled camera;
// from an MJPG camera each frame is compressed by the camera and decompressed in
// the graph. Every iteration is a frame delivered: a failed wait ends the run.
void Delivery(benchmark::State& state, GUID subtype) {
    Host host(Camera(static_cast<LONG>(state.range(0)), static_cast<LONG>(state.range(1)), true, subtype));
    TestGrabber g(L"Bench", true);
    if (!g.IsInitialized() || g.SnapAsyncToRing() != 0) state.SkipWithError("the continuous snap did not start");
    for (auto _ : state)
        if (!g.WaitForSnap(true, 5000)) {
            state.SkipWithError("a wait for a frame failed");
            break;
        }
    g.StopSnap();
    g.DeInitGrabber();
    state.SetItemsProcessed(state.iterations());
}
void ContinuousDelivery(benchmark::State& state) { Delivery(state, MEDIASUBTYPE_RGB24); }
void ContinuousDeliveryMjpg(benchmark::State& state) { Delivery(state, MEDIASUBTYPE_MJPG); }

// One frame converted as the graph's filters convert it: YUY2 or MJPG to RGB24.
void Conversion(benchmark::State& state, GUID from) {
    const vorksim::VideoFormat format{static_cast<LONG>(state.range(0)), static_cast<LONG>(state.range(1)), from, 30};
    std::vector<BYTE> frame, out;
    if (!vorksim::MakePatternFrame(format, frame)) state.SkipWithError("no frame of the format");
    for (auto _ : state) {
        if (!vorksim::ConvertFrame(frame.data(), frame.size(), format, MEDIASUBTYPE_RGB24, out)) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["in_bytes"] = static_cast<double>(frame.size());
}
void Yuy2ToRgb24(benchmark::State& state) { Conversion(state, MEDIASUBTYPE_YUY2); }
void MjpgToRgb24(benchmark::State& state) { Conversion(state, MEDIASUBTYPE_MJPG); }

// A single snap into the additional buffer from a 30 fps camera.
void SingleSnapLatency(benchmark::State& state) {
    Host host(Camera(640, 480, false));
    TestGrabber g(L"Bench", true);
    for (auto _ : state)
        if (!g.SnapToAddBuffer(5000)) {
            state.SkipWithError("a snap failed");
            break;
        }
    g.DeInitGrabber();
}

// Opening the board (InitGrabber: InitBoard to buffers sized) of a camera whose
// first frame comes range(0) ms after its start. Once the test frame has begun,
// another thread lists the cameras, reads a property and reads the active
// camera: the *_ms counters are how long each call took while the test frame
// held the camera lock (only the last takes that lock).
void OpenWithStartDelay(benchmark::State& state) {
    vorksim::CameraDescription camera = Camera(640, 480, false);
    camera.startDelayMs = static_cast<DWORD>(state.range(0));
    Host host(camera);
    using Ms = std::chrono::duration<double, std::milli>;
    double listMs = 0, propertyMs = 0, activeMs = 0;
    for (auto _ : state) {
        TestGrabber g(L"Bench");
        std::thread reader;
        vorksim::SetCallHook("IMediaEventEx::GetEventHandle", [&] {
            if (reader.joinable()) return;
            reader = std::thread([&] {
                vorktest::ComScope com;
                auto start = std::chrono::steady_clock::now();
                int count = 0;
                delete[] g.GetCamInfos(count);
                listMs = Ms(std::chrono::steady_clock::now() - start).count();
                start = std::chrono::steady_clock::now();
                int percent = 0;
                g.GetProcAmpParam(VideoProcAmp_Brightness, percent, nullptr);
                propertyMs = Ms(std::chrono::steady_clock::now() - start).count();
                start = std::chrono::steady_clock::now();
                VORKCamInfo active{};
                g.GetActCamInfo(active);
                activeMs = Ms(std::chrono::steady_clock::now() - start).count();
            });
        });
        const bool opened = g.InitGrabber(true) && g.GetOldBufSize() > 0;
        vorksim::SetCallHook("IMediaEventEx::GetEventHandle", nullptr);
        if (reader.joinable()) reader.join();
        state.PauseTiming();
        g.DeInitGrabber();
        state.ResumeTiming();
        if (!opened) {
            state.SkipWithError("the board did not open with sized buffers");
            break;
        }
    }
    state.counters["list_ms"] = listMs;
    state.counters["property_ms"] = propertyMs;
    state.counters["active_camera_ms"] = activeMs;
}

}  // namespace

BENCHMARK(OpenWithStartDelay)->Arg(0)->Arg(1000)->Arg(3000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SimulatedCameraRate)->Args({640, 480})->Args({1920, 1080})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ContinuousDelivery)->Args({640, 480})->Args({1920, 1080})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ContinuousDeliveryMjpg)->Args({1280, 720})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Yuy2ToRgb24)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(MjpgToRgb24)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(SingleSnapLatency)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
