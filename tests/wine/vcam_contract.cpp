// What vorkvcam owes a filter graph, checked through the platform's own
// DirectShow (Wine's in CI), below what vorkgrab shows: its pin and category,
// stream configuration and rate lists, controls, the camera a moniker gives it,
// a stop while the downstream filter holds every sample, a busy camera, an
// unplugged one and its return, and unloading afterwards.
//
// Run after registering the cameras of tests/wine/contract.ini
// (`regsvr32 /n /i:contract.ini vorkvcam.dll`), with the DLL's path:
//   vcam_contract.exe Z:\path\to\vorkvcam.dll
#include <dshow.h>
#include <dvdmedia.h>
#include <qedit.h>

#include <cstdio>
#include <string>
#include <vector>

#include "VorkVcam.h"
#include "vork/comptr.h"

namespace {

// mingw-w64's qedit.h declares the sample grabber's interfaces but not the classes.
const CLSID kSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

int g_failures = 0;

// CHECK counts a failure and goes on; REQUIRE also leaves the function.
#define CHECK(condition) (void)((condition) || Failed(__LINE__, #condition))
#define REQUIRE(condition) \
    if (!(condition) && Failed(__LINE__, #condition)) return

bool Failed(int line, const char* condition) {
    std::printf("FAILED at line %d: %s\n", line, condition);
    ++g_failures;
    return true;
}

template <class T>
CComPtr<T> Created(const CLSID& clsid, REFIID iid) {
    CComPtr<T> object;
    CHECK(SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object))));
    return object;
}

// Another interface of an object; none from none.
template <class T>
CComPtr<T> Queried(IUnknown* object, REFIID iid) {
    CComPtr<T> other;
    if (object) object->QueryInterface(iid, reinterpret_cast<void**>(&other));
    return other;
}

void FreeType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
}

VIDEOINFOHEADER* Vih(AM_MEDIA_TYPE* type) { return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat); }

// The filter's first pin of a direction; a camera's is its output.
CComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted = PINDIR_OUTPUT) {
    CComPtr<IEnumPins> pins;
    CComPtr<IPin> pin;
    if (filter) filter->EnumPins(&pins);
    while (pins && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (pin->QueryDirection(&direction) == S_OK && direction == wanted) return pin;
    }
    return nullptr;
}

void ChecksThePinAndItsCategory(IBaseFilter* camera) {
    CComPtr<IEnumPins> pins;
    CComPtr<IPin> first, another;
    CHECK(camera->EnumPins(&pins) == S_OK && pins->Next(1, &first, nullptr) == S_OK && pins->Next(1, &another, nullptr) == S_FALSE);
    CComPtr<IPin> pin = PinOf(camera);  // the one pin is an output
    REQUIRE(pin);
    LPWSTR id = nullptr;
    CHECK(pin->QueryId(&id) == S_OK && id && std::wstring(id) == L"Capture");
    CoTaskMemFree(id);
    CComPtr<IKsPropertySet> properties = Queried<IKsPropertySet>(pin, IID_IKsPropertySet);
    REQUIRE(properties);
    GUID category = GUID_NULL;
    DWORD size = 0;
    CHECK(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &size) == S_OK && size == sizeof(GUID));
    CHECK(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(GUID), &size) == S_OK &&
          IsEqualGUID(category, PIN_CATEGORY_CAPTURE));
    CHECK(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 2, &size) == E_UNEXPECTED);
    CHECK(properties->Get(AMPROPSETID_Pin, 7, nullptr, 0, &category, sizeof(GUID), &size) == E_PROP_ID_UNSUPPORTED);
}

