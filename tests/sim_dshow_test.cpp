// The simulated DirectShow on its own: graphs built directly on it, with no
// plug-in code, behave as the plug-in expects of DirectShow.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "vorksim/cameras.h"
#include "vorksim/com.h"
#include "vorksim/ui.h"

namespace {

using namespace vorksim;

CComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    CComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        CComPtr<IPin> held;
        held.Attach(pin);
        if (d == wanted) return held;
    }
    return nullptr;
}

struct Graph {
    CComPtr<IGraphBuilder> graph;
    CComPtr<IBaseFilter> source;
    CComPtr<IBaseFilter> grabberFilter;
    CComPtr<ISampleGrabber> grabber;
    CComPtr<IBaseFilter> renderer;
    CComPtr<IMediaControl> control;
    CComPtr<IMediaEventEx> events;

    HRESULT Build(int cameraIndex = 0, const GUID* subtype = nullptr) {
        CComPtr<ICreateDevEnum> devEnum;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   reinterpret_cast<void**>(&devEnum)), S_OK);
        CComPtr<IEnumMoniker> monikers;
        devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
        if (!monikers) return E_FAIL;
        CComPtr<IMoniker> moniker;
        for (int i = 0; i <= cameraIndex; ++i)
            if (monikers->Next(1, &moniker, nullptr) != S_OK) return E_FAIL;
        HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&source));
        if (FAILED(hr)) return hr;
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(&graph));
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                         reinterpret_cast<void**>(&grabber));
        grabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&grabberFilter));
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&renderer));
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
        graph->AddFilter(source, L"Source");
        graph->AddFilter(grabberFilter, L"Grabber");
        graph->AddFilter(renderer, L"NullRender");
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Video;
        if (subtype) mt.subtype = *subtype;
        grabber->SetMediaType(&mt);
        grabber->SetBufferSamples(TRUE);
        hr = graph->Connect(FirstPin(source, PINDIR_OUTPUT), FirstPin(grabberFilter, PINDIR_INPUT));
        if (FAILED(hr)) return hr;
        return graph->Connect(FirstPin(grabberFilter, PINDIR_OUTPUT), FirstPin(renderer, PINDIR_INPUT));
    }

    CComPtr<IAMStreamConfig> Config() {
        CComPtr<IAMStreamConfig> config;
        FirstPin(source, PINDIR_OUTPUT)->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
        return config;
    }

    // Waits for the next event with this code, within a deadline.
    bool WaitEvent(LONG wanted, LONG_PTR* p1 = nullptr, LONG_PTR* p2 = nullptr, LONG timeoutMs = 5000) {
        DWORD start = GetTickCount();
        LONG code;
        LONG_PTR a, b;
        while (GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
            if (events->GetEvent(&code, &a, &b, 100) != S_OK) continue;
            bool match = code == wanted;
            if (match && p1) *p1 = a;
            if (match && p2) *p2 = b;
            events->FreeEventParams(code, a, b);
            if (match) return true;
        }
        return false;
    }
};

// The host's set-up, for its checks that nothing is left behind; the graphs are
// built here, not by the plug-in.
class SimDShowTest : public vorktest::BoardTest {};

// Objects are made only on a thread that initialised COM.
TEST_F(SimDShowTest, EnumeratesCamerasInOrderAndNoneWhenEmpty) {
    std::thread other([] {
        IUnknown* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)), CO_E_NOTINITIALIZED);
    });
    other.join();
    CComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               reinterpret_cast<void**>(&devEnum)), S_OK);
    CComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers.p, nullptr);

    AddCamera(L"First");
    AddCamera(nullptr);
    AddCamera(L"Third");
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    std::vector<std::wstring> names;
    IMoniker* m = nullptr;
    while (monikers->Next(1, &m, nullptr) == S_OK) {
        CComPtr<IMoniker> moniker;
        moniker.Attach(m);
        CComPtr<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)), S_OK);
        VARIANT v;
        VariantInit(&v);
        names.push_back(SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) ? v.bstrVal : L"<none>");
        VariantClear(&v);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"First", L"<none>", L"Third"}));
}