void ChecksStreamConfiguration(IBaseFilter* camera) {
    CComPtr<IPin> pin = PinOf(camera);
    CComPtr<IAMStreamConfig> config = Queried<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    REQUIRE(config);
    int count = 0, size = 0;
    CHECK(config->GetNumberOfCapabilities(&count, &size) == S_OK && count == 4 && size == sizeof(VIDEO_STREAM_CONFIG_CAPS));
    VIDEO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* type = nullptr;
    CHECK(config->GetStreamCaps(count, &type, reinterpret_cast<BYTE*>(&caps)) == S_FALSE &&
          config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)) == S_FALSE);
    // The fourth format is 320x240 RGB32: asked for, it is the only type offered.
    REQUIRE(config->GetStreamCaps(3, &type, reinterpret_cast<BYTE*>(&caps)) == S_OK && type);
    VIDEOINFOHEADER* vih = Vih(type);
    CHECK(IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB32) && vih->bmiHeader.biWidth == 320);
    CHECK(caps.MinFrameInterval == 333333 && caps.MaxOutputSize.cx == 320);
    const auto sized = [&](LONG width, LONG height, REFERENCE_TIME interval) {
        vih->bmiHeader.biWidth = width;
        vih->bmiHeader.biHeight = height;
        vih->AvgTimePerFrame = interval;
        return type;
    };
    CHECK(config->SetFormat(sized(322, 240, 333333)) == VFW_E_INVALIDMEDIATYPE);
    CHECK(config->SetFormat(sized(320, 240, 100000)) == VFW_E_INVALIDMEDIATYPE);  // faster than its 30 frames per second
    // Chosen with top-down rows, the format is still the one delivered, either way up.
    CHECK(config->SetFormat(sized(320, -240, 666666)) == S_OK && pin->QueryAccept(type) == S_OK);
    CHECK(pin->QueryAccept(sized(320, 240, 666666)) == S_OK);
    CHECK(pin->QueryAccept(sized(640, 480, 666666)) == S_FALSE);  // another format of the camera
    CHECK(config->SetFormat(sized(320, 240, 666666)) == S_OK);
    FreeType(type);
    REQUIRE(config->GetFormat(&type) == S_OK && type);
    CHECK(Vih(type)->bmiHeader.biWidth == 320 && Vih(type)->AvgTimePerFrame == 666666 && type->lSampleSize == 320 * 240 * 4);
    FreeType(type);
    CComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE* offered[4] = {};
    ULONG fetched = 0;
    CHECK(pin->EnumMediaTypes(&types) == S_OK && types->Next(4, offered, &fetched) == S_FALSE && fetched == 1);
    for (ULONG i = 0; i < fetched; ++i) FreeType(offered[i]);
}

void ChecksControls(IBaseFilter* camera) {
    CComPtr<IAMVideoProcAmp> procAmp = Queried<IAMVideoProcAmp>(camera, IID_IAMVideoProcAmp);
    CComPtr<IAMCameraControl> control = Queried<IAMCameraControl>(camera, IID_IAMCameraControl);
    REQUIRE(procAmp && control);
    long min = 0, max = 0, step = 0, def = 0, caps = 0;
    CHECK(procAmp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &caps) == S_OK && min == 0 && max == 255 &&
          step == 1 && def == 128);
    CHECK(procAmp->Set(VideoProcAmp_Brightness, 256, VideoProcAmp_Flags_Manual) == E_INVALIDARG);
    CHECK(control->GetRange(CameraControl_Focus, &min, &max, &step, &def, &caps) == S_OK && step == 5);
    CHECK(control->Set(CameraControl_Focus, 12, CameraControl_Flags_Manual) == E_INVALIDARG);  // off the step
    // The same object: each interface leads back to the filter.
    CHECK(Queried<IBaseFilter>(control, IID_IBaseFilter) == camera);
}

// The cameras of a device path in the video input category, the last one's
// filter bound anew.
int Enumerated(const std::wstring& path, IBaseFilter** bound = nullptr) {
    CComPtr<ICreateDevEnum> devices = Created<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    CComPtr<IEnumMoniker> monikers;
    if (!devices || devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK) return 0;
    CComPtr<IMoniker> moniker;
    int cameras = 0;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        CComPtr<IPropertyBag> bag;
        CHECK(SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))));
        VARIANT v;
        VariantInit(&v);
        const bool match = bag && SUCCEEDED(bag->Read(L"DevicePath", &v, nullptr)) && v.vt == VT_BSTR && path == v.bstrVal;
        VariantClear(&v);
        if (!match) continue;
        ++cameras;
        if (bound && *bound) (*bound)->Release();
        if (bound) CHECK(SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(bound))));
    }
    return cameras;
}

// Holds every sample it is given, as a slow consumer would, and says when it
// holds as many as the allocator has: then the allocator has none to give.
class HoldingCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB);
        *out = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
        if (held_.size() < 64) held_.push_back(sample);
        if (held_.size() >= buffers_) SetEvent(enough_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return S_OK; }

    size_t buffers_ = 64;
    HANDLE enough_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<CComPtr<IMediaSample>> held_;
};

DWORD WINAPI StopFilter(void* filter) {
    static_cast<IBaseFilter*>(filter)->Stop();
    return 0;
}