// One frame and EC_COMPLETE, and GetCurrentBuffer's four outcomes around it.
TEST_F(SimDShowTest, OneShotRunDeliversExactlyOneFrameAndComplete) {
    CameraId cam = AddCamera(L"Cam");
    Graph g;
    ASSERT_EQ(g.Build(), S_OK);
    LONG size = 0;
    EXPECT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);  // nothing buffered yet
    g.grabber->SetOneShot(TRUE);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    g.control->Stop();
    ASSERT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 640 * 480 * 3);
    std::vector<BYTE> frame(static_cast<size_t>(size));
    size = 100;
    EXPECT_EQ(g.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(frame.data())), E_OUTOFMEMORY);
    EXPECT_EQ(size, 640 * 480 * 3);
    ASSERT_EQ(g.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(frame.data())), S_OK);
    EXPECT_EQ(DecodeFrameCounter(frame.data(), {640, 480, MEDIASUBTYPE_RGB24, 30}), 0);
    EXPECT_EQ(GetCameraState(cam).framesDelivered, 1);
    // Bottom-up rows: the white marker of the top-left corner is in the last row.
    const BYTE* topLeft = frame.data() + static_cast<size_t>(479) * 640 * 3;
    EXPECT_EQ(topLeft[0], 255);
    EXPECT_LT(frame[1], 240) << "the first row in memory is the picture's bottom, without the marker";
    g.grabber->SetBufferSamples(FALSE);
    EXPECT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
}

class CountingCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG length) override {
        lastLength = length;
        thread = GetCurrentThreadId();
        if (++frames == 5) SetEvent(done);
        return S_OK;
    }
    std::atomic<int> frames{0};
    std::atomic<LONG> lastLength{0};
    std::atomic<DWORD> thread{0};
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~CountingCallback() { CloseHandle(done); }
};

TEST_F(SimDShowTest, CallbackRunDeliversFramesOnTheStreamingThread) {
    AddCamera(L"Cam");
    Graph g;
    ASSERT_EQ(g.Build(), S_OK);
    CountingCallback cb;
    g.grabber->SetOneShot(FALSE);
    g.grabber->SetCallback(&cb, 1);
    g.control->Run();
    ASSERT_EQ(WaitForSingleObject(cb.done, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    g.control->Stop();
    EXPECT_EQ(cb.lastLength.load(), 921600);
    EXPECT_NE(cb.thread.load(), GetCurrentThreadId());
    g.grabber->SetCallback(nullptr, 1);
}

TEST_F(SimDShowTest, NegotiatesWithAndWithoutASubtype) {
    AddCamera(L"Cam");
    // No subtype asked: the camera's first format.
    for (const GUID* subtype : {static_cast<const GUID*>(nullptr), &MEDIASUBTYPE_RGB32}) {
        Graph g;
        ASSERT_EQ(g.Build(0, subtype), S_OK);
        AM_MEDIA_TYPE mt{};
        ASSERT_EQ(g.grabber->GetConnectedMediaType(&mt), S_OK);
        EXPECT_TRUE(IsEqualGUID(mt.subtype, subtype ? *subtype : MEDIASUBTYPE_RGB24));
        CoTaskMemFree(mt.pbFormat);
    }
    // No filter makes 8-bit frames: the graph gives up and takes out what it tried.
    Graph none;
    EXPECT_EQ(none.Build(0, &MEDIASUBTYPE_RGB8), VFW_E_CANNOT_CONNECT);
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(none.grabber->GetConnectedMediaType(&mt), VFW_E_NOT_CONNECTED);
}

TEST_F(SimDShowTest, SetFormatAcceptsOnlyWhatTheCameraDelivers) {
    CameraId cam = AddCamera(L"Cam");
    Graph g;
    ASSERT_EQ(g.Build(), S_OK);
    CComPtr<IAMStreamConfig> config = g.Config();
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    vih->bmiHeader.biWidth = 320;
    vih->bmiHeader.biHeight = 240;
    EXPECT_EQ(config->SetFormat(mt), S_OK);
    EXPECT_EQ(GetCameraState(cam).videoInfo.bmiHeader.biWidth, 320);
    vih->bmiHeader.biWidth = 642;
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    vih->bmiHeader.biWidth = 320;
    vih->AvgTimePerFrame = 100000;  // 100 fps: faster than the camera
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    AM_MEDIA_TYPE connected{};
    g.grabber->GetConnectedMediaType(&connected);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biWidth, 320);
    CoTaskMemFree(connected.pbFormat);
}

TEST_F(SimDShowTest, Rgb565ComesAsBitFieldsWithItsMasks) {
    CameraDescription d = DefaultCameraDescription();
    d.formats = {{320, 240, MEDIASUBTYPE_RGB565, 30.0}};
    vorksim::AddCamera(d);
    Graph g;
    ASSERT_EQ(g.Build(0, &MEDIASUBTYPE_RGB565), S_OK);
    CComPtr<IAMStreamConfig> config = g.Config();
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(config->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    ASSERT_GE(mt->cbFormat, sizeof(VIDEOINFOHEADER) + 3 * sizeof(DWORD));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    EXPECT_EQ(vih->bmiHeader.biCompression, static_cast<DWORD>(BI_BITFIELDS));
    const auto* masks = reinterpret_cast<const DWORD*>(mt->pbFormat + sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(std::vector<DWORD>(masks, masks + 3), (std::vector<DWORD>{0xF800u, 0x07E0u, 0x001Fu}));
    EXPECT_EQ(config->SetFormat(mt), S_OK);
    // A grabber that writes the size back clears the compression to plain RGB.
    vih->bmiHeader.biCompression = BI_RGB;
    EXPECT_EQ(config->SetFormat(mt), S_OK);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
}

// A paused capture graph says it cannot cue; a start or stop the camera does not
// complete shows through GetState as a transition, from the state it left.
TEST_F(SimDShowTest, GetStateTellsAPausedCaptureAndStuckTransitions) {
    CameraId cam = AddCamera(L"Cam");
    Graph g;
    ASSERT_EQ(g.Build(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    OAFilterState state = -1;
    EXPECT_EQ(g.control->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_EQ(g.control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    g.control->Stop();
    CameraFaults faults;
    faults.startStuck = true;
    SetFaults(cam, faults);
    EXPECT_EQ(g.control->Run(), S_FALSE);
    EXPECT_EQ(g.control->GetState(10, &state), VFW_S_STATE_INTERMEDIATE);
    faults.startStuck = false;
    faults.stopStuck = true;
    SetFaults(cam, faults);
    g.control->Stop();
    EXPECT_EQ(g.control->GetState(10, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Running);
    SetFaults(cam, CameraFaults{});
    g.control->Run();
    EXPECT_EQ(g.control->GetState(10, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    g.control->Stop();
    EXPECT_EQ(g.control->GetState(10, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

LRESULT CALLBACK NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 42) ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(SimDShowTest, EventsReachTheHandleAndTheNotifyWindowsOwnerThread) {
    CameraId cam = AddCamera(L"Cam");
    WNDCLASSW wc{};
    wc.lpfnWndProc = NotifyProc;
    wc.lpszClassName = L"NotifyTest";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, L"NotifyTest", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    int notified = 0;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&notified));
    {
        Graph g;
        ASSERT_EQ(g.Build(), S_OK);
        g.events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_USER + 42, 0);
        g.control->Run();
        AbortStream(cam, E_FAIL);
        OAEVENT handle = 0;
        g.events->GetEventHandle(&handle);
        EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(notified, 0);  // not before this thread pumps
        vorktest::PumpPending();
        EXPECT_EQ(notified, 1);
        LONG_PTR p1 = 0;
        EXPECT_TRUE(g.WaitEvent(EC_ERRORABORT, &p1));
        EXPECT_EQ(p1, E_FAIL);
        LONG code;
        LONG_PTR a, b;
        EXPECT_EQ(g.events->GetEvent(&code, &a, &b, 0), E_ABORT);
        EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        RemoveCamera(cam);
        LONG_PTR lost = 0, arrived = 1;
        ASSERT_TRUE(g.WaitEvent(EC_DEVICE_LOST, &lost, &arrived));
        EXPECT_EQ(arrived, 0);
        g.control->Stop();
    }
    DestroyWindow(hwnd);
    UnregisterClassW(L"NotifyTest", nullptr);
}

TEST_F(SimDShowTest, PropertiesHaveRangesAndRejectUnsupportedOnes) {
    CameraDescription d = DefaultCameraDescription();
    d.hasCameraControl = false;
    CameraId cam = vorksim::AddCamera(d);
    Graph g;
    ASSERT_EQ(g.Build(), S_OK);
    CComPtr<IAMVideoProcAmp> procAmp;
    ASSERT_EQ(g.source->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&procAmp)), S_OK);
    CComPtr<IAMCameraControl> camCtrl;
    EXPECT_EQ(g.source->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(&camCtrl)), E_NOINTERFACE);
    LONG min, max, step, def, caps;
    ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Gain, &min, &max, &step, &def, &caps), S_OK);
    EXPECT_EQ(max, 255);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Gain, 128, 2), S_OK);
    EXPECT_EQ(GetCameraState(cam).procAmp[VideoProcAmp_Gain].value, 128);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Gain, 300, 2), E_INVALIDARG);
    EXPECT_EQ(procAmp->GetRange(42, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);
}

}  // namespace