// With the downstream filter holding every buffer, the push thread waits in
// GetBuffer; the camera's stop decommits the allocator, which wakes it, before
// joining it. The camera is stopped first and alone: a graph stops downstream
// filters first, and their input pins decommit the allocator themselves.
void StopsWhileEveryBufferIsHeld(IBaseFilter* camera) {
    CComPtr<IGraphBuilder> graph = Created<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    CComPtr<IBaseFilter> grabberFilter = Created<IBaseFilter>(kSampleGrabber, IID_IBaseFilter);
    CComPtr<IBaseFilter> renderer = Created<IBaseFilter>(kNullRenderer, IID_IBaseFilter);
    if (!graph || !grabberFilter || !renderer) return;
    CComPtr<ISampleGrabber> grabber = Queried<ISampleGrabber>(grabberFilter, IID_ISampleGrabber);
    HoldingCallback callback;
    grabber->SetCallback(&callback, 0);
    graph->AddFilter(camera, L"camera");
    graph->AddFilter(grabberFilter, L"grabber");
    graph->AddFilter(renderer, L"renderer");
    CHECK(SUCCEEDED(graph->Connect(PinOf(camera), PinOf(grabberFilter, PINDIR_INPUT))));
    CHECK(SUCCEEDED(graph->Connect(PinOf(grabberFilter), PinOf(renderer, PINDIR_INPUT))));
    CComPtr<IMemInputPin> input = Queried<IMemInputPin>(PinOf(grabberFilter, PINDIR_INPUT), IID_IMemInputPin);
    CComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES properties{};
    CHECK(input && SUCCEEDED(input->GetAllocator(&allocator)) && SUCCEEDED(allocator->GetProperties(&properties)));
    CHECK(properties.cBuffers >= 1 && properties.cBuffers <= 64);
    callback.buffers_ = static_cast<size_t>(properties.cBuffers);
    CComPtr<IMediaControl> control = Queried<IMediaControl>(graph, IID_IMediaControl);
    CHECK(SUCCEEDED(control->Run()));
    CHECK(WaitForSingleObject(callback.enough_, 10000) == WAIT_OBJECT_0);
    HANDLE stopping = CreateThread(nullptr, 0, &StopFilter, camera, 0, nullptr);
    if (WaitForSingleObject(stopping, 10000) != WAIT_OBJECT_0) {
        std::printf("FAILED: the stop hangs with every buffer held\n");
        std::fflush(stdout);
        ExitProcess(1);
    }
    CloseHandle(stopping);
    CHECK(SUCCEEDED(control->Stop()));
    CHECK(callback.held_.size() == callback.buffers_);
    callback.held_.clear();
    grabber->SetCallback(nullptr, 0);
    graph->RemoveFilter(camera);
    CloseHandle(callback.enough_);
}

// Each format twice, VIDEOINFOHEADER2 first; the rates a format keeps; a camera
// another program holds answers but does not run. (Which twin Wine's graph takes,
// and the rates refused between them, vorkgrab shows in camera_platforms_test.)
void ChecksRatesTwinsAndBusy() {
    CComPtr<IBaseFilter> camera;
    CHECK(Enumerated(L"rates-path", &camera) == 1);
    CComPtr<IPin> pin = PinOf(camera);
    CComPtr<IAMStreamConfig> config = Queried<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    CComPtr<IAMVideoControl> control = Queried<IAMVideoControl>(camera, IID_IAMVideoControl);
    REQUIRE(config && control);
    int count = 0, size = 0;
    CHECK(config->GetNumberOfCapabilities(&count, &size) == S_OK && count == 4);
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    CHECK(config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)) == S_OK);
    CHECK(type && IsEqualGUID(type->formattype, FORMAT_VideoInfo2) && IsEqualGUID(caps.guid, FORMAT_VideoInfo2));
    FreeType(type);
    LONG rates = 0;
    LONGLONG* intervals = nullptr;
    CHECK(control->GetFrameRateList(pin, 1, SIZE{320, 240}, &rates, &intervals) == S_OK && rates == 3);
    CHECK(intervals && intervals[0] == 333333 && intervals[1] == 666666 && intervals[2] == 2000000);
    CoTaskMemFree(intervals);
    CHECK(control->GetFrameRateList(pin, 1, SIZE{160, 120}, &rates, &intervals) == E_INVALIDARG);
    // A camera that does not report its rate says 0 in its caps.
    CHECK(config->GetStreamCaps(3, &type, reinterpret_cast<BYTE*>(&caps)) == S_OK && type && Vih(type)->AvgTimePerFrame == 0);
    FreeType(type);
    CHECK(camera->Run(0) == HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
    CHECK(camera->Stop() == S_OK);
}

// regsvr32 in a process of its own, as a test driver outside the program runs it.
void Regsvr32(const std::wstring& dll, const std::wstring& command) {
    std::wstring line = L"regsvr32.exe /s /n /i:\"" + command + L"\" \"" + dll + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    DWORD code = 1;
    CHECK(WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code) && code == 0);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// The graph's next EC_DEVICE_LOST is from the filter and says whether the camera
// is there; other events are passed over, their parameters freed as a program
// frees them. Wine's GetEvent can end a wait early with E_ABORT when the queue's
// event was left set, so it is asked again.
bool DeviceLost(IMediaEventEx* events, IUnknown* filter, LONG_PTR there) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000) {
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = -1;
        if (FAILED(events->GetEvent(&code, &param1, &param2, 1000))) continue;
        events->FreeEventParams(code, param1, param2);
        if (code == EC_DEVICE_LOST) return param1 == reinterpret_cast<LONG_PTR>(filter) && param2 == there;
    }
    return false;
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Unplugged, the camera leaves the category and its filter stays dead; its
// graph hears EC_DEVICE_LOST with the filter and 0, then with 1 once the camera
// is back under its device path, where only a filter bound anew runs. The event
// carries the filter without a reference of its own.
void UnplugsAndReturns(const std::wstring& path, const std::wstring& dll, bool told) {
    CComPtr<IBaseFilter> camera;
    CHECK(Enumerated(path, &camera) == 1);
    CComPtr<IGraphBuilder> graph = Created<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    CComPtr<IBaseFilter> renderer = Created<IBaseFilter>(kNullRenderer, IID_IBaseFilter);
    if (!camera || !graph || !renderer) return;
    graph->AddFilter(camera, L"camera");
    graph->AddFilter(renderer, L"renderer");
    CHECK(SUCCEEDED(graph->Connect(PinOf(camera), PinOf(renderer, PINDIR_INPUT))));
    CComPtr<IMediaControl> control = Queried<IMediaControl>(graph, IID_IMediaControl);
    CComPtr<IMediaEventEx> events = Queried<IMediaEventEx>(graph, IID_IMediaEventEx);
    CComPtr<IUnknown> identity = Queried<IUnknown>(camera, IID_IUnknown);
    const ULONG references = References(camera);
    CHECK(SUCCEEDED(control->Run()));
    if (told) Regsvr32(dll, L"unplug:" + path);
    CHECK(DeviceLost(events, identity, 0));
    // A timed camera comes back by itself, so only a told one is surely away now.
    if (told) CHECK(Enumerated(path) == 0);
    CHECK(SUCCEEDED(control->Stop()));
    // Wine's graph keeps a renderer's S_FALSE over a source's failure, so the
    // filter is asked itself.
    CHECK(FAILED(camera->Pause()) && FAILED(camera->Run(0)));
    camera->Stop();
    if (told) Regsvr32(dll, L"plug:" + path);
    CHECK(DeviceLost(events, identity, 1));
    CComPtr<IBaseFilter> again;
    CHECK(Enumerated(path, &again) == 1 && again != camera);
    CHECK(again && again->Run(0) == S_OK && again->Stop() == S_OK);
    CHECK(References(camera) == references);
    graph->RemoveFilter(camera);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: vcam_contract.exe PATH\\vorkvcam.dll\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        if (CComPtr<IBaseFilter> camera = Created<IBaseFilter>(CLSID_VorkVirtualCamera, IID_IBaseFilter)) {
            ChecksThePinAndItsCategory(camera);
            ChecksStreamConfiguration(camera);
            ChecksControls(camera);
        }
        CComPtr<IBaseFilter> described;
        CHECK(Enumerated(L"contract-path", &described) == 1);
        if (described) StopsWhileEveryBufferIsHeld(described);
        ChecksRatesTwinsAndBusy();
        UnplugsAndReturns(L"timed-path", argv[1], false);
        UnplugsAndReturns(L"told-path", argv[1], true);
    }
    CoFreeUnusedLibraries();
    // Everything released: the DLL may go.
    HMODULE module = GetModuleHandleW(argv[1]);
    if (!module) module = LoadLibraryW(argv[1]);
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    CHECK(canUnload && canUnload() == S_OK);
    CoUninitialize();
    std::printf("%s\n", g_failures ? "vcam contract: FAILED" : "vcam contract: passed");
    return g_failures ? 1 : 0;
}
